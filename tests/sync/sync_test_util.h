#pragma once
// Notes databases for the merge tests: the program's schema, rows added as the program's commands
// add them, and readers that show a note or a category the way a user would see it.
#include "store/connection.h"
#include "sync/fingerprints.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

namespace yunshan::test {

// Fixed save time of the rows written here, so that two files built alike are alike.
inline const QString kSaved = QStringLiteral("2024-05-06 07:08:09");
// The local time handed to the merge.
inline const QDateTime kMergeTime(QDate(2025, 3, 4), QTime(5, 6));

class NotesFile {
  public:
    // Opens the file; a new file gets the program's schema (with its default major category).
    explicit NotesFile(const QString &path);
    Connection &db() { return db_; }
    const QString &path() const { return path_; }
    void close() { db_.close(); }

    qint64 major(const QString &caption, qint64 px = 100);
    qint64 minor(qint64 major_id, const QString &caption, qint64 px = 100);
    // A note as the program stores it after a save: title row, notes row and, when `rtf` is not
    // empty, an RTF body.
    qint64 note(qint64 minor_id, const QString &caption, const QString &tag = {}, const QString &body = {},
                const QByteArray &rtf = {});
    qint64 picture(qint64 note_id, const QByteArray &img);
    void setting(const QString &key, const QString &value);
    int run(const QString &sql, const SqlParams &params = {}) { return db_.execute(sql, params); }

    // The save of a note's tag line, body and RTF body at `put`.
    void save_body(qint64 note_id, const QString &tag, const QString &body, const QByteArray &rtf,
                   const QString &put = QStringLiteral("2025-01-01 00:00:00"));
    // The program's deletion of a note: title, notes and RTF rows (the pictures stay).
    void delete_note(qint64 note_id);

  private:
    QString path_;
    Connection db_;
};

// A note as a user meets it, with its pictures' bytes in id order.
struct NoteView {
    qint64 id = 0;
    QString caption;
    qint64 is_del = 0;
    qint64 px = 0, fast = 0, class_id = 0, section_id = 0;
    QString label, content, put;
    bool has_rtf = false;
    QByteArray rtf;
    QList<QByteArray> pictures;
    friend bool operator==(const NoteView &, const NoteView &) = default;
};
std::optional<NoteView> read_note(Connection &db, qint64 id);
// Ids of the notes whose caption is `caption`, in id order.
QList<qint64> notes_titled(Connection &db, const QString &caption);
// Id of the major (or minor) category with that caption; 0 when there is none.
qint64 category_id(Connection &db, bool major, const QString &caption);
// "ok" for a sound file.
QString integrity(Connection &db);
// Every row of every table as text (see support/db_check.h).
QString dump(const QString &path);

void copy_file(const QString &from, const QString &to);

} // namespace yunshan::test
