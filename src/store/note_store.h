#pragma once
// The main database and its live mirror in the backup folder. Every read goes to the main
// connection; every write runs on the main connection and then on the backup connection.
#include "platform/owner_lock.h"
#include "store/connection.h"

#include <QString>

#include <functional>

namespace yunshan {

class Dialogs;

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

// Shown when a write or a reconnect is attempted while the export holds the backup connection.
QString backup_lent_text();

class NoteStore {
public:
    explicit NoteStore(const QString &lock_name = QStringLiteral("yunshan_note"));
    ~NoteStore();
    NoteStore(const NoteStore &) = delete;
    NoteStore &operator=(const NoteStore &) = delete;

    // Closes whatever is open and opens anew: the file beside the program wins (status 20,
    // `zhu_db` and `bei_db` are cleared in memory); otherwise the main file in `zhu_db`
    // (created with the schema when new; a creation that fails closes and removes it again) and
    // the backup file in `bei_db` (copied from the main file when missing). No backup opens when
    // both name the same file ("主备数据库文件夹不能相同。"). An existing backup that no longer
    // mirrors the main file is renamed aside and copied afresh by the instance that owns the
    // data. `on_read_only` runs when another instance holds the owner mark.
    // Engine errors (a main file that cannot be opened) are thrown as DbError.
    int Connect_to_db(QString &zhu_db, QString &bei_db, Dialogs &dialogs,
                      const std::function<void()> &on_read_only = {});

    // Runs before the main connection closes (a reconnect or close_all), while it is still
    // open; an empty function removes it.
    void set_before_main_closes(std::function<void()> fn) { before_main_closes_ = std::move(fn); }

    int status() const { return status_; }
    bool main_connected() const { return main_.is_open(); }
    bool backup_connected() const { return backup_.is_open(); }
    bool owns_mark() const { return owner_.held(); }
    bool read_only() const { return read_only_; }

    Connection &main() { return main_; }
    Connection &backup() { return backup_; }

    // Closes both connections (main first) and releases the owner mark.
    void close_all();
    // Closes the backup connection after a failed write; the main database goes on alone.
    void drop_backup();

    // First column of the first row on the main database; 0 / empty when closed, no row or null.
    qint64 get_first_integer(const QString &sql);
    QString get_first_string(const QString &sql);
    // Runs the statement on the main database, then on the backup when open; returns the rows
    // the main database changed. Does nothing and returns 0 when the main database is closed.
    int set_first_string(const QString &sql);
    // The same for a statement with bound text, blob or integer parameters.
    int mirrored_write(const QString &sql, const SqlParams &params);
    // As mirrored_write, but the backup database first (the body of a saved note).
    int mirrored_write_backup_first(const QString &sql, const SqlParams &params);

    // The export borrows the backup connection for its target file: `lend_backup` opens `path`
    // on it (throws DbError, the earlier state kept), `return_backup` puts back exactly the state
    // before: the backup file reopened when it was open (never created anew), closed when it was
    // not. While lent, mirrored writes and Connect_to_db refuse with kBackupLentText, so nothing
    // meant for the backup database lands in the target. `return_backup` gives the engine's
    // message when the backup file could not be reopened (it then stays closed), else empty.
    void lend_backup(const QString &path);
    QString return_backup();
    bool backup_lent() const { return lent_; }

private:
    // Whether the open backup agrees with the open main database on tables, ids, row counts
    // and settings.
    bool backup_mirrors_main();
    void refuse_while_lent() const;

    Connection main_;
    Connection backup_;
    bool lent_ = false;
    QString lent_from_; // the backup file open before the loan; empty: none
    OwnerLock owner_;
    int status_ = kNotConnected;
    bool read_only_ = false;
    std::function<void()> before_main_closes_;
    void main_closing();
};

} // namespace yunshan
