#pragma once
// A log of the writes to `title` and `notes` made through one connection, kept by temporary
// triggers of that connection: nothing is written into the database file, and every write of this
// program (whatever command made it) is seen. The search index reads it to catch up.
#include <QList>
#include <QString>

namespace yunshan {

class Connection;

// The file's size and modification time, as seen by stat(), the change counter the engine
// keeps in the file's header (bumped by every commit outside write-ahead logging) and the size and
// time of a write-ahead log beside it.
struct FileStamp {
    qint64 size = -1;
    qint64 mtime_ns = -1;
    qint64 counter = -1;
    qint64 wal_size = -1;
    qint64 wal_mtime_ns = -1;

    QString text() const;
    friend bool operator==(const FileStamp &, const FileStamp &) = default;
};
FileStamp file_stamp(const QString &path);

// Installs the log on a freshly opened main connection whose file has `title` and `notes`;
// records the file's stamp at this moment and a token naming this connection. False (nothing
// installed) when the tables are missing or the engine refuses.
bool install_note_change_log(Connection &db);

struct NoteChangeLogInfo {
    QString token;  // empty: no log on this connection
    QString opened; // stamp text of the file when the log started
};
NoteChangeLogInfo note_change_log_info(Connection &db);

// The ids written since the last take: titles whose searched text may have changed (inserted,
// deleted, caption, isDel or noteId updated), notes rows whose tag line or body may have
// changed, titles whose `px` changed. Taking clears the log.
struct NoteChanges {
    QList<qint64> titles;
    QList<qint64> notes;
    QList<qint64> px;
    bool empty() const { return titles.isEmpty() && notes.isEmpty() && px.isEmpty(); }
};
NoteChanges take_note_changes(Connection &db);
void clear_note_changes(Connection &db);

// SQLite's data version of the connection: it changes when another connection committed.
qint64 data_version(Connection &db);

} // namespace yunshan
