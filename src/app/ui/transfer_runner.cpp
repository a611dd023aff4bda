// The main window's transfers: the progress panel with its timer and the transfer events, the
// ESC check, and the worker thread that packs, transfers and merges while the window keeps its
// events running with its input held.
#include "app/ui/transfer_runner.h"

#include "app/ui/progress_panel.h"
#include "backup/webdav.h"
#include "platform/dialogs.h"
#include "platform/key_state.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QMenuBar>
#include <QPointer>
#include <QScopeGuard>
#include <QTimer>

#include <memory>
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
    InputHold(QMainWindow &window, QWidget *tool_bar, const QWidget *panel)
    {
        hold(window.menuBar());
        hold(tool_bar);
        if (QWidget *central = window.centralWidget()) {
            for (QObject *child : central->children()) {
                auto *widget = qobject_cast<QWidget *>(child);
                if (widget && widget != panel && !widget->isWindow())
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

TransferRunner::TransferRunner(QMainWindow &window, QWidget *tool_bar, ProgressPanel &panel, Dialogs &dialogs,
                               NoteStore &store, RunSettings &run)
    : QObject(&window), window_(window), tool_bar_(tool_bar), panel_(panel), dialogs_(dialogs), store_(store),
      run_(run), webdav_(std::make_unique<WebDavSession>())
{
    setObjectName(QStringLiteral("TransferRunner"));
    timer_ = new QTimer(this);
    timer_->setObjectName(QStringLiteral("Timer2"));
    timer_->setInterval(100);
    connect(timer_, &QTimer::timeout, this, &TransferRunner::progress_tick);
    track_esc_key();
}

TransferRunner::~TransferRunner() = default;

bool TransferRunner::transfer_esc_down()
{
    const qint64 now = now_ms();
    if (now - last_events_ms_ >= kEventsIntervalMs) {
        last_events_ms_ = now;
        QCoreApplication::processEvents();
    }
    return esc_key_down();
}

HttpResponse TransferRunner::test_webdav(const WebDavAccount &account)
{
    if (running_)
        throw HttpError(HttpError::Kind::Busy, QStringLiteral("Another transfer is still running"), account.url);
    HttpResponse answer;
    run_transfer([&](BackupContext &c) { answer = test_request(webdav_->client, account, c.panel.esc_down); });
    return answer;
}

void TransferRunner::run_transfer(const std::function<void(BackupContext &c)> &work)
{
    if (running_)
        throw HttpError(HttpError::Kind::Busy, QStringLiteral("Another transfer is still running"), run_.dav_url);
    run_held([&](const OnMainThread &on_main) {
        MainThreadDialogs dialogs(dialogs_, on_main);
        BackupContext c{store_, run_, *webdav_, dialogs, worker_panel(on_main), QDate::currentDate()};
        work(c);
    });
}

void TransferRunner::run_held(const std::function<void(const OnMainThread &on_main)> &work)
{
    Q_ASSERT(!running_);
    running_ = true;
    // The window's own writes go to the database: they wait, as every writing command does.
    const std::function<void()> resume = pause_writes ? pause_writes() : std::function<void()>();
    auto hold = std::make_unique<InputHold>(window_, tool_bar_, &panel_);
    Q_EMIT transferRunningChanged(true);
    const auto done = qScopeGuard([&] {
        hold.reset();
        running_ = false;
        if (resume)
            resume();
        Q_EMIT transferRunningChanged(false);
    });
    run_in_background(work);
}

void TransferRunner::run_here(ProgressMode mode, const std::function<void()> &work)
{
    Q_ASSERT(!running_);
    running_ = true;
    const auto done = qScopeGuard([this] {
        running_ = false;
        timer_->stop();
        panel_.hide();
    });
    counters_.reset(tick_count());
    progress_mode_ = mode;
    timer_->start();
    work();
}

BackupResult TransferRunner::back_up()
{
    BackupResult result;
    run_transfer([&](BackupContext &c) { result = backup_command(c, backup_run_, backup_scope_); });
    return result;
}

void TransferRunner::exit_backup()
{
    run_transfer([&](BackupContext &c) { exit_backup_step(c, backup_run_); });
}

BackupPanel TransferRunner::worker_panel(const OnMainThread &on_main)
{
    // The panel's changes go to this thread in order, without waiting for them.
    const auto post = [this](std::function<void()> fn) {
        QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
    };
    BackupPanel p;
    p.show = [this, post](const QString &line) { post([this, line] { panel_.show_line(line); }); };
    p.line = [this, post](const QString &line) { post([this, line] { panel_.set_line(line); }); };
    p.hide = [this, post] { post([this] { panel_.hide(); }); };
    p.start = [this, post](ProgressMode mode) {
        post([this, mode] {
            counters_.reset(tick_count());
            progress_mode_ = mode;
            timer_->start();
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
    p.before_replace = [this] { return before_replace ? before_replace() : true; };
    return p;
}

void TransferRunner::worker_transfer_event(TransferDirection direction, qint64 total, qint64 done)
{
    counters_.transfer_done = done;
    counters_.transfer_total = total;
    if (direction == TransferDirection::Receive && panel_.isHidden())
        panel_.show();
    if (done == total)
        progress_tick();
}

void TransferRunner::show_progress(const QString &line)
{
    panel_.show();
    panel_.raise();
    set_progress_line(line);
}

void TransferRunner::set_progress_line(const QString &line)
{
    panel_.set_line(line);
    panel_.repaint_lines();
    QCoreApplication::processEvents();
    last_events_ms_ = now_ms();
}

void TransferRunner::progress_tick()
{
    if (panel_.isHidden())
        timer_->stop();
    if (counters_.transfer_total == 0)
        return;
    const quint32 now = tick_count();
    panel_.set_line(progress_line_text(progress_mode_, counters_));
    panel_.set_speed_line(speed_line_text(counters_, now));
    panel_.repaint_lines();
    sample_speed(counters_, now);
    // Pending events run from the transfer events; a timer tick itself comes from the event loop.
}

void TransferRunner::transfer_event(TransferDirection direction, qint64 total, qint64 done)
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

} // namespace yunshan
