// The main window's update commands: "检查更新", the notice label with its link, and the
// download and swap of the program file.
#include "app/tmythread.h"
#include "app/ui/progress_panel.h"
#include "app/ui/tform2.h"
#include "backup/http_client.h"
#include "backup/transfer_errors.h"
#include "platform/dialogs.h"
#include "platform/paths.h"
#include "update/program_swap.h"

#include <QApplication>
#include <QDesktopServices>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QProcess>
#include <QScopeGuard>
#include <QTimer>
#include <QUrl>

#include <exception>
#include <memory>

namespace yunshan {

namespace {

QString not_writable_text()
{
    return QStringLiteral("程序所在的文件夹不能写入（程序由软件包管理器安装），无法在这里更新，请用软件包管理器更新。");
}

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

} // namespace

void TForm2::build_update()
{
    notice_label_->installEventFilter(new NoticeClicks(notice_label_, [this] { open_download_page(); }));
    restart_program = [this](const QString &program) {
        if (!QProcess::startDetached(program, {}, QFileInfo(program).absolutePath()))
            dialogs_.message(QStringLiteral("新程序已经更新，但没有能启动，请重新打开程序。"));
        QCoreApplication::exit(0);
    };
}

void TForm2::check_for_update()
{
    update_run = UpdateCheckRun::Manual;
    Q_EMIT updateCheckRequested();
}

void TForm2::open_download_page()
{
    if (!download_url.isEmpty() && is_web_link(download_url))
        QDesktopServices::openUrl(QUrl(download_url));
}

std::pair<std::function<void()>, std::function<void()>> TForm2::update_steps(UpdateCheckRun check_run)
{
    std::function<VersionReply()> check = update_check;
    if (!check) {
        const QString server = update_server;
        check = [server] { return fetch_version_reply(server, &TMyThread::stop_requested); };
    }
    auto reply = std::make_shared<VersionReply>();
    return {[check, reply] { *reply = check(); }, [this, reply, check_run] { update_answer(*reply, check_run); }};
}

namespace {

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

void TForm2::update_answer(const VersionReply &reply, UpdateCheckRun check_run)
{
    const bool manual = check_run == UpdateCheckRun::Manual;
    const auto manual_done = qScopeGuard([this, manual] {
        if (manual)
            update_run = UpdateCheckRun::StartUp;
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
        install_update(); // ends the application once the new program is in place
        return;
    }
    if (a.optional) {
        download_url = package_url(update_server);
        show_notice(notice_label_, a.optional_text, update_notice_hint(), true);
        if (!program_folder_writable(program_file()))
            dialogs_.message(not_writable_text());
        else if (dialogs_.question_yes_no(a.question) == Dialogs::Answer::Yes)
            install_update();
    } else if (manual) {
        dialogs_.message(update_latest_text());
    }
    if (a.notice) {
        download_url = a.notice_url;
        show_notice(notice_label_, a.notice_text, a.notice_tip, !download_url.isEmpty());
    }
}

bool TForm2::install_update()
{
    const QString program = program_file();
    if (!program_folder_writable(program)) {
        dialogs_.message(not_writable_text());
        return false;
    }
    if (transfers_->running())
        return false; // a backup or transfer is under way

    // The download, with the progress panel; the notice label in red meanwhile.
    QPalette red = notice_label_->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    notice_label_->setPalette(red);
    notice_label_->setText(QStringLiteral("正在下载更新文件，请稍后"));
    notice_label_->repaint();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QByteArray package;
    QString failure;
    bool cancelled = false; // ESC during the download
    {
        const auto done = qScopeGuard([this] {
            QApplication::restoreOverrideCursor();
            notice_label_->clear();
        });
        transfers_->run_here(ProgressMode::Update, [&] {
            try {
                // A client of its own: nothing of the WebDAV session's credentials goes along.
                HttpClient client;
                HttpRequest request;
                request.url = package_url(update_server);
                request.deadline_seconds = client.limits().transfer_seconds;
                request.cancel = [this] { return transfers_->transfer_esc_down(); };
                const HttpResponse r = client.send(request, [this](TransferDirection d, qint64 total, qint64 now) {
                    transfers_->transfer_event(d, total, now);
                });
                if (!r.redirect.isEmpty())
                    failure = QStringLiteral("服务器要求转到 %1，为了安全没有转过去（HTTP %2）。")
                                  .arg(r.redirect)
                                  .arg(r.status);
                else if (r.status < 200 || r.status > 299)
                    failure = QStringLiteral("HTTP %1").arg(r.status);
                else if (r.body.isEmpty())
                    failure = QStringLiteral("服务器没有发来更新文件。");
                else
                    package = r.body;
            } catch (const std::exception &e) {
                cancelled = is_cancellation(e);
                failure = QString::fromUtf8(e.what());
            }
        });
    }
    if (cancelled) {
        dialogs_.message(QStringLiteral("已取消下载更新文件，程序没有更新。"));
        return false;
    }
    if (!failure.isEmpty()) {
        dialogs_.error(QStringLiteral("下载更新文件失败：") + failure);
        return false;
    }

    // The new program file, only when the package is whole (CRC checked).
    const QString incoming = program + QStringLiteral("2X");
    try {
        write_new_program(program, program_from_package(package));
    } catch (const std::exception &e) {
        dialogs_.error(QStringLiteral("更新文件无效，程序没有更新：") + QString::fromUtf8(e.what()));
        return false;
    }

    // The closing steps of this run: unsaved note, exit stamp, backup at exit.
    if (!FormCloseQuery()) {
        QFile::remove(incoming);
        return false;
    }
    try {
        swap_program_file(program);
    } catch (const std::exception &e) {
        closing_ = false; // the old program goes on
        dialogs_.error(QString::fromUtf8(e.what()));
        return false;
    }
    hide();
    store.close_all(); // both connections and the owner mark, before the new program starts
    if (restart_program)
        restart_program(program);
    return true;
}

} // namespace yunshan
