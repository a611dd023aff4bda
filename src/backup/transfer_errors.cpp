#include "backup/transfer_errors.h"

#include "backup/zip_package.h"
#include "platform/dialogs.h"

#include <QUrl>

namespace yunshan {

namespace {

const QString kNotesUnchanged = QStringLiteral("本地笔记没有改动。");

// What becomes of the local notes: nothing, whatever failed (the test touches no notes).
QString notes_tail(TransferStep step)
{
    return step == TransferStep::Test ? QString() : kNotesUnchanged;
}

QString cancelled_text(TransferStep step)
{
    switch (step) {
    case TransferStep::Test:
        return QStringLiteral("已取消网盘测试。");
    case TransferStep::CreateFolder:
    case TransferStep::Upload:
        return QStringLiteral("已取消备份到网盘。");
    case TransferStep::Download:
        return QStringLiteral("已取消从网盘下载。");
    case TransferStep::Unpack:
        return QStringLiteral("已取消解压从网盘下载的备份文件。");
    }
    return {};
}

QString failed_prefix(TransferStep step, const QString &server)
{
    switch (step) {
    case TransferStep::Test:
        return QStringLiteral("备份网盘测试失败：");
    case TransferStep::CreateFolder:
        return QStringLiteral("创建文件夹 yunshanzhaji 失败：");
    case TransferStep::Upload:
        return QStringLiteral("备份到网盘失败：");
    case TransferStep::Download:
        return QStringLiteral("从网盘下载失败：");
    case TransferStep::Unpack:
        return QStringLiteral("从网盘 %1 下载的备份文件 notedb.zip 打不开：").arg(server);
    }
    return {};
}

QString http_cause(TransferStep step, const HttpError &e, const QString &server, const QString &url)
{
    using Kind = HttpError::Kind;
    switch (e.kind()) {
    case Kind::Network:
        return QStringLiteral("和服务器 %1 的连接出错。").arg(server);
    case Kind::Unresolved:
        return QStringLiteral("找不到服务器 %1，请检查网址和网络。").arg(server);
    case Kind::Unreachable:
        return QStringLiteral("连接不上服务器 %1，请检查网址、端口和网络。").arg(server);
    case Kind::Interrupted:
        return QStringLiteral("服务器 %1 在传输途中断开了连接。").arg(server);
    case Kind::Timeout:
        return QStringLiteral("服务器 %1 在 %2 秒内没有完成应答，已放弃。").arg(server).arg(e.seconds());
    case Kind::Stalled:
        return QStringLiteral("服务器 %1 停止了收发数据，%2 秒没有进展，已放弃。").arg(server).arg(e.seconds());
    case Kind::Cancelled:
        return cancelled_text(step);
    case Kind::Certificate:
        if (step == TransferStep::Test)
            return QStringLiteral("服务器 %1 的证书不受信任（例如家用 NAS 自己签发的证书），没有信任就不会连接。")
                .arg(server);
        return QStringLiteral("服务器 %1 的证书不受信任（例如家用 NAS 自己签发的证书）。可以在设置里按“测试”，"
                              "核对证书指纹后信任它。")
            .arg(server);
    case Kind::PinMismatch:
        return QStringLiteral("服务器 %1 出示的证书和以前信任的不一样，可能有人冒充这台服务器，已拒绝连接。"
                              "如果服务器确实换了证书，请在设置里按“测试”重新核对。")
            .arg(server);
    case Kind::Tls:
        return QStringLiteral("和服务器 %1 建立加密连接失败。").arg(server);
    case Kind::BadAddress:
        return QStringLiteral("网址“%1”不能用，请在设置里填写以 http:// 或 https:// 开头的 webDAV 网址。").arg(url);
    case Kind::LocalFile:
        return QStringLiteral("读写本机文件时出错。");
    case Kind::TooLarge:
        return QStringLiteral("服务器 %1 发来的回答太大。").arg(server);
    case Kind::Busy:
        return QStringLiteral("另一个网络传输还没有结束，请等它结束后再试。");
    }
    return {};
}

QString archive_cause(TransferStep step, const ArchiveError &e)
{
    using Kind = ArchiveError::Kind;
    if (step == TransferStep::Upload || step == TransferStep::CreateFolder)
        return QStringLiteral("打包数据库文件时出错。");
    switch (e.kind()) {
    case Kind::Damaged:
        return QStringLiteral("文件已损坏，或者不是本程序上传的备份文件。");
    case Kind::WrongPassword:
        return QStringLiteral("压缩包密码不对，或者文件已损坏，请检查设置里的压缩包密码。");
    case Kind::MissingEntry:
        return QStringLiteral("压缩包里没有数据库文件 notedb.sl3。");
    case Kind::TooLarge:
        return QStringLiteral("文件太大。");
    case Kind::NoSpace:
        return QStringLiteral("磁盘空间不够，请先腾出空间。");
    case Kind::LocalFile:
        return QStringLiteral("读写本机文件时出错。");
    case Kind::Cancelled:
        return cancelled_text(step);
    }
    return {};
}

QString exception_text(TransferStep step, const QString &server, const QString &url, const std::exception &e)
{
    const QString library = QString::fromUtf8(e.what());
    if (is_cancellation(e))
        return cancelled_text(step) + notes_tail(step) + QLatin1Char('\n') + library;
    QString cause;
    if (const auto *http = dynamic_cast<const HttpError *>(&e))
        cause = http_cause(step, *http, server, url);
    else if (const auto *archive = dynamic_cast<const ArchiveError *>(&e))
        cause = archive_cause(step, *archive);
    if (cause.isEmpty()) // an error of another part: its own text says what it is
        return failed_prefix(step, server) + library;
    return failed_prefix(step, server) + cause + notes_tail(step) + QLatin1Char('\n') + library;
}

QString status_cause(TransferStep step, const TransferFault &f, const QString &server)
{
    const int status = f.status;
    if (status >= 300 && status < 400) {
        if (!f.redirect.isEmpty())
            return QStringLiteral("服务器 %1 要求转到另一个地址 %2，为了保护密码和数据没有转过去。"
                                  "如果那个地址可信，请把 webDAV 网址改成它。")
                .arg(server, f.redirect);
        return QStringLiteral("服务器 %1 要求转到另一个地址，但没有说转到哪里。").arg(server);
    }
    switch (status) {
    case 401:
        return QStringLiteral("服务器 %1 不接受这个用户名和密码，请检查 webDAV 用户名和密码。").arg(server);
    case 403:
        return QStringLiteral("服务器 %1 不允许这个账号访问这里，请检查网址和账号的权限。").arg(server);
    case 404:
        if (step == TransferStep::Download)
            return QStringLiteral("网盘 %1 上还没有备份文件 yunshanzhaji/notedb.zip，请先备份到网盘，或者检查网址。")
                .arg(server);
        return QStringLiteral("服务器 %1 上没有这个地址，请检查 webDAV 网址。").arg(server);
    case 405:
        if (step == TransferStep::CreateFolder)
            return QStringLiteral("服务器 %1 不允许在这里建文件夹（文件夹可能已经存在）。").arg(server);
        if (step == TransferStep::Test)
            return QStringLiteral("服务器 %1 上的这个地址不是 webDAV 文件夹，请检查 webDAV 网址。").arg(server);
        return QStringLiteral("服务器 %1 不允许这个操作，请检查 webDAV 网址。").arg(server);
    case 409:
        return QStringLiteral("服务器 %1 上缺少上一级文件夹，请检查 webDAV 网址。").arg(server);
    case 423:
        return QStringLiteral("网盘 %1 上的文件被锁定了，可能另一台电脑正在传输，请稍后再试。").arg(server);
    case 507:
        return QStringLiteral("网盘 %1 的空间不够了。").arg(server);
    default:
        break;
    }
    if (status >= 500)
        return QStringLiteral("服务器 %1 内部出错，请稍后再试。").arg(server);
    if (status >= 200 && status < 300) {
        if (step == TransferStep::Download || step == TransferStep::Unpack)
            return QStringLiteral("服务器 %1 发来的文件太小，不是备份文件。").arg(server);
        if (step == TransferStep::Test)
            return QStringLiteral("服务器 %1 的回答不像 webDAV 服务器。").arg(server);
        return QStringLiteral("服务器 %1 的回答不表示文件已经保存。").arg(server);
    }
    return QStringLiteral("服务器 %1 的回答出乎意料。").arg(server);
}

QString status_text(TransferStep step, const TransferFault &f, const QString &server)
{
    const QString status = QString::number(f.status);
    QString head;
    switch (step) {
    case TransferStep::Test:
        head = QStringLiteral("备份网盘测试失败，错误码：") + status;
        break;
    case TransferStep::CreateFolder:
        head = QStringLiteral("创建文件夹 yunshanzhaji 失败。错误码") + status;
        break;
    case TransferStep::Upload:
        head = QStringLiteral("上传文件 notedb.zip 失败") + status;
        break;
    case TransferStep::Download:
    case TransferStep::Unpack:
        head = QStringLiteral("从网盘下载失败，大小") + QString::number(std::max<qint64>(f.size, 0)) +
               QStringLiteral(" 错误码") + status;
        break;
    }
    return head + QStringLiteral("。") + status_cause(step, f, server) + notes_tail(step);
}

} // namespace

QString server_name(const QString &url)
{
    const QUrl u(url);
    if (u.host().isEmpty())
        return QStringLiteral("“") + url + QStringLiteral("”");
    QString host = u.host();
    if (host.contains(QLatin1Char(':')))
        host = QLatin1Char('[') + host + QLatin1Char(']');
    return u.port() < 0 ? host : host + QLatin1Char(':') + QString::number(u.port());
}

bool is_cancellation(const std::exception &e)
{
    if (const auto *http = dynamic_cast<const HttpError *>(&e))
        return http->kind() == HttpError::Kind::Cancelled;
    if (const auto *archive = dynamic_cast<const ArchiveError *>(&e))
        return archive->kind() == ArchiveError::Kind::Cancelled;
    return false;
}

QString transfer_error_text(TransferStep step, const QString &server_url, const TransferFault &fault)
{
    const QString server = server_name(server_url);
    if (fault.error)
        return exception_text(step, server, server_url, *fault.error);
    return status_text(step, fault, server);
}

void report_transfer_failure(Dialogs &dialogs, TransferStep step, const QString &server_url, const std::exception &e)
{
    const QString text = transfer_error_text(step, server_url, e);
    if (is_cancellation(e))
        dialogs.message(text);
    else
        dialogs.error(text);
}

} // namespace yunshan
