#include "update/update_check.h"

#include "backup/http_client.h"
#include "platform/settings_store.h"

#include <QUrl>

#include <algorithm>

#ifndef YUNSHAN_UPDATE_SERVER
#define YUNSHAN_UPDATE_SERVER ""
#endif

namespace yunshan {

namespace {

QString without_trailing_slash(QString server)
{
    while (server.endsWith(QLatin1Char('/')))
        server.chop(1);
    return server;
}

// The text between `open` and `close` in `text`, searching from `from`; `from` moves past
// `open`. Empty when either marker is missing.
QString between(const QString &text, qsizetype &from, const QString &open, const QString &close)
{
    const qsizetype start = text.indexOf(open, from);
    if (start < 0)
        return {};
    from = start + open.size();
    const qsizetype end = text.indexOf(close, from);
    if (end < 0)
        return {};
    return text.mid(from, end - from);
}

} // namespace

QString update_server_address(const SettingsStore &settings)
{
    const QString configured = settings.value(QStringLiteral("update_server")).trimmed();
    if (!configured.isEmpty())
        return configured.contains(QStringLiteral("://")) ? configured : QStringLiteral("https://") + configured;
    // The program's own server is asked over https only.
    const QString built_in = QStringLiteral(YUNSHAN_UPDATE_SERVER);
    return built_in.startsWith(QStringLiteral("https://"), Qt::CaseInsensitive) ? built_in : QString();
}

QString version_check_url(const QString &server)
{
    return without_trailing_slash(server) + QStringLiteral("/abc/ver.php?p=20&v=") +
           QString::number(kUpdateVersionNumber);
}

QString package_url(const QString &server)
{
    return without_trailing_slash(server) + QStringLiteral("/abc/dl2.php?p=20&v=664312");
}

VersionReply fetch_version_reply(const QString &server, const std::function<bool()> &stop, int timeout_seconds)
{
    VersionReply reply;
    if (server.trimmed().isEmpty())
        return reply; // NoServer
    reply.status = VersionReply::Status::Failed;
    try {
        HttpClient client;
        HttpLimits limits;
        limits.connect_seconds = std::min(limits.connect_seconds, timeout_seconds);
        limits.stall_seconds = std::min(limits.stall_seconds, timeout_seconds);
        client.set_limits(limits);
        client.set_cancel_check([&] {
            if (stop && stop()) {
                reply.cancelled = true;
                return true;
            }
            return false;
        });
        HttpRequest request;
        request.url = version_check_url(server);
        request.deadline_seconds = timeout_seconds;
        const HttpResponse response = client.send(request);
        if (response.status < 200 || response.status > 299) {
            reply.error = QStringLiteral("HTTP %1").arg(response.status);
            return reply;
        }
        reply.status = VersionReply::Status::Answered;
        reply.text = QString::fromUtf8(response.body);
    } catch (const HttpError &e) {
        const bool silent = e.kind() == HttpError::Kind::Timeout || e.kind() == HttpError::Kind::Stalled;
        reply.error = silent ? QStringLiteral("服务器没有应答。") : QString::fromUtf8(e.what());
    }
    return reply;
}

UpdateAnswer parse_update_reply(const QString &reply)
{
    UpdateAnswer a;
    QString rest = reply;
    // "low>" and "pop>" stand at the head of the answer: the text starts after its first five
    // characters.
    if (reply.contains(QStringLiteral("low>"))) {
        a.forced = true;
        a.forced_text = reply.mid(5);
        return a;
    }
    if (reply.contains(QStringLiteral("pop>"))) {
        a.optional = true;
        a.optional_text = reply.mid(5);
        a.question = a.optional_text + QStringLiteral("，是否下载新程序？");
        rest = a.question;
    }
    if (rest.contains(QStringLiteral("<msg>"))) {
        a.notice = true;
        qsizetype from = 0;
        a.notice_text = between(rest, from, QStringLiteral("<msg>"), QStringLiteral("</msg>"));
        const QString url = between(rest, from, QStringLiteral("<url>"), QStringLiteral("</url>")).trimmed();
        a.notice_url = is_web_link(url) ? url : QString();
        a.notice_tip = between(rest, from, QStringLiteral("<tip>"), QStringLiteral("</tip>"));
    }
    return a;
}

bool is_web_link(const QString &url)
{
    const QUrl u(url, QUrl::StrictMode);
    if (!u.isValid() || u.host().isEmpty())
        return false;
    const QString scheme = u.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

QString update_notice_hint()
{
    return QStringLiteral("有新版本可以下载，点此立即下载。");
}

QString update_not_writable_text()
{
    return QStringLiteral("程序所在的文件夹不能写入（程序由软件包管理器安装），无法在这里更新，请用软件包管理器更新。");
}

QString update_latest_text()
{
    return QStringLiteral("当前已经是最新版本。");
}

QString update_no_server_text()
{
    return QStringLiteral("没有设置更新服务器，无法检查更新。");
}

QString update_check_failed_text(const QString &error)
{
    return QStringLiteral("检查更新失败：") + error;
}

} // namespace yunshan
