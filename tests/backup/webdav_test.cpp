// The upload, download and connection test against a real Apache httpd with mod_dav and Basic
// authentication on 127.0.0.1, and against a server that drops the connection mid-upload.
#include "backup/http_client.h"
#include "backup/local_backup.h"
#include "backup/tls_trust.h"
#include "backup/transfer_errors.h"
#include "backup/webdav.h"
#include "backup/zip_package.h"
#include "backup_test_util.h"
#include "support/db_check.h"
#include "support/update_server.h"
#include "support/webdav_server.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryFile>
#include <QTest>

namespace yunshan {
namespace {

using test::ApacheDav;
using test::ScriptedDialogs;
using test::TempFolder;

const QString kUser = QStringLiteral("writer");
const QString kPassword = QStringLiteral("s3cret:pass");

class WebDavTest : public test::BackupTest {
  protected:
    void start(const QString &user = kUser, const QString &password = kPassword, const ApacheDav::Options &options = {})
    {
        server = std::make_unique<ApacheDav>(user, password, options);
        ASSERT_TRUE(server->started()) << server->error().toStdString();
    }
    void start(const ApacheDav::Options &options) { start(kUser, kPassword, options); }
    QString package_on_share() const { return server->share() + QStringLiteral("/yunshanzhaji/notedb.zip"); }
    // The rows of the database the package on the share holds.
    QString database_in_package(const QString &password = QString())
    {
        const QString out = dir.mkdir(QStringLiteral("unpacked"));
        extract_package_file(package_on_share(), password, out);
        return test::dump_database_file(out + QStringLiteral("/notedb.sl3"));
    }
    QString main_rows() { return test::dump_database_file(main_file()); }
    // The logged requests of `method`; httpd logs a request after answering it, so this waits
    // (two seconds at most) until `expected` of them are there.
    QStringList requests_with(const QString &method, qsizetype expected) const
    {
        QStringList r;
        (void)QTest::qWaitFor(
            [&] {
                r.clear();
                for (const QString &line : server->requests())
                    if (line.startsWith(method + QLatin1Char(' ')))
                        r.append(line);
                return r.size() >= expected;
            },
            2000);
        return r;
    }

    std::unique_ptr<ApacheDav> server;
};

TEST_F(WebDavTest, FirstUploadCreatesTheFolderAndTheSecondReplacesThePackage)
{
    start();
    use_share(server->url(), kUser, kPassword);
    run.zip_password = QStringLiteral("压缩密码");
    BackupContext c = context();
    backup_command(c, BackupRun::AtExit, BackupScope::UploadAndCopy); // at exit: no success box
    dialogs.verify_done();                                            // no message at all
    EXPECT_FALSE(store.changed());
    EXPECT_EQ(database_in_package(run.zip_password), main_rows());
    EXPECT_TRUE(QFile::exists(dated(0)));
    EXPECT_EQ(shown_lines, (QStringList{QStringLiteral("正在备份……"), QStringLiteral("正在创建文件夹……"),
                                        QStringLiteral("正在压缩数据……"), QStringLiteral("正在上传数据……"),
                                        QStringLiteral("上传成功"), QStringLiteral("正在本地备份……")}));
    // The package is looked up first (none yet) and after the upload; the folder is asked for
    // with Depth 0 and a trailing slash.
    EXPECT_EQ(requests_with(QStringLiteral("PROPFIND"), 3),
              (QStringList{QStringLiteral("PROPFIND /dav/yunshanzhaji/notedb.zip 404 Depth=0"),
                           QStringLiteral("PROPFIND /dav/yunshanzhaji/ 404 Depth=0"),
                           QStringLiteral("PROPFIND /dav/yunshanzhaji/notedb.zip 207 Depth=0")}));
    EXPECT_EQ(requests_with(QStringLiteral("MKCOL"), 1),
              QStringList{QStringLiteral("MKCOL /dav/yunshanzhaji/ 201 Depth=-")});
    ASSERT_TRUE(store.main_connected());

    write_row(QStringLiteral("note"), QStringLiteral("第二版"));
    store.set_changed(true);
    backup_command(c, BackupRun::AtExit, BackupScope::UploadAndCopy);
    dialogs.verify_done();
    EXPECT_FALSE(store.changed());
    // A package written within the last second has only a weak tag: it is looked at once more
    // right before the PUT replaces it.
    const QString package_found = QStringLiteral("PROPFIND /dav/yunshanzhaji/notedb.zip 207 Depth=0");
    const QStringList second = requests_with(QStringLiteral("PROPFIND"), 6).mid(3);
    ASSERT_GE(second.size(), 3);
    ASSERT_LE(second.size(), 4) << second.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(second.mid(0, 2),
              (QStringList{package_found, QStringLiteral("PROPFIND /dav/yunshanzhaji/ 207 Depth=0")}));
    for (const QString &line : second.mid(2))
        EXPECT_EQ(line, package_found);
    EXPECT_EQ(requests_with(QStringLiteral("MKCOL"), 1).size(), 1); // the folder exists now
    EXPECT_EQ(requests_with(QStringLiteral("PUT"), 2),
              (QStringList{QStringLiteral("PUT /dav/yunshanzhaji/notedb.zip 201 Depth=-"),
                           QStringLiteral("PUT /dav/yunshanzhaji/notedb.zip 204 Depth=-")}));
    const QString unpacked = dir.mkdir(QStringLiteral("second"));
    extract_package_file(package_on_share(), run.zip_password, unpacked);
    EXPECT_EQ(test::dump_database_file(unpacked + QStringLiteral("/notedb.sl3")), main_rows());
    // No package or temporary file is left beside the database.
    EXPECT_EQ(QDir(zhu).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("notedb.sl3")});
}

TEST_F(WebDavTest, WrongCredentialsAreReportedOnceAndKeepTheChangeMark)
{
    start();
    use_share(server->url(), kUser, QStringLiteral("wrong"));
    const QString refused =
        QStringLiteral("服务器 %1 不接受这个用户名和密码，请检查 webDAV 用户名和密码。本地笔记没有改动。")
            .arg(server_name(server->url()));
    // The look at the share's package is refused: nothing is created or sent after it.
    dialogs.expect_message(QStringLiteral("上传文件 notedb.zip 失败401。") + refused);
    dialogs.expect_message(dated(0) + QStringLiteral(" 备份成功。"));
    BackupContext c = context();
    backup_command(c, BackupRun::Command, BackupScope::UploadAndCopy);
    dialogs.verify_done();
    EXPECT_TRUE(store.changed()); // the upload failed: the next exit tries again
    EXPECT_FALSE(QFile::exists(package_on_share()));
    EXPECT_TRUE(requests_with(QStringLiteral("MKCOL"), 0).isEmpty());
    EXPECT_TRUE(requests_with(QStringLiteral("PUT"), 0).isEmpty());
}

TEST_F(WebDavTest, DownloadReturnsTheUploadedBytesAndKeepsTheClientHeaders)
{
    start();
    use_share(server->url(), kUser, kPassword);
    grow_main(300 * 1024);
    BackupContext c = context();
    backup_command(c, BackupRun::Command, BackupScope::UploadOnly); // "立即备份到网盘…": upload only
    dialogs.verify_done();
    EXPECT_FALSE(store.changed());
    EXPECT_FALSE(QFile::exists(dated(0)));

    QTemporaryFile target;
    ASSERT_TRUE(target.open());
    qint64 last_done = 0;
    qint64 last_total = 0;
    const DownloadResult r = download_package(session, {run.dav_url, run.dav_username, run.dav_password},
                                              target.fileName(), [&](TransferDirection d, qint64 total, qint64 done) {
                                                  if (d == TransferDirection::Receive) {
                                                      last_done = done;
                                                      last_total = total;
                                                  }
                                              });
    EXPECT_EQ(r.status, 200);
    const QByteArray uploaded = TempFolder::read(package_on_share());
    EXPECT_EQ(r.size, uploaded.size());
    EXPECT_EQ(TempFolder::read(target.fileName()), uploaded);
    EXPECT_EQ(last_done, uploaded.size());
    EXPECT_EQ(last_total, uploaded.size());
    // The client keeps the download's headers for later requests.
    EXPECT_TRUE(session.client.headers().contains(qMakePair(QByteArray("Cache-Control"), QByteArray("no-cache"))));
}

TEST_F(WebDavTest, NonAsciiUserNameAndPasswordWork)
{
    const QString user = QStringLiteral("张三ü");
    const QString password = QStringLiteral("密码:ß€ and a long tail to pass fifty-seven bytes of credentials");
    start(user, password);
    use_share(server->url(), user, password);
    BackupContext c = context();
    backup_command(c, BackupRun::AtExit, BackupScope::UploadAndCopy);
    dialogs.verify_done();
    EXPECT_EQ(database_in_package(), main_rows());
    HttpClient client;
    EXPECT_EQ(test_request(client, {run.dav_url, user, password}).status, 207);
    EXPECT_EQ(test_request(client, {run.dav_url, user, QStringLiteral("密码")}).status, 401);
}

TEST_F(WebDavTest, ConnectionTestFollowsARedirectWithMethodAndCredentials)
{
    start();
    HttpClient client;
    QString without_slash = server->url();
    without_slash.chop(1);
    EXPECT_EQ(test_request(client, {without_slash, kUser, kPassword}).status, 207);
    EXPECT_EQ(requests_with(QStringLiteral("PROPFIND"), 2),
              (QStringList{QStringLiteral("PROPFIND /dav 301 Depth=0"), QStringLiteral("PROPFIND /dav/ 207 Depth=0")}));
}

TEST_F(WebDavTest, ServerDroppingTheUploadLeavesTheDatabaseUntouchedAndOpen)
{
    test::DroppingServer dropping;
    use_share(dropping.url(), kUser, kPassword);
    grow_main(2 * 1024 * 1024);
    const QByteArray before = TempFolder::read(main_file());
    dialogs.expect_containing(ScriptedDialogs::Kind::Error,
                              QStringLiteral("备份到网盘失败：服务器 %1 在传输途中断开了连接。本地笔记没有改动。\n")
                                  .arg(server_name(dropping.url())));
    BackupContext c = context();
    backup_command(c, BackupRun::Command, BackupScope::UploadAndCopy);
    dialogs.verify_done();
    EXPECT_TRUE(store.changed());
    EXPECT_EQ(hides, 0); // the panel stays until closed
    EXPECT_FALSE(QFile::exists(dated(0)));
    ASSERT_TRUE(store.main_connected());
    EXPECT_EQ(TempFolder::read(main_file()), before);
    EXPECT_EQ(store.get_first_string(QStringLiteral("select value1 from set_table where key1='note'")),
              QStringLiteral("第一版"));
    EXPECT_EQ(QDir(zhu).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("notedb.sl3")});
}

TEST_F(WebDavTest, UnreachableShareAtExitIsReportedAndTheLocalCopyIsStillMade)
{
    use_share(QStringLiteral("http://127.0.0.1:%1/dav/").arg(test::closed_port()), kUser, kPassword);
    const QString unreachable =
        QStringLiteral("备份到网盘失败：连接不上服务器 %1，请检查网址、端口和网络。本地笔记没有改动。\n")
            .arg(server_name(run.dav_url));
    dialogs.expect_containing(ScriptedDialogs::Kind::Error, unreachable);
    BackupRun exit_mark = BackupRun::Command;
    BackupContext c = context();
    exit_backup_step(c, exit_mark);
    dialogs.verify_done();
    EXPECT_EQ(exit_mark, BackupRun::AtExit);
    EXPECT_TRUE(QFile::exists(dated(0)));
    EXPECT_TRUE(store.changed());
    EXPECT_TRUE(store.main_connected());

    // Started by the user, the same failure ends the command before the local copy.
    QFile::remove(dated(0));
    dialogs.expect_containing(ScriptedDialogs::Kind::Error, unreachable);
    backup_command(c, BackupRun::Command, BackupScope::UploadAndCopy);
    dialogs.verify_done();
    EXPECT_FALSE(QFile::exists(dated(0)));
}

TEST_F(WebDavTest, EscHeldAtTheFirstCheckSendsNothing)
{
    start();
    use_share(server->url(), kUser, kPassword);
    esc = true;
    BackupContext c = context();
    backup_command(c, BackupRun::Command, BackupScope::UploadAndCopy);
    dialogs.verify_done();
    EXPECT_EQ(hides, 1);
    EXPECT_TRUE(store.changed());
    EXPECT_TRUE(server->requests().isEmpty());
    EXPECT_FALSE(QFile::exists(dated(0)));
}

TEST_F(WebDavTest, RedirectWithinTheServerIsFollowedWithCredentialsAndBody)
{
    ApacheDav::Options options;
    options.extra_config = QStringLiteral("Redirect 307 /same http://127.0.0.1:%PORT%/dav");
    start(options);
    use_share(server->origin() + QStringLiteral("/same/"), kUser, kPassword);
    BackupContext c = context();
    backup_command(c, BackupRun::AtExit, BackupScope::UploadAndCopy);
    dialogs.verify_done();
    EXPECT_FALSE(store.changed());
    EXPECT_EQ(database_in_package(), main_rows());
    EXPECT_EQ(requests_with(QStringLiteral("PUT"), 2),
              (QStringList{QStringLiteral("PUT /same/yunshanzhaji/notedb.zip 307 Depth=-"),
                           QStringLiteral("PUT /dav/yunshanzhaji/notedb.zip 201 Depth=-")}));
}

TEST_F(WebDavTest, RedirectToAnotherOriginGetsNeitherCredentialsNorThePackage)
{
    test::UpdateServer other; // the same host, another port
    other.answer("/dav/yunshanzhaji/notedb.zip", 200, "the other server's file");
    ApacheDav::Options options;
    options.extra_config = QStringLiteral("Redirect 307 /moved ") + other.url() + QStringLiteral("/dav");
    start(options);
    use_share(server->origin() + QStringLiteral("/moved/"), kUser, kPassword);
    // The look at the package is sent to the other server: nothing follows it there.
    dialogs.expect_message(
        QStringLiteral("上传文件 notedb.zip 失败307。服务器 %1 要求转到另一个地址 %2，为了保护密码和"
                       "数据没有转过去。如果那个地址可信，请把 webDAV 网址改成它。本地笔记没有改动。")
            .arg(server_name(server->url()), other.url() + QStringLiteral("/dav/yunshanzhaji/notedb.zip")));
    BackupContext c = context();
    backup_command(c, BackupRun::Command, BackupScope::UploadOnly);
    dialogs.verify_done();
    EXPECT_TRUE(store.changed());
    EXPECT_TRUE(other.requests().isEmpty());
    // The connection test is not sent on either.
    HttpClient client;
    const HttpResponse tested = test_request(client, {run.dav_url, kUser, kPassword});
    EXPECT_EQ(tested.status, 307);
    EXPECT_EQ(tested.redirect, other.url() + QStringLiteral("/dav/"));
    EXPECT_TRUE(other.requests().isEmpty());

    // A download may follow, without the credentials.
    QTemporaryFile target;
    ASSERT_TRUE(target.open());
    const DownloadResult got = download_package(session, {run.dav_url, kUser, kPassword}, target.fileName());
    EXPECT_EQ(got.status, 200);
    EXPECT_EQ(TempFolder::read(target.fileName()), QByteArray("the other server's file"));
    ASSERT_EQ(other.requests().size(), 1);
    EXPECT_TRUE(other.requests().front().startsWith(QStringLiteral("GET /dav/yunshanzhaji/notedb.zip ")));
    EXPECT_FALSE(other.requests().front().contains(QStringLiteral("Authorization"), Qt::CaseInsensitive));
}

TEST_F(WebDavTest, EscDuringThePutCancelsItAndSaysSo)
{
    start();
    use_share(server->url(), kUser, kPassword);
    grow_main(2 * 1024 * 1024);
    session.client.set_send_speed_limit(512 * 1024); // the PUT takes a few seconds
    const QString put_url = webdav_package_url(run.dav_url);
    dialogs.expect_message(QStringLiteral("已取消备份到网盘。本地笔记没有改动。\nThe request to ") + put_url +
                           QStringLiteral(" was cancelled"));
    BackupContext c = context();
    c.panel.transfer = [this](TransferDirection d, qint64, qint64 done) {
        if (d == TransferDirection::Send && done > 0)
            esc = true; // pressed while the package goes up
    };
    backup_command(c, BackupRun::Command, BackupScope::UploadAndCopy);
    dialogs.verify_done();
    EXPECT_EQ(hides, 1);
    EXPECT_TRUE(store.changed());
    EXPECT_FALSE(QFile::exists(dated(0)));
    EXPECT_TRUE(store.main_connected());
    EXPECT_EQ(QDir(zhu).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("notedb.sl3")});
}

TEST_F(WebDavTest, ShareWithItsOwnCertificateWorksOnlyWithItsKeyPinned)
{
    ApacheDav::Options options;
    options.tls = true;
    start(options);
    use_share(server->url(), kUser, kPassword);
    // Without consent the certificate stays refused: at exit the local copy is still made.
    dialogs.expect_containing(ScriptedDialogs::Kind::Error,
                              QStringLiteral("备份到网盘失败：服务器 %1 的证书不受信任（例如家用 NAS 自己签发的证书）。"
                                             "可以在设置里按“测试”，核对证书指纹后信任它。本地笔记没有改动。\n")
                                  .arg(server_name(server->url())));
    BackupContext c = context();
    backup_command(c, BackupRun::AtExit, BackupScope::UploadAndCopy);
    dialogs.verify_done();
    EXPECT_TRUE(QFile::exists(dated(0)));
    EXPECT_TRUE(store.changed());

    HttpClient probe;
    const QByteArray pin = public_key_pin(probe.fetch_certificate(server->url()).der);
    session.client.set_pin_lookup([pin](const QString &) { return pin; });
    backup_command(c, BackupRun::AtExit, BackupScope::UploadAndCopy);
    dialogs.verify_done();
    EXPECT_FALSE(store.changed());
    EXPECT_EQ(database_in_package(), main_rows());
}

// The words of the statuses the shares answer, beyond those the tests above meet for real.
TEST(TransferErrorText, StatusesInWords)
{
    const QString url = QStringLiteral("https://nas.example:5006/dav/");
    HttpResponse r;
    struct Case {
        TransferStep step;
        int status;
        QString text;
    };
    const Case cases[] = {
        {TransferStep::Download, 401,
         QStringLiteral(
             "从网盘下载失败，大小421 错误码401。服务器 nas.example:5006 不接受这个用户名和密码，请检查 webDAV "
             "用户名和密码。本地笔记没有改动。")},
        {TransferStep::Download, 404,
         QStringLiteral("从网盘下载失败，大小421 错误码404。网盘 nas.example:5006 上还没有备份文件 "
                        "yunshanzhaji/notedb.zip，请先备份到网盘，或者检查网址。本地笔记没有改动。")},
        {TransferStep::Test, 403,
         QStringLiteral(
             "备份网盘测试失败，错误码：403。服务器 nas.example:5006 不允许这个账号访问这里，请检查网址和账号的"
             "权限。")},
        {TransferStep::Test, 405,
         QStringLiteral("备份网盘测试失败，错误码：405。服务器 nas.example:5006 上的这个地址不是 webDAV 文件夹，请检查 "
                        "webDAV 网址。")},
        {TransferStep::CreateFolder, 405,
         QStringLiteral("创建文件夹 yunshanzhaji 失败。错误码405。服务器 nas.example:5006 不允许在这里建文件夹（文件夹"
                        "可能已经存在）。本地笔记没有改动。")},
        {TransferStep::CreateFolder, 409,
         QStringLiteral("创建文件夹 yunshanzhaji 失败。错误码409。服务器 nas.example:5006 上缺少上一级文件夹，请检查 "
                        "webDAV 网址。本地笔记没有改动。")},
        {TransferStep::Upload, 423,
         QStringLiteral(
             "上传文件 notedb.zip 失败423。网盘 nas.example:5006 上的文件被锁定了，可能另一台电脑正在传输，请"
             "稍后再试。本地笔记没有改动。")},
        {TransferStep::Upload, 507,
         QStringLiteral("上传文件 notedb.zip 失败507。网盘 nas.example:5006 的空间不够了。本地笔记没有改动。")},
        {TransferStep::Upload, 502,
         QStringLiteral(
             "上传文件 notedb.zip 失败502。服务器 nas.example:5006 内部出错，请稍后再试。本地笔记没有改动。")},
        {TransferStep::Upload, 207,
         QStringLiteral(
             "上传文件 notedb.zip 失败207。服务器 nas.example:5006 的回答不表示文件已经保存。本地笔记没有改动。")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.status);
        r.status = c.status;
        r.body_size = 421;
        EXPECT_EQ(transfer_error_text(c.step, url, r), c.text);
    }
}

} // namespace
} // namespace yunshan
