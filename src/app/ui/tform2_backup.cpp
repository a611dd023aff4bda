// The main window's backup commands: the backup tool button, the exit step, and the progress
// panel with its timer and the transfer events. Packing, transfers and merging run on a worker
// thread while the window keeps its events running.
#include "app/ui/progress_panel.h"
#include "app/ui/tform2.h"

#include "app/ui/main_commands.h"
#include "backup/background_work.h"
#include "backup/local_backup.h"
#include "backup/tls_trust.h"
#include "backup/transfer_errors.h"
#include "backup/webdav.h"
#include "platform/dialogs.h"
#include "platform/key_state.h"
#include "platform/settings_store.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenuBar>
#include <QPointer>
#include <QScopeGuard>
#include <QTimer>
#include <QToolBar>

#include <exception>
#include <optional>
#include <vector>

namespace yunshan {

namespace {

// Pending events run at most this often during a transfer: often enough for repaints, clicks
// and the ESC key, rarely enough not to slow the transfer down.
constexpr qint64 kEventsIntervalMs = 40;

qint64 now_ms()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.elapsed();
}

// While a worker runs, the window takes no input but the progress panel's (its "X" and the ESC
// key, which the application's key filter sees): nothing is written to a database the worker
// packs, merges, replaces or exports from, and no command starts another transfer.
class InputHold {
  public:
    explicit InputHold(TForm2 &w)
    {
        hold(w.menuBar());
        hold(w.commands().tool_bar());
        if (QWidget *central = w.centralWidget()) {
            for (QObject *child : central->children()) {
                auto *widget = qobject_cast<QWidget *>(child);
                if (widget && widget != w.progress_panel() && !widget->isWindow())
                    hold(widget);
            }
        }
    }
    ~InputHold()
    {
        for (const QPointer<QWidget> &widget : held_)
            if (widget)
                widget->setEnabled(true);
    }
    InputHold(const InputHold &) = delete;
    InputHold &operator=(const InputHold &) = delete;

  private:
    void hold(QWidget *widget)
    {
        // A widget disabled on its own stays so afterwards.
        if (!widget || widget->testAttribute(Qt::WA_ForceDisabled))
            return;
        widget->setEnabled(false);
        held_.push_back(widget);
    }
    std::vector<QPointer<QWidget>> held_;
};

} // namespace

void TForm2::build_backup()
{
    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(100);
    connect(Timer2, &QTimer::timeout, this, &TForm2::progress_tick);
    webdav = std::make_shared<WebDavSession>();
    // The keys the user has trusted for https shares with certificates of their own.
    webdav->client.set_pin_lookup(
        [this](const QString &origin) { return settings_store ? trusted_key(*settings_store, origin) : QByteArray(); });
    track_esc_key();
}

bool TForm2::transfer_esc_down()
{
    const qint64 now = now_ms();
    if (now - last_events_ms_ >= kEventsIntervalMs) {
        last_events_ms_ = now;
        QCoreApplication::processEvents();
    }
    return esc_key_down();
}

HttpResponse TForm2::test_webdav(const WebDavAccount &account)
{
    if (transfer_running_)
        throw HttpError(HttpError::Kind::Busy, QStringLiteral("Another transfer is still running"), account.url);
    HttpResponse answer;
    run_transfer([&](BackupContext &c) { answer = test_request(webdav->client, account, c.panel.esc_down); });
    return answer;
}

void TForm2::run_transfer(const std::function<void(BackupContext &c)> &work)
{
    if (transfer_running_)
        throw HttpError(HttpError::Kind::Busy, QStringLiteral("Another transfer is still running"), run.dav_url);
    run_held([&](const OnMainThread &on_main) {
        MainThreadDialogs dialogs(dialogs_, on_main);
        BackupContext c{store, run, *webdav, dialogs, worker_panel(on_main), QDate::currentDate()};
        work(c);
    });
}

void TForm2::run_held(const std::function<void(const OnMainThread &on_main)> &work)
{
    Q_ASSERT(!transfer_running_);
    transfer_running_ = true;
    // The autosave writes to the database: it waits, as every writing command does.
    const bool autosave_on = Timer1 && Timer1->isActive();
    if (Timer1)
        Timer1->stop();
    std::optional<InputHold> hold;
    hold.emplace(*this);
    Q_EMIT transferRunningChanged(true);
    const auto done = qScopeGuard([&] {
        hold.reset();
        transfer_running_ = false;
        if (autosave_on && !destroyed_)
            Timer1->start();
        Q_EMIT transferRunningChanged(false);
    });
    run_in_background(work);
}

BackupPanel TForm2::worker_panel(const OnMainThread &on_main)
{
    // The panel's changes go to this thread in order, without waiting for them.
    const auto post = [this](std::function<void()> fn) {
        QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
    };
    BackupPanel p;
    p.show = [this, post](const QString &line) { post([this, line] { progress_panel_->show_line(line); }); };
    p.line = [this, post](const QString &line) { post([this, line] { progress_panel_->set_line(line); }); };
    p.hide = [this, post] { post([this] { progress_panel_->hide(); }); };
    p.start = [this, post](ProgressMode mode) {
        post([this, mode] {
            transfer.reset(tick_count());
            progress_mode = mode;
            Timer2->start();
        });
    };
    p.esc_down = [] { return esc_key_down(); };
    // Sent at most every 40 ms (and at the end of a body): the panel repaints on its timer.
    auto last = std::make_shared<qint64>(-kEventsIntervalMs);
    p.transfer = [this, post, last](TransferDirection d, qint64 total, qint64 done) {
        const qint64 now = now_ms();
        if (total > 0 && (done == total || now - *last >= kEventsIntervalMs)) {
            *last = now;
            post([this, d, total, done] { worker_transfer_event(d, total, done); });
        }
    };
    p.on_main = on_main;
    p.before_replace = [this] { return settle_note_before_database_change(); };
    return p;
}

void TForm2::worker_transfer_event(TransferDirection direction, qint64 total, qint64 done)
{
    transfer.transfer_done = done;
    transfer.transfer_total = total;
    if (direction == TransferDirection::Receive && progress_panel_->isHidden())
        progress_panel_->show();
    if (done == total)
        progress_tick();
}

void TForm2::after_main_file_replaced()
{
    notice_label_->clear();
    try {
        reload_catalogue(true);
    } catch (const std::exception &e) {
        dialogs_.error(QString::fromUtf8(e.what()));
    }
}

void TForm2::show_progress(const QString &line)
{
    progress_panel_->show();
    progress_panel_->raise();
    set_progress_line(line);
}

void TForm2::set_progress_line(const QString &line)
{
    progress_panel_->set_line(line);
    progress_panel_->repaint_lines();
    QCoreApplication::processEvents();
    last_events_ms_ = now_ms();
}

void TForm2::progress_tick()
{
    if (progress_panel_->isHidden())
        Timer2->stop();
    if (transfer.transfer_total == 0)
        return;
    const quint32 now = tick_count();
    progress_panel_->set_line(progress_line_text(progress_mode, transfer));
    progress_panel_->set_speed_line(speed_line_text(transfer, now));
    progress_panel_->repaint_lines();
    sample_speed(transfer, now);
    // Pending events run from the transfer events; a timer tick itself comes from the event loop.
}

void TForm2::transfer_event(TransferDirection direction, qint64 total, qint64 done)
{
    if (total <= 0)
        return;
    worker_transfer_event(direction, total, done); // the same bookkeeping, already on this thread
    const qint64 now = now_ms();
    if (done == total || now - last_events_ms_ >= kEventsIntervalMs) {
        last_events_ms_ = now;
        QCoreApplication::processEvents();
    }
}

void TForm2::back_up_now()
{
    if (transfer_running_)
        return; // the running backup let this click in
    BackupResult result;
    try {
        run_transfer([&](BackupContext &c) { result = backup_command(c, backup_run, backup_scope); });
    } catch (const std::exception &e) {
        report_transfer_failure(dialogs_, TransferStep::Upload, run.dav_url, e);
    }
    if (result.replaced)
        after_main_file_replaced();
}

void TForm2::exit_step()
{
    if (transfer_running_)
        return;
    try {
        run_transfer([&](BackupContext &c) { exit_backup_step(c, backup_run); });
    } catch (const std::exception &e) {
        report_transfer_failure(dialogs_, TransferStep::Upload, run.dav_url, e);
    }
}

} // namespace yunshan
