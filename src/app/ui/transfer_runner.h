#pragma once
// The transfers of the main window: backups, WebDAV requests, the sync and the export run on a
// worker thread while the window keeps its events running, its input held and the progress
// panel (with its timer and the transfer counters) showing how far they are.
#include "backup/background_work.h"
#include "backup/http_client.h"
#include "backup/local_backup.h"
#include "backup/transfer_progress.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class QMainWindow;
class QTimer;
class QWidget;

namespace yunshan {

class Dialogs;
class NoteStore;
class ProgressPanel;
struct RunSettings;
struct WebDavAccount;
struct WebDavSession;

class TransferRunner : public QObject {
    Q_OBJECT

  public:
    // While a worker runs, `window` takes no input but `panel`'s: its menu bar, `tool_bar` and
    // the panes of its central widget are disabled. The workers reach `store`, `run` and
    // `dialogs` on this thread. Starts following the ESC key.
    TransferRunner(QMainWindow &window, QWidget *tool_bar, ProgressPanel &panel, Dialogs &dialogs, NoteStore &store,
                   RunSettings &run);
    ~TransferRunner() override;

    // Set by the window. Pauses the window's own writes (the autosave) while a worker runs and
    // returns the step that resumes them.
    std::function<std::function<void()>()> pause_writes;
    // Runs on this thread before another file takes the main database's place: the open note
    // is settled. False stops the sync before anything is replaced.
    std::function<bool()> before_replace;

    // A backup, transfer, export or update download is running (its events let other input in
    // meanwhile).
    bool running() const { return running_; }
    // The progress timer (Timer2), 100 ms; its tag is progress_mode().
    QTimer *progress_timer() const { return timer_; }
    // What the progress panel shows.
    ProgressMode progress_mode() const { return progress_mode_; }
    const TransferCounters &counters() const { return counters_; }
    // The HTTP client and request object of the run.
    WebDavSession &webdav() const { return *webdav_; }
    // AtExit once the exit step ran the backup.
    BackupRun backup_run() const { return backup_run_; }
    // UploadOnly during "立即备份到网盘…".
    BackupScope backup_scope() const { return backup_scope_; }
    void set_backup_scope(BackupScope scope) { backup_scope_ = scope; }

    // The progress timer's tick and the transfer events of the HTTP client.
    void progress_tick();
    void transfer_event(TransferDirection direction, qint64 total, qint64 done);
    // Shows the progress panel with `line`, repaints and lets pending events run.
    void show_progress(const QString &line);
    void set_progress_line(const QString &line);
    // The ESC check of transfers: lets pending events run (at most every 40 ms), so the window
    // stays responsive while a request waits, then tells whether ESC is held down.
    bool transfer_esc_down();

    // The connection test of the settings dialog through the run's HTTP client, on a worker
    // thread; ESC cancels it. Transport failures throw HttpError.
    HttpResponse test_webdav(const WebDavAccount &account);
    // Runs `work` (packing, transfers, merging) on a worker thread while the window keeps its
    // events running: the progress panel repaints and ESC is seen, the window takes no other
    // input (the writing commands wait), the window's writes pause, and running() is true
    // (transferRunningChanged tells the settings dialog). The context's store and dialogs are
    // reached through its panel's `on_main`. What `work` throws is thrown here.
    void run_transfer(const std::function<void(BackupContext &c)> &work);
    // Runs `work` on a worker thread, with the window held as run_transfer describes. `work`
    // reaches this thread through `on_main`; what it throws is thrown here. Nothing else may be
    // running.
    void run_held(const std::function<void(const OnMainThread &on_main)> &work);
    // Runs `work` on this thread with the progress panel showing `mode` and the counters started
    // afresh: running() is true meanwhile (the window is not held, nothing is signalled);
    // afterwards the timer stops and the panel hides.
    void run_here(ProgressMode mode, const std::function<void()> &work);

    // The backup command (backup_run(), backup_scope()) and the backup step at exit, through
    // run_transfer.
    BackupResult back_up();
    void exit_backup();

  Q_SIGNALS:
    // A backup, sync, connection test or export started (true) or ended (false).
    void transferRunningChanged(bool running);

  private:
    // The progress panel as a worker sees it: every call is handed to this thread.
    BackupPanel worker_panel(const OnMainThread &on_main);
    // A transfer event of a worker, on this thread.
    void worker_transfer_event(TransferDirection direction, qint64 total, qint64 done);

    QMainWindow &window_;
    QPointer<QWidget> tool_bar_;
    ProgressPanel &panel_;
    Dialogs &dialogs_;
    NoteStore &store_;
    RunSettings &run_;
    QTimer *timer_ = nullptr;
    ProgressMode progress_mode_ = ProgressMode::None;
    BackupRun backup_run_ = BackupRun::Command;
    BackupScope backup_scope_ = BackupScope::UploadAndCopy;
    TransferCounters counters_;
    std::unique_ptr<WebDavSession> webdav_;
    bool running_ = false;
    qint64 last_events_ms_ = 0;
};

} // namespace yunshan
