// The main window's backup commands: the backup tool button, the exit step, and the progress
// panel with its timer and the transfer events.
#include "app/ui/tform2.h"
#include "backup/local_backup.h"
#include "backup/tls_trust.h"
#include "backup/transfer_errors.h"
#include "backup/webdav.h"
#include "platform/dialogs.h"
#include "platform/key_state.h"
#include "platform/settings_store.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QScopeGuard>
#include <QTimer>

#include <exception>

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
    transfer_running_ = true;
    const auto done = qScopeGuard([this] { transfer_running_ = false; });
    return test_request(webdav->client, account, [this] { return transfer_esc_down(); });
}

void TForm2::show_progress(const QString &line)
{
    GroupBox9->show();
    GroupBox9->raise();
    set_progress_line(line);
}

void TForm2::set_progress_line(const QString &line)
{
    Label8->setText(line);
    Label8->repaint();
    QCoreApplication::processEvents();
    last_events_ms_ = now_ms();
}

void TForm2::progress_tick()
{
    if (GroupBox9->isHidden())
        Timer2->stop();
    if (transfer.transfer_total == 0)
        return;
    const quint32 now = tick_count();
    Label8->setText(progress_line_text(timer2_tag, transfer));
    Label10->setText(speed_line_text(transfer, now));
    Label8->repaint();
    Label10->repaint();
    sample_speed(transfer, now);
    // Pending events run from the transfer events; a timer tick itself comes from the event loop.
}

void TForm2::transfer_event(TransferDirection direction, qint64 total, qint64 done)
{
    if (total <= 0)
        return;
    transfer.transfer_done = done;
    transfer.transfer_total = total;
    if (direction == TransferDirection::Receive && GroupBox9->isHidden())
        GroupBox9->show();
    if (done == total)
        progress_tick();
    const qint64 now = now_ms();
    if (done == total || now - last_events_ms_ >= kEventsIntervalMs) {
        last_events_ms_ = now;
        QCoreApplication::processEvents();
    }
}

BackupContext TForm2::backup_context()
{
    BackupContext c{store, run, *webdav, dialogs_, {}, QDate::currentDate()};
    c.panel.show = [this](const QString &line) { show_progress(line); };
    c.panel.line = [this](const QString &line) { set_progress_line(line); };
    c.panel.hide = [this] { GroupBox9->hide(); };
    c.panel.start = [this](int mode) {
        transfer.reset(tick_count());
        timer2_tag = mode;
        Timer2->start();
    };
    c.panel.esc_down = [this] { return transfer_esc_down(); };
    c.panel.transfer = [this](TransferDirection d, qint64 total, qint64 done) { transfer_event(d, total, done); };
    return c;
}

void TForm2::ToolButton18Click()
{
    if (transfer_running_)
        return; // the running backup let this click in
    transfer_running_ = true;
    const auto done = qScopeGuard([this] { transfer_running_ = false; });
    try {
        BackupContext c = backup_context();
        backup_command(c, toolbutton18_tag, n92_tag);
    } catch (const std::exception &e) {
        report_transfer_failure(dialogs_, TransferStep::Upload, run.dav_url, e);
    }
}

void TForm2::exit_step()
{
    if (transfer_running_)
        return;
    transfer_running_ = true;
    const auto done = qScopeGuard([this] { transfer_running_ = false; });
    BackupContext c = backup_context();
    exit_backup_step(c, toolbutton18_tag);
}

} // namespace yunshan
