#include "app/ui/update_notice.h"

#include "app/tmythread.h"
#include "platform/dialogs.h"
#include "platform/paths.h"
#include "update/program_swap.h"

#include <QDesktopServices>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QScopeGuard>
#include <QUrl>

#include <memory>

namespace yunshan {

namespace {

// Clicks on the notice label, and Enter or Space while it has the focus.
class NoticeClicks : public QObject {
  public:
    NoticeClicks(QLabel *label, std::function<void()> click) : QObject(label), label_(label), click_(std::move(click))
    {
    }

  protected:
    // Compares against the label it was given: events still arrive while the window is being
    // taken apart.
    bool eventFilter(QObject *watched, QEvent *e) override
    {
        if (watched != label_)
            return false;
        if (e->type() == QEvent::MouseButtonRelease && static_cast<QMouseEvent *>(e)->button() == Qt::LeftButton) {
            click_();
            return true;
        }
        if (e->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent *>(e)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
                click_();
                return true;
            }
        }
        return false;
    }

  private:
    QObject *label_;
    std::function<void()> click_;
};

// The notice label in the text colour of its group (the export paints it red), a link's colour
// when it carries one.
void show_notice(QLabel *label, const QString &text, const QString &hint, bool link)
{
    QPalette p = label->palette();
    const QPalette group = label->parentWidget()->palette();
    p.setColor(QPalette::WindowText, link ? group.color(QPalette::Link) : group.color(QPalette::WindowText));
    label->setPalette(p);
    label->setText(text);
    label->setToolTip(hint);
    label->setAccessibleDescription(hint);
    label->setCursor(link ? Qt::PointingHandCursor : Qt::ArrowCursor);
    label->setFocusPolicy(link ? Qt::TabFocus : Qt::NoFocus);
}

} // namespace

UpdateNotice::UpdateNotice(Dialogs &dialogs, QLabel *notice, std::function<bool()> install, QObject *parent)
    : QObject(parent), dialogs_(dialogs), notice_(notice), install_(std::move(install))
{
    notice_->installEventFilter(new NoticeClicks(notice_, [this] { open_download_page(); }));
}

void UpdateNotice::open_download_page()
{
    if (!download_url_.isEmpty() && is_web_link(download_url_))
        QDesktopServices::openUrl(QUrl(download_url_));
}

std::pair<std::function<void()>, std::function<void()>> UpdateNotice::steps(UpdateCheckRun check_run)
{
    std::function<VersionReply()> request = check;
    if (!request) {
        const QString address = server;
        request = [address] { return fetch_version_reply(address, &TMyThread::stop_requested); };
    }
    auto reply = std::make_shared<VersionReply>();
    return {[request, reply] { *reply = request(); }, [this, reply, check_run] { answer(*reply, check_run); }};
}

void UpdateNotice::answer(const VersionReply &reply, UpdateCheckRun check_run)
{
    const bool manual = check_run == UpdateCheckRun::Manual;
    const auto manual_done = qScopeGuard([this, manual] {
        if (manual)
            run = UpdateCheckRun::StartUp;
    });
    if (reply.status == VersionReply::Status::NoServer) {
        if (manual)
            dialogs_.message(update_no_server_text());
        return;
    }
    if (reply.status == VersionReply::Status::Failed) {
        if (manual && !reply.cancelled)
            dialogs_.error(update_check_failed_text(reply.error));
        return;
    }
    const UpdateAnswer a = parse_update_reply(reply.text);
    if (a.forced) {
        dialogs_.message(a.forced_text);
        install_(); // ends the application once the new program is in place
        return;
    }
    if (a.optional) {
        download_url_ = package_url(server);
        show_notice(notice_, a.optional_text, update_notice_hint(), true);
        if (!program_folder_writable(program_file()))
            dialogs_.message(update_not_writable_text());
        else if (dialogs_.question_yes_no(a.question) == Dialogs::Answer::Yes)
            install_();
    } else if (manual) {
        dialogs_.message(update_latest_text());
    }
    if (a.notice) {
        download_url_ = a.notice_url;
        show_notice(notice_, a.notice_text, a.notice_tip, !download_url_.isEmpty());
    }
}

} // namespace yunshan
