// The main window's cloud sync: the download from the WebDAV share (menu, settings dialog and
// start-up) and the upload on demand.
#include "app/ui/tform2.h"
#include "backup/cloud_sync.h"
#include "backup/local_backup.h"
#include "backup/transfer_errors.h"
#include "backup/webdav.h"
#include "platform/dialogs.h"

#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QScopeGuard>
#include <QTimer>
#include <QToolBar>

#include <exception>
#include <vector>

namespace yunshan {

namespace {

// While the download runs, its transfer events let the event loop run: the window takes no
// input meanwhile (only the progress panel stays live), so nothing is written to a database
// about to be replaced. The ESC key is still seen by the application's key filter.
class InputHold {
  public:
    explicit InputHold(TForm2 &w)
    {
        hold(w.menuBar());
        hold(w.ToolBar1);
        if (QWidget *central = w.centralWidget()) {
            for (QObject *child : central->children()) {
                auto *widget = qobject_cast<QWidget *>(child);
                if (widget && widget != w.GroupBox9 && widget->isWindow() == false)
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

bool TForm2::load_from_webdav()
{
    if (transfer_running_)
        return false; // a transfer under way let this request in

    // The open note belongs to the database about to be replaced.
    if (!settle_note_before_database_change())
        return false;

    bool replaced = false;
    {
        transfer_running_ = true;
        const auto done = qScopeGuard([this] { transfer_running_ = false; });
        const InputHold hold(*this);
        BackupContext b = backup_context();
        SyncContext c{store, run, *webdav, dialogs_, b.panel};
        try {
            replaced = yunshan::load_from_webdav(c); // a transport failure leaves the panel shown
        } catch (const std::exception &e) {
            if (is_cancellation(e))
                GroupBox9->hide(); // stopped with ESC: nothing to look at
            throw;
        }
    }

    // The lists come from the database now open.
    Label1->clear();
    GroupBox9->hide();
    reload_catalogue(true);
    return replaced;
}

void TForm2::startup_sync(bool note_recovered)
{
    if (note_recovered) {
        // The recovered text belongs to the local database: replacing it now would detach it.
        dialogs_.message(QStringLiteral("已恢复上次未保存的笔记，本次启动没有从网盘同步。"));
        return;
    }
    try {
        load_from_webdav();
    } catch (const std::exception &e) {
        // The share cannot be reached: the local notes stay in use; the panel tells why (the
        // progress tick must not write over it).
        Timer2->stop();
        const QString why = transfer_error_text(TransferStep::Download, run.dav_url, e);
        Label10->setWordWrap(true);
        Label10->setText(why);
        Label10->setToolTip(why);
        set_progress_line(QStringLiteral("从网盘同步失败"));
    }
}

void TForm2::N91Click()
{
    if (dialogs_.question_yes_no(QStringLiteral(
            "将会从网盘下载数据库并替换当前的数据库（替换时会自动备份），是否从网盘同步？")) != Dialogs::Answer::Yes)
        return;
    try {
        const bool replaced = load_from_webdav();
        dialogs_.message(replaced ? QStringLiteral("同步完成。") : QStringLiteral("同步失败。"));
    } catch (const std::exception &e) {
        report_transfer_failure(dialogs_, TransferStep::Download, run.dav_url, e);
    }
}

void TForm2::N92Click()
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
    n92_tag = 1;
    const auto clear = qScopeGuard([this] { n92_tag = 0; });
    ToolButton18Click();
}

} // namespace yunshan
