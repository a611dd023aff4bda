#pragma once
// The rows of table `picture` (id, articleId, img): the pictures attached to notes. Writes go to
// both databases in one transaction.
#include <QByteArray>
#include <QList>

namespace yunshan {

class NoteStore;

struct StoredPicture {
    qint64 id = -1;
    QByteArray bytes;
};

// Stores `bytes` as a new picture of note `note_id`; returns the id the row received (the same
// in both databases). Throws DbError.
qint64 store_picture(NoteStore &store, int note_id, const QByteArray &bytes);

// Deletes picture `id`. Throws DbError.
void delete_picture_row(NoteStore &store, qint64 id);

// The stored pictures of a note, in the order the database returns them; none when the main
// database is closed.
QList<StoredPicture> note_pictures(NoteStore &store, int note_id);

// The stored bytes of picture `id`; empty when there is no such row. Throws DbError (also when
// the main database is closed).
QByteArray picture_bytes(NoteStore &store, qint64 id);

} // namespace yunshan
