#pragma once
// The rows of one major category copied into another database file: the schema pieces the
// target lacks, a new `Class` row, its minor categories, its notes with their bodies, title rows
// and pictures, under fresh ids tied together by id maps. One transaction on a connection of
// its own: on an error the target keeps what it held before.
#include <QHash>
#include <QList>
#include <QString>

#include <functional>

namespace yunshan {

class NoteStore;

// An id in the main database and the id the same row received in the target.
struct ToldtoNew {
    qint32 old1 = 0;
    qint32 new1 = 0;
};

// The records in the order the rows were copied. `lookup` gives the new id of the first record
// with that old id, -1 when there is none (answered from an index, not by a linear search).
class IdMap {
  public:
    void append(qint32 old1, qint32 new1);
    qint32 lookup(qint32 old1) const;
    const QList<ToldtoNew> &records() const { return records_; }

  private:
    QList<ToldtoNew> records_;
    QHash<qint32, qint32> first_;
};

// What the copy wrote into the target.
struct ExportCounts {
    qint64 major_id = 0; // the new major category's id in the target
    int sections = 0;
    int notes = 0;
    int titles = 0;
    int rtf_bodies = 0;
    int pictures = 0;
};

// The steps of the copy, reported as they begin (`count`: rows copied so far, every 100).
enum class ExportStep {
    Database, // the target is opened and its schema completed
    Sections,
    Notes,
    NotesCopied,
    Titles,
    TitlesCopied,
};
using ExportProgress = std::function<void(ExportStep step, int count)>;

// The id of the major category captioned `caption` in the main database; 0 when there is none
// (or the database is closed).
qint64 class_id(NoteStore &store, const QString &caption);

// Copies major category `old_major` (captioned `caption`) of the database file `source` into the
// database file `target`, created when missing (and removed again when the copy fails). Both
// files are opened on connections of the copy's own (the source read-only, in one read
// transaction, so the rows come from one state of the file), so it may run on any thread while
// the store's connections stay with theirs. Throws DbError.
ExportCounts copy_major_category(const QString &source, qint64 old_major, const QString &caption, const QString &target,
                                 const ExportProgress &progress = {});

} // namespace yunshan
