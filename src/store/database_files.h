#pragma once
// The note database files as files: how sound one is, its generation stamp and change counter,
// private copies, and the old backups kept aside.
#include <QString>
#include <QStringList>

namespace yunshan {

class Connection;

// The key of set_table holding the generation stamp: a random value written in every write
// transaction, the same in the main and the backup database, so two files that went apart show
// it at the next start whatever was written.
inline constexpr const char *kGenerationKey = "yz_generation";

// The tables without which a file is no note database, and those the store creates when a file
// lacks them (an exported database has no set_table).
const QStringList &required_note_tables();
const QStringList &completed_note_tables();

enum class FileState {
    Missing,         // no such file
    Empty,           // 0 bytes
    Unreadable,      // not a database, damaged header or schema, or it cannot be opened
    NotNoteDatabase, // a database without the note tables
    Sound,           // opens and holds the note tables
};

// What a quick look at a database file found: its header, its schema and one settings row; no
// table is read whole, so it costs the same for any size of file. The file is opened for writing
// when it may be, so that a transaction a crash interrupted is rolled back first.
struct FileProbe {
    FileState state = FileState::Missing;
    int code = 0;               // engine code or StoreProblem of an Unreadable/NotNoteDatabase file
    QString engine_text;        // the engine's text for it
    QString generation;         // the generation stamp; empty when the file has none
    QString last_time;          // the exit stamp (set_table key "last_time"); empty when the file has none
    qint64 change_counter = -1; // the engine's file change counter in the header
    QStringList missing;        // completed_note_tables() the file lacks

    bool sound() const { return state == FileState::Sound; }
    // The problem in words, for the messages ("不存在", "是空文件", "已损坏" …).
    QString cause() const;
};

FileProbe probe_database(const QString &path);

// The generation stamp of a database file opened only to read it; empty when it has none.
// Throws DbError when the file cannot be read.
QString read_generation(const QString &path);

// The number of notes (title rows) in a sound database file, -1 when it cannot be read. Reads
// the whole title table: only for a message that names it.
qint64 count_notes(const QString &path);

// The engine's full check of every page (PRAGMA quick_check) on top of the probe; reads the
// whole file, so only where a decision depends on it. Empty when the file is sound, else the
// problem in words.
QString deep_check_problem(const QString &path);

// The file change counter of a database file's header, -1 when it cannot be read.
qint64 file_change_counter(const QString &path);

// Copies `from` to `to` completely before `to` is replaced: into a private (0600) file beside
// it, flushed to disk, then renamed over it. Throws DbError (with `to` and the cause) on failure;
// `to` is then as it was.
void copy_database_file(const QString &from, const QString &to);

// Renames `file` to notedb_old_<date>_<time>.sl3 in its folder (private, 0600) and keeps only the
// three newest of these there. Returns the new name (without folder); empty when the rename
// failed.
QString keep_aside(const QString &file);
// The files kept aside in `folder`, newest first.
QStringList kept_aside_files(const QString &folder);

// Removes what an interrupted copy left in `folder`: the temporary files of dated backups and of
// copy_database_file.
void remove_interrupted_copies(const QString &folder);

// Removes the super-journals ("<file>-mj…") an interrupted write over two files left beside
// `database_file`. Only once both files have been opened: their journals are resolved then.
void remove_orphan_super_journals(const QString &database_file);

// Whether the file and its folder may be written (the engine writes its journal beside it).
bool database_writable(const QString &path);

} // namespace yunshan
