// The main window's update commands: "检查更新", and the download and swap of the program file.
// The answer of a check and the notice label are UpdateNotice's.
#include "app/tmythread.h"
#include "app/ui/progress_panel.h"
#include "app/ui/tform2.h"
#include "app/ui/update_notice.h"
#include "backup/http_client.h"
#include "backup/transfer_errors.h"
#include "platform/dialogs.h"
#include "platform/paths.h"
#include "update/program_swap.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QScopeGuard>
#include <QTimer>

#include <exception>

namespace yunshan {

void TForm2::build_update()
{
    updates_ = new UpdateNotice(
        dialogs_, notice_label_, [this] { return install_update(); }, this);
    restart_program = [this](const QString &program) {
        if (!QProcess::startDetached(program, {}, QFileInfo(program).absolutePath()))
            dialogs_.message(QStringLiteral("新程序已经更新，但没有能启动，请重新打开程序。"));
        QCoreApplication::exit(0);
    };
}

void TForm2::check_for_update()
{
    updates_->run = UpdateCheckRun::Manual;
    Q_EMIT updateCheckRequested();
}

bool TForm2::install_update()
{
    const QString program = program_file();
    if (!program_folder_writable(program)) {
        dialogs_.message(update_not_writable_text());
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
                request.url = package_url(updates_->server);
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
