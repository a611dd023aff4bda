#pragma once
// The backup command: the upload to the WebDAV share when configured, then the dated copy of the
// main database in the backup folder; and the exit step with its retention of dated copies.
#include "backup/background_work.h"
#include "backup/transfer_progress.h"
#include "backup/webdav.h"
#include "settings/run_settings.h"

#include <QDate>
#include <QDateTime>
#include <QString>

#include <functional>

namespace yunshan {

class Dialogs;
class NoteStore;

// prefix + "_" + the date `days_back` days before `today` as "yyyyMMdd" + ".sl3".
QString backup_file_name(const QString &prefix, qint64 days_back, const QDate &today = QDate::currentDate());

// The main database file: in the main data folder, or beside the program in that mode.
QString main_database_file(const NoteStore &store, const RunSettings &run);

// Writes a consistent copy of the database file `source` to `target` through SQLite's backup on
// a connection of its own (the store's connections are not used; a write meanwhile only makes
// the copy start over). The copy goes to a temporary name first and replaces `target` only once
// complete. Throws on failure; `target` is then unchanged. Runs on any thread.
void make_dated_copy(const QString &source, const QString &target);

// What the command needs from the window: the progress panel, the ESC key and the way to the
// window's thread. The command may run on a worker thread: every function here may be called
// from it, and whatever touches the store or shows a box goes through `on_main`.
struct BackupPanel {
    std::function<void(const QString &)> show; // show the panel with this line, repaint, events
    std::function<void(const QString &)> line; // set the line, repaint, events
    std::function<void()> hide;
    std::function<void(ProgressMode mode)> start; // reset the counters, set the mode, start the timer
    std::function<bool()> esc_down;
    HttpProgress transfer; // transfer events
    OnMainThread on_main;  // empty: the command runs on the window's thread
    // Runs on the window's thread before another file takes the main database's place: the open
    // note is settled. False stops the sync before anything is replaced.
    std::function<bool()> before_replace;
};

struct BackupContext {
    NoteStore &store;
    RunSettings &run;
    WebDavSession &session;
    Dialogs &dialogs;
    BackupPanel panel;
    QDate today = QDate::currentDate();
    // The local time written into the captions of conflict copies.
    std::function<QDateTime()> now = [] { return QDateTime::currentDateTime(); };
};

// What the backup command did that the window must follow.
struct BackupResult {
    bool replaced = false; // the share's changes came in first: the main database is another file
};

// Who runs the backup command: the user (a backup command) or the exit step.
enum class BackupRun { Command, AtExit };
// What the backup command does: the upload and the dated local copy, or only the upload
// ("立即备份到网盘…").
enum class BackupScope { UploadAndCopy, UploadOnly };

// The backup command, run by `run_by`, doing `scope`. The upload never overwrites a package another machine uploaded
// since this one's last sync: that package is downloaded and merged first (cloud_sync.h). `global_change` is cleared
// only when everything that ran succeeded. A transport or packaging failure of the upload (or ESC while a request runs)
// is reported; run by the user it ends the command, at exit the local copy is still made.
BackupResult backup_command(BackupContext &c, BackupRun run_by, BackupScope scope);

// The exit step: when `auto` is "1" or the exit upload is on, sets `exit_mark` to AtExit, runs the backup
// command when the run wrote to the database (and the exit is not "退出(不备份)"), then deletes the
// dated copy `tian` + 1 days old.
BackupResult exit_backup_step(BackupContext &c, BackupRun &exit_mark);

// Deletes the dated copy `tian` + 1 days old in the backup folder. "0", and any value that is
// not a whole number, keep every copy.
void remove_expired_copy(const RunSettings &run, const QDate &today);

} // namespace yunshan
