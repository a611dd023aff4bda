#pragma once
// Fingerprints of a notes database: for every row of every table a stable key and a 64-bit hash
// of its content, so that a later look at the same file (or at a copy of it on another machine)
// can tell which rows changed without keeping the rows themselves. The merge (sync/merge.h)
// compares three sets of them: what the share held at the last sync, the local database and
// the share's database now.
//
// Keys: categories and pictures by id, notes by note id (`notes.id` = `title.noteId` =
// `rtffile.noteId`), settings by `set_table.key1`, spare rows by `beiyong_table.key1`. A note's
// rows are hashed in parts, so the merge can tell which part changed: the title row's content
// (caption, isDel, the reserved columns and isRtf), its order `px`, favourite `fast` and place
// (classId, sectionId) as plain values, the notes row apart from its save time, the save time
// `put`, and the RTF body. Each picture is its own row (its note and a hash of its bytes).
//
// The hashes depend only on the stored bytes (sync/content_hash.h), never on the machine or the
// program run, so fingerprints saved by one version are valid for the next. Encrypted notes are
// hashed as stored. The file written by `save_fingerprints` holds hashes, ids, sort keys and
// setting names, no text of a note; it is created with mode 0600.
#include <QMap>
#include <QString>

#include <optional>
#include <stdexcept>
#include <vector>

namespace yunshan {
class Connection;
}

namespace yunshan::sync {

// The error of every sync function: a Chinese message naming the file and the cause, with the
// database engine's own text after it, ready to be shown.
class SyncError : public std::runtime_error {
  public:
    explicit SyncError(const QString &message) : std::runtime_error(message.toStdString()) {}
    QString message() const { return QString::fromUtf8(what()); }
};

// A row of `Class` (major category) or `Section` (minor category).
struct CategoryPrint {
    qint64 id = 0;
    quint64 caption = 0; // hash of the caption's stored bytes
    qint64 px = 0;
    qint64 class_id = 0; // Section.classId; 0 for a major category
    friend bool operator==(const CategoryPrint &, const CategoryPrint &) = default;
};

// The rows of one note. A part that is missing (a note without RTF body has no `rtffile` row)
// has its flag off and hash 0. When a note has several title rows (not written by the program,
// but possible in a damaged file) the content hash covers all of them in row order and the
// plain values come from the first.
struct NotePrint {
    qint64 id = 0;
    bool has_title = false;
    bool has_notes = false;
    bool has_rtf = false;
    quint64 title = 0; // caption, isDel, beiyong1..5, isRtf
    qint64 px = 0;
    qint64 fast = 0;
    qint64 class_id = 0;
    qint64 section_id = 0;
    quint64 notes = 0; // isDel, beiyong1, beiyong2, label, cuanjian, content
    quint64 put = 0;   // the save time
    quint64 rtf = 0;
    friend bool operator==(const NotePrint &, const NotePrint &) = default;
};

struct PicturePrint {
    qint64 id = 0;
    qint64 note_id = 0; // articleId
    quint64 img = 0;
    friend bool operator==(const PicturePrint &, const PicturePrint &) = default;
};

// All `set_table` rows of one key (the table has no uniqueness constraint), values in row order.
// Rows whose key is null are not fingerprinted.
struct SettingPrint {
    QString key;
    quint64 value = 0;
    friend bool operator==(const SettingPrint &, const SettingPrint &) = default;
};

// A row of the reserved `beiyong_table`.
struct SparePrint {
    qint64 key = 0;
    quint64 value = 0;
    friend bool operator==(const SparePrint &, const SparePrint &) = default;
};

struct Fingerprints {
    // Each list sorted by its key.
    std::vector<CategoryPrint> majors;
    std::vector<CategoryPrint> minors;
    std::vector<NotePrint> notes;
    std::vector<PicturePrint> pictures;
    std::vector<SettingPrint> settings;
    std::vector<SparePrint> spare;
    // `sqlite_sequence`: the last id each AUTOINCREMENT table handed out.
    QMap<QString, qint64> sequences;
    // The caller's own values (for example the share file's size, time and entity tag), saved
    // and loaded with the fingerprints; computing and merging leave it empty.
    QMap<QString, QString> meta;

    const CategoryPrint *major(qint64 id) const;
    const CategoryPrint *minor(qint64 id) const;
    const NotePrint *note(qint64 id) const;
    const PicturePrint *picture(qint64 id) const;
    const SettingPrint *setting(const QString &key) const;
    const SparePrint *spare_row(qint64 key) const;
    qint64 sequence(const QString &table) const { return sequences.value(table, 0); }

    // Same rows and sequences; `meta` is not compared.
    bool same_content(const Fingerprints &other) const;
    friend bool operator==(const Fingerprints &, const Fingerprints &) = default;
};

// Reads every row of the database file (which is not changed; throws SyncError when it cannot
// be read or is not a notes database of the current table layout).
Fingerprints compute_fingerprints(const QString &database);
// The same on an open connection; `name` names the file in messages.
Fingerprints compute_fingerprints(Connection &db, const QString &name);

// Writes the fingerprints with their `meta` to `path`: a new SQLite file of mode 0600 is written
// beside it and renamed over it, so an interruption leaves the earlier file whole. Throws
// SyncError.
void save_fingerprints(const Fingerprints &prints, const QString &path);

// Reads a file written by `save_fingerprints`. Nothing when the file is missing, damaged or of
// another format; `why` (when given) then receives the reason (empty for a missing file). The
// merge treats a missing base as "no common state known" (sync/merge.h).
std::optional<Fingerprints> load_fingerprints(const QString &path, QString *why = nullptr);

} // namespace yunshan::sync
