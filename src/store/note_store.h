#pragma once
// The main database and its live mirror in the backup folder. Every read goes to the main
// database; every write goes through write(): one transaction over both files (the backup file
// is attached to the main connection), so a command changes both or neither, whatever happens
// in between. A generation stamp written in the same transaction lets the next start see any
// difference between the two files; Connect_to_db repairs it towards the sounder file.
#include "platform/owner_lock.h"
#include "store/connection.h"

#include <QString>

#include <functional>
#include <optional>
#include <type_traits>

namespace yunshan {

class Dialogs;
class NoteStore;

// Connection status of the last Connect_to_db.
enum ConnectionStatus : int {
    kNotConnected = 0,
    kMainOnly = 1,
    kBackupOnly = 2,
    kMainAndBackup = 3,
    kProgramFolder = 20,
};

// Text of status bar panel 0 for a connection status.
QString connection_status_text(int status);

// The message shown when a backup that no longer mirrored the main file was kept aside as
// `kept_as` (a file name in the backup folder) and copied afresh.
QString stale_backup_text(const QString &kept_as);

// "notedb.sl3" inside `folder`.
QString database_file_in(const QString &folder);

// The schema name of the backup database on the main connection.
inline constexpr const char *kBackupSchema = "bei";

// What a write does besides its rows: a change of the notes sets the change flag (the backup at
// exit and the exit stamp follow it); bookkeeping (the autosave key, the exit stamp) does not.
enum class WriteKind { Data, Bookkeeping };

// The writes of one command, inside its transaction. Statements name their tables as
// "main.<table>"; while the backup database is attached each runs again with "bei.<table>", so
// both files take the same change in the same transaction.
class Writer {
  public:
    // Runs `sql` with its values bound; returns the rows it changed in the main database.
    int run(const QString &sql, const SqlParams &params = {});
    // Runs an insert into main.<table> and gives the backup database the very same row (same id,
    // same values, defaults and times included). Returns the new row's id.
    qint64 insert(const QString &table, const QString &sql, const SqlParams &params = {});
    // Reads inside the transaction (main database).
    Connection &db() { return db_; }
    // Whether the backup database takes these writes.
    bool mirrored() const { return mirrored_; }
    // The command found nothing to do after all: what it wrote is rolled back and the write
    // counts as none (no stamp, no change flag).
    void cancel() { cancelled_ = true; }

  private:
    friend class NoteStore;
    Writer(Connection &db, bool mirrored) : db_(db), mirrored_(mirrored) {}
    Connection &db_;
    bool mirrored_;
    bool cancelled_ = false;
    bool in_main_statement_ = false; // the failure at hand came from the main database
};

class NoteStore {
  public:
    explicit NoteStore(const QString &lock_name = QStringLiteral("yunshan_note"));
    ~NoteStore();
    NoteStore(const NoteStore &) = delete;
    NoteStore &operator=(const NoteStore &) = delete;

    // Closes whatever is open and opens anew: the file beside the program wins (status 20,
    // `zhu_db` and `bei_db` are cleared in memory); otherwise the main file in `zhu_db` and its
    // mirror in `bei_db`. On the way the two files are compared and repaired:
    // - no main file and no backup: a new main file with the schema, copied to the backup folder;
    // - a main file that is missing, empty or damaged while the backup is sound: the user is asked
    //   whether to restore the main file from the backup (No: nothing is opened or changed);
    // - both unusable: said so, nothing touched, nothing opened;
    // - a backup that is missing, damaged or different from a sound main file: kept aside as
    //   notedb_old_* and copied afresh from the main file.
    // Tables a sound file lacks (an exported database has no set_table) are created in both.
    // `on_read_only` runs when another instance holds the owner mark; a main file that cannot be
    // written makes the instance read-only as well (read_only_reason() says why). An engine error
    // opening the main file is thrown as DbError; problem() then holds the cause for the status
    // bar.
    int Connect_to_db(QString &zhu_db, QString &bei_db, Dialogs &dialogs,
                      const std::function<void()> &on_read_only = {});

    // Runs before the main connection closes (a reconnect or close_all), while it is still
    // open; an empty function removes it.
    void set_before_main_closes(std::function<void()> fn) { before_main_closes_ = std::move(fn); }
    // Runs after with_main_closed or replace_main_file opened the main connection again (not after
    // Connect_to_db, whose caller knows); an empty function removes it.
    void set_after_main_reopens(std::function<void()> fn) { after_main_reopens_ = std::move(fn); }
    // Called once when a write to the backup database failed and the backup was disconnected,
    // with the message to show (the main database took the write).
    void set_backup_failure_handler(std::function<void(const QString &message)> fn)
    {
        on_backup_failure_ = std::move(fn);
    }

    int status() const { return status_; }
    bool main_connected() const { return main_.is_open(); }
    bool backup_connected() const { return backup_attached_; }
    bool owns_mark() const { return owner_.held(); }
    bool read_only() const { return read_only_; }
    // Why this instance may only read; empty when it may write.
    QString read_only_reason() const { return read_only_reason_; }
    // What went wrong at the last Connect_to_db, for the status bar; empty when nothing did.
    QString problem() const { return problem_; }

    // The main connection: reads, and the engine's own copy of the file.
    Connection &main() { return main_; }
    QString main_file() const { return main_.path(); }
    // The backup database file while it is attached, else empty.
    QString backup_file() const { return backup_attached_ ? backup_path_ : QString(); }

    // Closes both databases and releases the owner mark.
    void close_all();
    // Closes the main connection for a moment (the file is packed or copied meanwhile) and opens
    // it again with the backup attached as before. Throws DbError when the reopening fails.
    template <typename F> void with_main_closed(F &&fn);

    // After another file took the main file's place (a download): the backup file is kept aside
    // as notedb_old_* and copied afresh from the main file, then attached again. Returns the name
    // the old backup was kept as (empty without a backup). Throws DbError when the copy fails
    // (the instance then runs on the main database alone).
    QString renew_backup();

    // Another file takes the main file's place: with the main connection closed, `swap` moves the
    // files and returns whether the main file is now another one. When it is and a backup is
    // attached, the backup file is kept aside as notedb_old_* and replaced by `prepared_backup`
    // (a complete copy of the new main file in the backup folder, made beforehand) or, without
    // one, by a copy of the new main file; then the main connection opens again with the backup
    // attached and the generation stamp read from the new file. Nothing is written to the backup
    // before it mirrors the new file. Returns the name the old backup was kept as (empty without
    // a backup or when nothing was swapped). A failed copy throws DbError after the main file is
    // open again (the instance then runs on the main database alone), like a failed reopening.
    QString replace_main_file(const std::function<bool()> &swap, const QString &prepared_backup = QString());

    // One command's writes as one transaction on both databases; returns what `command` returns.
    // `command` may run twice: when the backup database fails, the transaction is rolled back,
    // the backup disconnected (the failure handler says so) and the command run again on the
    // main database alone. It must therefore write only through the Writer and compute what it
    // returns from the database. Main failures roll back and throw DbError; a read-only instance
    // and a closed main database throw DbError without writing.
    template <typename F> auto write(F &&command, WriteKind kind = WriteKind::Data);

    // Whether the notes were written since the start or since the last backup (`global_change`).
    bool changed() const { return changed_; }
    void set_changed(bool changed) { changed_ = changed; }
    // The generation stamp both files hold now.
    QString generation() const { return generation_; }

    // First column of the first row on the main database; 0 / empty when closed, no row or null.
    qint64 get_first_integer(const QString &sql, const SqlParams &params = {});
    QString get_first_string(const QString &sql, const SqlParams &params = {});

  private:
    void write_transaction(const std::function<void(Writer &)> &command, WriteKind kind);
    // False when the command cancelled itself.
    bool run_transaction(const std::function<void(Writer &)> &command, bool mirrored, const QString &generation);
    void attach_backup();
    void backup_failed(const DbError &cause);
    // Disconnects the backup after `cause`; says so unless `report` is false.
    void drop_backup(const DbError &cause, bool report = true);
    // Whether `schema` of the main connection holds the stamp `generation` (its write committed);
    // nullopt when it cannot be read.
    std::optional<bool> holds_generation(const QString &schema, const QString &generation);
    void refuse_write() const;
    // Creates the tables a sound file lacks, in both files.
    void complete_schema();
    void reopen_main(const QString &path);
    void main_closing();
    void main_reopened();
    // The generation stamp of the open main file.
    void read_generation();
    void close_connections();
    // Connect_to_db for the configured folders; `main_file`/`backup_file` empty when not set.
    void connect_folders(const QString &main_file, const QString &backup_file, Dialogs &dialogs,
                         const std::function<void()> &on_read_only);
    // Brings an existing backup in line with the sound main file; false when it is unusable.
    bool line_up_backup(const QString &main_file, const QString &backup_file, Dialogs &dialogs);

    Connection main_;
    QString backup_path_; // the backup file configured for the run
    bool backup_attached_ = false;
    OwnerLock owner_;
    int status_ = kNotConnected;
    bool read_only_ = false;
    QString read_only_reason_;
    QString problem_;
    bool changed_ = false;
    bool in_write_ = false;
    QString generation_;
    std::function<void()> before_main_closes_;
    std::function<void()> after_main_reopens_;
    std::function<void(const QString &)> on_backup_failure_;
};

template <typename F> auto NoteStore::write(F &&command, WriteKind kind)
{
    using Result = std::invoke_result_t<F &, Writer &>;
    if constexpr (std::is_void_v<Result>) {
        write_transaction([&command](Writer &w) { command(w); }, kind);
    } else {
        std::optional<Result> result;
        write_transaction([&command, &result](Writer &w) { result.emplace(command(w)); }, kind);
        return std::move(*result);
    }
}

template <typename F> void NoteStore::with_main_closed(F &&fn)
{
    const QString path = main_.path();
    if (path.isEmpty()) {
        fn();
        return;
    }
    main_closing();
    main_.close();
    backup_attached_ = false;
    try {
        fn();
    } catch (...) {
        reopen_main(path); // a failure here replaces the command's own
        main_reopened();
        throw;
    }
    reopen_main(path);
    main_reopened();
}

} // namespace yunshan
