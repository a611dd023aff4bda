// The version request against a server on 127.0.0.1 and the reading of its answers.
#include "platform/settings_store.h"
#include "support/temp_folder.h"
#include "support/update_server.h"
#include "update/update_check.h"

#include <gtest/gtest.h>

#include <QUrl>

#include <atomic>
#include <thread>

namespace yunshan {
namespace {

const QByteArray kCheck = "/abc/ver.php?p=20&v=54";

TEST(UpdateCheck, RequestPathsOnTheServer)
{
    EXPECT_EQ(version_check_url(QStringLiteral("https://up.example/")),
              QStringLiteral("https://up.example/abc/ver.php?p=20&v=54"));
    EXPECT_EQ(package_url(QStringLiteral("https://up.example")),
              QStringLiteral("https://up.example/abc/dl2.php?p=20&v=664312"));
}

TEST(UpdateCheck, SettingsValueOverridesTheBuildsServer)
{
    test::TempFolder dir;
    SettingsStore settings(dir.file(QStringLiteral("s.ini")));
    EXPECT_EQ(update_server_address(settings), QString()); // this build has none
    // An http address typed for the update server is used as typed; without a scheme it is https.
    settings.set_value(QStringLiteral("update_server"), QStringLiteral("http://127.0.0.1:9"));
    EXPECT_EQ(update_server_address(settings), QStringLiteral("http://127.0.0.1:9"));
    settings.set_value(QStringLiteral("update_server"), QStringLiteral("up.example:8443"));
    EXPECT_EQ(update_server_address(settings), QStringLiteral("https://up.example:8443"));
}

struct ReplyCase {
    const char *name;
    QString reply;
    UpdateAnswer expected;
};

UpdateAnswer forced(const QString &text)
{
    UpdateAnswer a;
    a.forced = true;
    a.forced_text = text;
    return a;
}

UpdateAnswer optional(const QString &text)
{
    UpdateAnswer a;
    a.optional = true;
    a.optional_text = text;
    a.question = text + QStringLiteral("，是否下载新程序？");
    return a;
}

UpdateAnswer notice(UpdateAnswer a, const QString &text, const QString &url, const QString &tip)
{
    a.notice = true;
    a.notice_text = text;
    a.notice_url = url;
    a.notice_tip = tip;
    return a;
}

TEST(UpdateCheck, MarkersOfTheAnswer)
{
    const QString msg = QStringLiteral("<msg>春季活动</msg><url>https://a.example/x?y=1</url><tip>点此查看</tip>");
    const std::vector<ReplyCase> cases = {
        {"none", QStringLiteral("1.5.4 ok"), {}},
        {"empty", QString(), {}},
        {"forced", QStringLiteral("xlow>必须更新到2.0"), forced(QStringLiteral("必须更新到2.0"))},
        {"forced wins", QStringLiteral("xlow>新版<msg>m</msg>"), forced(QStringLiteral("新版<msg>m</msg>"))},
        {"optional", QStringLiteral("0pop>发现新版本2.0"), optional(QStringLiteral("发现新版本2.0"))},
        {"notice", msg,
         notice({}, QStringLiteral("春季活动"), QStringLiteral("https://a.example/x?y=1"), QStringLiteral("点此查看"))},
        {"optional and notice", QStringLiteral("0pop>新版") + msg,
         notice(optional(QStringLiteral("新版") + msg), QStringLiteral("春季活动"),
                QStringLiteral("https://a.example/x?y=1"), QStringLiteral("点此查看"))},
        {"link not web", QStringLiteral("<msg>m</msg><url>file:///etc/passwd</url><tip>t</tip>"),
         notice({}, QStringLiteral("m"), QString(), QStringLiteral("t"))},
        {"script link", QStringLiteral("<msg>m</msg><url>javascript:alert(1)</url>"),
         notice({}, QStringLiteral("m"), QString(), QString())},
        {"only msg", QStringLiteral("<msg>只有消息</msg>"),
         notice({}, QStringLiteral("只有消息"), QString(), QString())},
        {"unclosed msg", QStringLiteral("<msg>半截<url>http://a.example</url>"),
         notice({}, QString(), QStringLiteral("http://a.example"), QString())},
    };
    for (const ReplyCase &c : cases) {
        SCOPED_TRACE(c.name);
        const UpdateAnswer a = parse_update_reply(c.reply);
        EXPECT_EQ(a.forced, c.expected.forced);
        EXPECT_EQ(a.forced_text, c.expected.forced_text);
        EXPECT_EQ(a.optional, c.expected.optional);
        EXPECT_EQ(a.optional_text, c.expected.optional_text);
        EXPECT_EQ(a.question, c.expected.question);
        EXPECT_EQ(a.notice, c.expected.notice);
        EXPECT_EQ(a.notice_text, c.expected.notice_text);
        EXPECT_EQ(a.notice_url, c.expected.notice_url);
        EXPECT_EQ(a.notice_tip, c.expected.notice_tip);
    }
}

TEST(UpdateCheck, AnsweredByTheServerInUtf8WithoutCredentials)
{
    test::UpdateServer server;
    server.answer(kCheck, 200, QStringLiteral("0pop>新版本").toUtf8());
    const VersionReply r = fetch_version_reply(server.url(), {});
    EXPECT_EQ(r.status, VersionReply::Status::Answered);
    EXPECT_EQ(r.text, QStringLiteral("0pop>新版本"));
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_TRUE(server.requests()[0].startsWith(QStringLiteral("GET /abc/ver.php?p=20&v=54 HTTP/1.1\r\n")));
    EXPECT_FALSE(server.requests()[0].contains(QStringLiteral("Authorization"), Qt::CaseInsensitive));
}

TEST(UpdateCheck, NotFoundIsAFailureNotAnAnswer)
{
    test::UpdateServer server;
    const VersionReply r = fetch_version_reply(server.url(), {});
    EXPECT_EQ(r.status, VersionReply::Status::Failed);
    EXPECT_EQ(r.error, QStringLiteral("HTTP 404"));
}

TEST(UpdateCheck, NoServerMeansNoRequest)
{
    EXPECT_EQ(fetch_version_reply(QString(), {}).status, VersionReply::Status::NoServer);
}

TEST(UpdateCheck, ServerThatNeverAnswersTimesOut)
{
    test::UpdateServer server(true);
    const VersionReply r = fetch_version_reply(server.url(), {}, 1);
    EXPECT_EQ(r.status, VersionReply::Status::Failed);
    EXPECT_FALSE(r.cancelled);
    EXPECT_EQ(r.error, QStringLiteral("服务器没有应答。"));
}

// Asked to stop, the request ends without waiting for its time-out (a long one here).
TEST(UpdateCheck, StopEndsAHangingRequest)
{
    test::UpdateServer server(true);
    std::atomic<bool> stop{false};
    VersionReply r;
    std::thread worker([&] {
        r = fetch_version_reply(
            server.url(), [&] { return bool(stop); }, 600);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop = true;
    worker.join();
    EXPECT_EQ(r.status, VersionReply::Status::Failed);
    EXPECT_TRUE(r.cancelled);
}

TEST(UpdateCheck, RefusedConnectionIsAFailure)
{
    int port = 0;
    {
        test::UpdateServer gone;
        port = QUrl(gone.url()).port();
    }
    const VersionReply r = fetch_version_reply(QStringLiteral("http://127.0.0.1:%1").arg(port), {});
    EXPECT_EQ(r.status, VersionReply::Status::Failed);
    EXPECT_FALSE(r.error.isEmpty());
}

} // namespace
} // namespace yunshan
