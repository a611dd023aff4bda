// The main window's cloud sync: the sync with the WebDAV share (menu, settings dialog and
// start-up) and the upload on demand.
#include "app/ui/progress_panel.h"
#include "app/ui/tform2.h"
#include "backup/cloud_sync.h"
#include "backup/local_backup.h"
#include "backup/transfer_errors.h"
#include "backup/webdav.h"
#include "platform/dialogs.h"

#include <QFile>
#include <QListWidget>
#include <QMenuBar>
#include <QScopeGuard>
#include <QTimer>
#include <QToolBar>

#include <exception>
#include <vector>

namespace yunshan {

bool TForm2::load_from_webdav(bool at_start, QString *report)
{
    if (transfers_->running())
        return false; // a transfer under way let this request in

    // The open note belongs to the database about to be replaced.
    if (!settle_note_before_database_change())
        return false;

    bool completed = false;
    SyncOutcome outcome;
    try {
        transfers_->run_transfer([&](BackupContext &b) {
            SyncContext c{b.store, b.run, b.session, b.dialogs, b.panel};
            completed = yunshan::load_from_webdav(c, at_start ? SyncPurpose::StartUp : SyncPurpose::SyncNow, &outcome);
        });
    } catch (const std::exception &e) {
        if (is_cancellation(e))
            progress_panel_->hide(); // stopped with ESC: nothing to look at
        throw;                       // a transport failure leaves the panel shown
    }
    if (report)
        *report = outcome.merge ? conflict_report_text(*outcome.merge, outcome.merged_at) : QString();

    // The lists come from the database now open.
    progress_panel_->hide();
    after_main_file_replaced();
    return completed;
}

void TForm2::startup_sync(bool note_recovered)
{
    if (note_recovered) {
        // The recovered text belongs to the local database: replacing it now would detach it.
        dialogs_.message(QStringLiteral("已恢复上次未保存的笔记，本次启动没有从网盘同步。"));
        return;
    }
    try {
        QString report;
        load_from_webdav(true, &report);
        if (!report.isEmpty())
            dialogs_.message(report);
    } catch (const std::exception &e) {
        // The share cannot be reached: the local notes stay in use; the panel tells why (the
        // progress tick must not write over it).
        transfers_->progress_timer()->stop();
        const QString why = transfer_error_text(TransferStep::Download, run.dav_url, e);
        progress_panel_->set_reason(why);
        transfers_->set_progress_line(QStringLiteral("从网盘同步失败"));
    }
}

void TForm2::sync_from_share()
{
    if (dialogs_.question_yes_no(QStringLiteral(
            "将会从网盘下载数据库并替换当前的数据库（替换时会自动备份），是否从网盘同步？")) != Dialogs::Answer::Yes)
        return;
    try {
        QString report;
        const bool completed = load_from_webdav(false, &report);
        dialogs_.message(!completed         ? QStringLiteral("同步失败。")
                         : report.isEmpty() ? QStringLiteral("同步完成。")
                                            : report);
    } catch (const std::exception &e) {
        report_transfer_failure(dialogs_, TransferStep::Download, run.dav_url, e);
    }
}

void TForm2::back_up_to_share()
{
    const auto complete = [this] {
        return !run.dav_url.isEmpty() && !run.dav_username.isEmpty() && !run.dav_password.isEmpty();
    };
    if (!complete()) {
        dialogs_.message(
            QStringLiteral("webDAV协议所需的网址或者用户名或者密码都需要完整，不然无法连接网盘，请先设置。"));
        Q_EMIT settingsModalRequested();
    }
    if (!complete())
        return;
    if (dialogs_.question_yes_no(QStringLiteral("此操作会覆盖掉网盘内早先的备份，是否将当前数据库备份到网盘？")) ==
        Dialogs::Answer::No)
        return;
    transfers_->set_backup_scope(BackupScope::UploadOnly);
    const auto clear = qScopeGuard([this] { transfers_->set_backup_scope(BackupScope::UploadAndCopy); });
    back_up_now();
}

} // namespace yunshan
