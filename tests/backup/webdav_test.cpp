// The upload, download and connection test against a real Apache httpd with mod_dav and Basic
// authentication on 127.0.0.1, and against a server that drops the connection mid-upload.
#include "backup/http_client.h"
#include "backup/local_backup.h"
#include "backup/webdav.h"
#include "backup/zip_package.h"
#include "backup_test_util.h"
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
    void start(const QString &user = kUser, const QString &password = kPassword)
    {
        server = std::make_unique<ApacheDav>(user, password);
        ASSERT_TRUE(server->started()) << server->error().toStdString();
    }
    QString package_on_share() const { return server->share() + QStringLiteral("/yunshanzhaji/notedb.zip"); }
    // The database as the package on the share holds it.
    QByteArray database_in_package(const QString &password = QString())
    {
        const QString out = dir.mkdir(QStringLiteral("unpacked"));
        extract_package_file(package_on_share(), password, out);
        return TempFolder::read(out + QStringLiteral("/notedb.sl3"));
    }
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
    backup_command(c, 1, 0); // at exit: no success box
    dialogs.verify_done();   // no message at all
    EXPECT_FALSE(store.changed());
    EXPECT_EQ(database_in_package(run.zip_password), TempFolder::read(main_file()));
    EXPECT_TRUE(QFile::exists(dated(0)));
    EXPECT_EQ(shown_lines, (QStringList{QStringLiteral("正在备份……"), QStringLiteral("正在创建文件夹……"),
                                        QStringLiteral("正在压缩数据……"), QStringLiteral("正在上传数据……"),
                                        QStringLiteral("上传成功"), QStringLiteral("正在本地备份……")}));
    // Folders are asked for with Depth 0 and a trailing slash; the main database is open again.
    EXPECT_EQ(requests_with(QStringLiteral("PROPFIND"), 1),
              QStringList{QStringLiteral("PROPFIND /dav/yunshanzhaji/ 404 Depth=0")});
    EXPECT_EQ(requests_with(QStringLiteral("MKCOL"), 1),
              QStringList{QStringLiteral("MKCOL /dav/yunshanzhaji/ 201 Depth=-")});
    ASSERT_TRUE(store.main_connected());

    write_row(QStringLiteral("note"), QStringLiteral("第二版"));
    store.set_changed(true);
    backup_command(c, 1, 0);
    dialogs.verify_done();
    EXPECT_FALSE(store.changed());
    EXPECT_EQ(requests_with(QStringLiteral("PROPFIND"), 2).last(),
              QStringLiteral("PROPFIND /dav/yunshanzhaji/ 207 Depth=0"));
    EXPECT_EQ(requests_with(QStringLiteral("MKCOL"), 1).size(), 1); // the folder exists now
    EXPECT_EQ(requests_with(QStringLiteral("PUT"), 2),
              (QStringList{QStringLiteral("PUT /dav/yunshanzhaji/notedb.zip 201 Depth=-"),
                           QStringLiteral("PUT /dav/yunshanzhaji/notedb.zip 204 Depth=-")}));
    const QString unpacked = dir.mkdir(QStringLiteral("second"));
    extract_package_file(package_on_share(), run.zip_password, unpacked);
    EXPECT_EQ(TempFolder::read(unpacked + QStringLiteral("/notedb.sl3")), TempFolder::read(main_file()));
    // No package or temporary file is left beside the database.
    EXPECT_EQ(QDir(zhu).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("notedb.sl3")});
}

TEST_F(WebDavTest, WrongCredentialsReportTheStatusesAndKeepTheChangeMark)
{
    start();
    use_share(server->url(), kUser, QStringLiteral("wrong"));
    dialogs.expect_message(QStringLiteral("创建文件夹 yunshanzhaji 失败。错误码401"));
    dialogs.expect_message(QStringLiteral("上传文件 notedb.zip 失败401"));
    dialogs.expect_message(dated(0) + QStringLiteral(" 备份成功。"));
    BackupContext c = context();
    backup_command(c, 0, 0);
    dialogs.verify_done();
    EXPECT_TRUE(store.changed()); // the upload failed: the next exit tries again
    EXPECT_FALSE(QFile::exists(package_on_share()));
}

TEST_F(WebDavTest, DownloadReturnsTheUploadedBytesAndKeepsTheClientHeaders)
{
    start();
    use_share(server->url(), kUser, kPassword);
    grow_main(300 * 1024);
    BackupContext c = context();
    backup_command(c, 0, 1); // "立即备份到网盘…": upload only
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
    backup_command(c, 1, 0);
    dialogs.verify_done();
    EXPECT_EQ(database_in_package(), TempFolder::read(main_file()));
    HttpClient client;
    EXPECT_EQ(test_request(client, {run.dav_url, user, password}), 207);
    EXPECT_EQ(test_request(client, {run.dav_url, user, QStringLiteral("密码")}), 401);
}

TEST_F(WebDavTest, ConnectionTestFollowsARedirectWithMethodAndCredentials)
{
    start();
    HttpClient client;
    QString without_slash = server->url();
    without_slash.chop(1);
    EXPECT_EQ(test_request(client, {without_slash, kUser, kPassword}), 207);
    EXPECT_EQ(requests_with(QStringLiteral("PROPFIND"), 2),
              (QStringList{QStringLiteral("PROPFIND /dav 301 Depth=0"), QStringLiteral("PROPFIND /dav/ 207 Depth=0")}));
}

TEST_F(WebDavTest, ServerDroppingTheUploadLeavesTheDatabaseUntouchedAndOpen)
{
    test::DroppingServer dropping;
    use_share(dropping.url(), kUser, kPassword);
    grow_main(2 * 1024 * 1024);
    const QByteArray before = TempFolder::read(main_file());
    BackupContext c = context();
    EXPECT_THROW(backup_command(c, 0, 0), HttpError);
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
    dialogs.expect_containing(ScriptedDialogs::Kind::Error, QStringLiteral("127.0.0.1"));
    int exit_mark = 0;
    BackupContext c = context();
    exit_backup_step(c, exit_mark);
    dialogs.verify_done();
    EXPECT_EQ(exit_mark, 1);
    EXPECT_TRUE(QFile::exists(dated(0)));
    EXPECT_TRUE(store.changed());
    EXPECT_TRUE(store.main_connected());

    // Started by the user, the same failure ends the command before the local copy.
    QFile::remove(dated(0));
    EXPECT_THROW(backup_command(c, 0, 0), HttpError);
    EXPECT_FALSE(QFile::exists(dated(0)));
}

TEST_F(WebDavTest, EscHeldAtTheFirstCheckSendsNothing)
{
    start();
    use_share(server->url(), kUser, kPassword);
    esc = true;
    BackupContext c = context();
    backup_command(c, 0, 0);
    dialogs.verify_done();
    EXPECT_EQ(hides, 1);
    EXPECT_TRUE(store.changed());
    EXPECT_TRUE(server->requests().isEmpty());
    EXPECT_FALSE(QFile::exists(dated(0)));
}

} // namespace
} // namespace yunshan
