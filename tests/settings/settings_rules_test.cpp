// The settings dialog's rules against real folders, settings files and databases.
#include "backup/tls_trust.h"
#include "backup/transfer_errors.h"
#include "platform/paths.h"
#include "platform/settings_store.h"
#include "settings/settings_rules.h"
#include "store/connection.h"
#include "store/note_store.h"
#include "store/set_table.h"
#include "support/db_check.h"
#include "support/scripted_dialogs.h"
#include "support/temp_folder.h"
#include "support/webdav_server.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace yunshan {
namespace {

using test::ScriptedDialogs;
using test::TempFolder;

const QString kConnected = QStringLiteral("配置保存成功，数据库连接成功。");
const QString kNotConnected = QStringLiteral("配置保存成功，数据库连接失败。");
const QString kSame = QStringLiteral("主备数据库文件夹不能相同。");
const QString kAdvice =
    QStringLiteral("您勾选了启动同步和退出保存，如是第一次在本机启用，为防关闭程序时新数据库覆盖网盘内老数据库，"
                   "建议按“立即同步”按钮先从网上同步数据。");
const QString kIncomplete = QStringLiteral(" webDAV没有启用，配置需要网址和用户名以及密码，缺一不可。");

// ---- Folders ----

TEST(SettingsFolders, TrailingSeparatorsAreRemoved)
{
    const struct {
        const char *in, *out;
    } cases[] = {
        {"/home/a/n/", "/home/a/n"},
        {"/home/a/n\\", "/home/a/n"},
        {"/home/a/n//", "/home/a/n"},
        {"/home/a/n", "/home/a/n"},
        {"/", "/"},
        {"", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(strip_trailing_separators(QString::fromUtf8(c.in)), QString::fromUtf8(c.out)) << c.in;
}

TEST(SettingsFolders, RelativeFoldersAreStoredAbsolute)
{
    const QString n = normalise_folder(QStringLiteral("笔记/"));
    EXPECT_TRUE(QDir::isAbsolutePath(n));
    EXPECT_EQ(n, QDir::current().absoluteFilePath(QStringLiteral("笔记")));
}

TEST(SettingsFolders, OneFolderWrittenInDifferentWaysIsTheSame)
{
    TempFolder dir;
    const QString real = dir.mkdir(QStringLiteral("real"));
    ASSERT_TRUE(QFile::link(real, dir.file(QStringLiteral("link"))));
    const QString base = dir.path();
    const struct {
        QString a, b;
        bool same;
    } cases[] = {
        {real, real + QStringLiteral("/"), true},
        {real, base + QStringLiteral("/./real"), true},
        {real, base + QStringLiteral("/real/sub/.."), true},
        {real, base + QStringLiteral("/link"), true},
        // Not yet created: compared as they will be.
        {real + QStringLiteral("/新"), base + QStringLiteral("/link/新/"), true},
        {base + QStringLiteral("/none/a"), base + QStringLiteral("/none/./a"), true},
        {real, base + QStringLiteral("/other"), false},
        {real + QStringLiteral("/a"), real + QStringLiteral("/b"), false},
        {real, real + QStringLiteral("/sub"), false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(same_folder(c.a, c.b), c.same) << c.a.toStdString() << " vs " << c.b.toStdString();
}

// ---- First-run proposal ----

TEST(SettingsProposal, FirstUsableDriveOfTheUserIsProposed)
{
    const QString base = QStringLiteral("/dev/sda1 / ext4 rw,relatime 0 0\n"
                                        "tmpfs /run/user/1000 tmpfs rw,nosuid 0 0\n"
                                        "/dev/sr0 /media/alice/CDROM iso9660 ro,nosuid 0 0\n"
                                        "/dev/sdc1 /media/bob/BOB vfat rw 0 0\n"
                                        "tmpfs /mnt/ram tmpfs rw 0 0\n");
    const struct {
        QString extra;
        QString drive;
    } cases[] = {
        {QString(), QString()},
        {QStringLiteral("/dev/sdb1 /media/alice/U\\040盘 vfat rw,nosuid 0 0\n"), QStringLiteral("/media/alice/U 盘")},
        {QStringLiteral("/dev/sdb1 /run/media/alice/Data ext4 rw 0 0\n"), QStringLiteral("/run/media/alice/Data")},
        {QStringLiteral("//nas/share /mnt/nas cifs rw 0 0\n/dev/sdb1 /media/alice/U vfat rw 0 0\n"),
         QStringLiteral("/mnt/nas")},
        {QStringLiteral("nas:/export /mnt nfs4 rw 0 0\n"), QStringLiteral("/mnt")},
        {QStringLiteral("/dev/sdb1 /media/alice/RO ext4 ro 0 0\n"), QString()},
        {QStringLiteral("/dev/sdb1 /media/alice ext4 rw 0 0\n"), QString()},
    };
    for (const auto &c : cases)
        EXPECT_EQ(proposed_backup_drive(base + c.extra, QStringLiteral("alice")), c.drive) << c.extra.toStdString();
}

TEST(SettingsProposal, DocumentsAndDriveMakeTheFolders)
{
    ProposalSources sources;
    sources.documents_folder = [] { return QStringLiteral("/home/alice/文档/"); };
    sources.mount_table = [] { return QStringLiteral("/dev/sdb1 /media/alice/U ext4 rw 0 0\n"); };
    sources.user = QStringLiteral("alice");
    SettingsFields f;
    propose_first_run(f, sources);
    EXPECT_EQ(f.zhu_db, QStringLiteral("/home/alice/文档/云杉札记"));
    EXPECT_EQ(f.bei_db, QStringLiteral("/media/alice/U/云杉札记备份"));

    sources.mount_table = [] { return QString(); };
    f.bei_db = QStringLiteral("/typed/before");
    propose_first_run(f, sources);
    EXPECT_EQ(f.bei_db, QStringLiteral("/typed/before"));
}

// ---- Save and test ----

class SettingsSaveTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        set_program_folder_override(dir.mkdir(QStringLiteral("program")));
        settings = std::make_unique<SettingsStore>(dir.file(QStringLiteral("YunShanNote.ini")));
        fields.zhu_db = dir.file(QStringLiteral("文档/云杉札记"));
        fields.bei_db = dir.file(QStringLiteral("U盘/云杉札记备份"));
    }
    void TearDown() override { set_program_folder_override({}); }

    SettingsTarget target()
    {
        SettingsTarget t{store, run, dialogs, [this] { ++read_only_calls; }, {}, {}, {}};
        t.test_connection = [this](const WebDavAccount &account) { return test_request(client, account); };
        t.fetch_certificate = [this](const QString &url) { return client.fetch_certificate(url); };
        t.trust_certificate = [this](const ServerCertificate &c) {
            store_trusted_key(*settings, c.origin, public_key_pin(c.der));
        };
        // The client trusts the keys of the settings, as the main window's does.
        client.set_pin_lookup([this](const QString &origin) { return trusted_key(*settings, origin); });
        return t;
    }
    SaveResult save() { return save_settings(fields, *settings, target()); }
    void fill_webdav(bool start, bool exit)
    {
        fields.dav_url = QStringLiteral("https://dav.example.org/dav");
        fields.dav_username = QStringLiteral("o'neil");
        fields.dav_password = QStringLiteral("p'w");
        fields.zip_password = QStringLiteral("z'ip");
        fields.start_download = start;
        fields.exit_upload = exit;
    }
    qint64 rows(const QString &key)
    {
        return store.get_first_integer(QStringLiteral("select count(*) from set_table where key1='") + key +
                                       QStringLiteral("'"));
    }

    TempFolder dir;
    HttpClient client;
    std::unique_ptr<SettingsStore> settings;
    NoteStore store{QStringLiteral("yunshan_note_settings_test")};
    RunSettings run;
    ScriptedDialogs dialogs;
    SettingsFields fields;
    int read_only_calls = 0;
};

TEST_F(SettingsSaveTest, FirstSaveCreatesBothDatabasesAndStoresTheSettings)
{
    fields.zhu_db += QStringLiteral("/");
    fields.tian.clear();
    dialogs.expect_message(kConnected);
    const SaveResult r = save();
    EXPECT_FALSE(r.invalid);
    EXPECT_TRUE(r.connected);
    EXPECT_EQ(r.status, kMainAndBackup);
    EXPECT_FALSE(r.keep_open);

    const QString zhu = dir.file(QStringLiteral("文档/云杉札记"));
    EXPECT_EQ(fields.zhu_db, zhu); // the edit shows the stored text
    EXPECT_EQ(fields.tian, QStringLiteral("0"));
    EXPECT_TRUE(QFileInfo::exists(zhu + QStringLiteral("/notedb.sl3")));
    EXPECT_TRUE(QFileInfo::exists(fields.bei_db + QStringLiteral("/notedb.sl3")));
    EXPECT_EQ(settings->zhu_db(), zhu);
    EXPECT_EQ(settings->bei_db(), fields.bei_db);
    EXPECT_EQ(settings->auto_backup(), QStringLiteral("1"));
    EXPECT_EQ(settings->tian(), QStringLiteral("0"));
    EXPECT_EQ(run.zhu_db, zhu);
    EXPECT_EQ(run.bei_db, fields.bei_db);
    EXPECT_EQ(run.auto_backup, QStringLiteral("1"));
    EXPECT_EQ(run.tian, QStringLiteral("0"));
    EXPECT_EQ(set_table::read_tmp_file1(store), QStringLiteral("000"));
    EXPECT_EQ(store.get_first_string(QStringLiteral("select caption from Class")), QStringLiteral("默认大类"));
    test::expect_mirror_identical(store);
}

TEST_F(SettingsSaveTest, SavingAgainKeepsOneAutosaveRow)
{
    dialogs.expect_message(kConnected).expect_message(kConnected);
    save();
    fields.auto_backup = false;
    save();
    EXPECT_EQ(rows(QStringLiteral("tmp_file1")), 1);
    EXPECT_EQ(settings->auto_backup(), QStringLiteral("0"));
}

TEST_F(SettingsSaveTest, InvalidFoldersWriteNothing)
{
    const QString bei = fields.bei_db;
    QDir().mkpath(bei);
    ASSERT_TRUE(QFile::link(bei, dir.file(QStringLiteral("link"))));
    const struct {
        QString zhu;
        QString text;
    } cases[] = {
        {QString(), QStringLiteral("主数据库文件夹必填。")},
        {bei, kSame},
        {bei + QStringLiteral("/"), kSame},
        {bei + QStringLiteral("/."), kSame},
        {dir.file(QStringLiteral("link")), kSame},
    };
    for (const auto &c : cases) {
        fields.zhu_db = c.zhu;
        fields.bei_db = bei;
        dialogs.expect_message(c.text);
        EXPECT_TRUE(save().invalid) << c.zhu.toStdString();
    }
    EXPECT_FALSE(settings->exists());
    EXPECT_FALSE(QFileInfo::exists(bei + QStringLiteral("/notedb.sl3")));
    EXPECT_FALSE(store.main_connected());
}

TEST_F(SettingsSaveTest, MainFolderThatCannotBeMadeReportsTheFailedConnection)
{
    // A plain file where a folder should be: neither the folder nor the database can be made.
    TempFolder::write(dir.file(QStringLiteral("blocker")), "x");
    fields.zhu_db = dir.file(QStringLiteral("blocker/notes"));
    fields.bei_db.clear();
    fill_webdav(true, false);
    dialogs.expect_message(kNotConnected);
    const SaveResult r = save();
    EXPECT_FALSE(r.connected);
    EXPECT_FALSE(store.main_connected());
    EXPECT_EQ(settings->zhu_db(), fields.zhu_db); // the next start uses it
    EXPECT_FALSE(run.webdav_qdxz);                // the WebDAV part was skipped
    EXPECT_TRUE(run.dav_url.isEmpty());
}

TEST_F(SettingsSaveTest, CompleteWebdavSettingsAreStoredOncePerKey)
{
    fill_webdav(false, true);
    dialogs.expect_message(kConnected).expect_message(kConnected);
    save();
    save();
    EXPECT_EQ(run.dav_url, QStringLiteral("https://dav.example.org/dav/"));
    EXPECT_FALSE(run.webdav_qdxz);
    EXPECT_TRUE(run.webdav_tcbc);
    EXPECT_EQ(run.dav_username, QStringLiteral("o'neil"));
    EXPECT_EQ(run.zip_password, QStringLiteral("z'ip"));
    EXPECT_EQ(set_table::read(store, set_table::key_start_download()), QStringLiteral("0"));
    EXPECT_EQ(set_table::read(store, set_table::key_exit_upload()), QStringLiteral("1"));
    EXPECT_EQ(set_table::read(store, set_table::key_dav_url()), QStringLiteral("https://dav.example.org/dav/"));
    EXPECT_EQ(set_table::read(store, set_table::key_dav_username()), QStringLiteral("o'neil"));
    EXPECT_EQ(set_table::read(store, set_table::key_dav_password()), QStringLiteral("p'w"));
    EXPECT_EQ(set_table::read(store, set_table::key_zip_password()), QStringLiteral("z'ip"));
    for (const QString &key :
         {set_table::key_start_download(), set_table::key_exit_upload(), set_table::key_dav_url(),
          set_table::key_dav_username(), set_table::key_dav_password(), set_table::key_zip_password()})
        EXPECT_EQ(rows(key), 1) << key.toStdString();
    test::expect_mirror_identical(store);
}

TEST_F(SettingsSaveTest, BothSwitchesShowTheAdviceAndKeepTheDialogOpen)
{
    fill_webdav(true, true);
    dialogs.expect_warning(QStringLiteral("建议"), kAdvice).expect_message(kConnected);
    EXPECT_TRUE(save().keep_open);
    EXPECT_TRUE(run.webdav_qdxz);
}

TEST_F(SettingsSaveTest, ClearedOrPartialWebdavFieldsKeepTheEarlierSettings)
{
    fill_webdav(true, false);
    dialogs.expect_message(kConnected);
    save();
    const RunSettings before = run;

    const struct {
        QString url, user, password;
        bool switch_on;
        QString text;
    } cases[] = {
        {QString(), QString(), QString(), false, kConnected},
        {QString(), QString(), QString(), true, kConnected},
        {QStringLiteral("https://other/"), QString(), QString(), true, kConnected + kIncomplete},
        {QString(), QStringLiteral("u"), QStringLiteral("p"), false, kConnected},
    };
    for (const auto &c : cases) {
        fields.dav_url = c.url;
        fields.dav_username = c.user;
        fields.dav_password = c.password;
        fields.zip_password = QStringLiteral("new");
        fields.start_download = false;
        fields.exit_upload = c.switch_on;
        dialogs.expect_message(c.text);
        save();
        EXPECT_EQ(run.webdav_qdxz, before.webdav_qdxz);
        EXPECT_EQ(run.webdav_tcbc, before.webdav_tcbc);
        EXPECT_EQ(run.dav_url, before.dav_url);
        EXPECT_EQ(run.zip_password, before.zip_password);
        EXPECT_EQ(set_table::read(store, set_table::key_start_download()), QStringLiteral("1"));
        EXPECT_EQ(set_table::read(store, set_table::key_dav_url()), QStringLiteral("https://dav.example.org/dav/"));
        EXPECT_EQ(set_table::read(store, set_table::key_zip_password()), QStringLiteral("z'ip"));
    }
}

TEST_F(SettingsSaveTest, TestReportsTheFoldersAndReturnsToTheDatabaseInUse)
{
    dialogs.expect_message(kConnected);
    save();
    const QString in_use = store.main().path();
    const RunSettings before = run;

    TempFolder::write(dir.file(QStringLiteral("blocker")), "x");
    const QString other = dir.mkdir(QStringLiteral("other"));
    const struct {
        QString zhu, bei, text;
    } cases[] = {
        {other, QString(), QStringLiteral("主数据库连接成功。")},
        {other, dir.mkdir(QStringLiteral("other_backup")), QStringLiteral("主备两个数据库都连接成功。")},
        {dir.file(QStringLiteral("blocker/x")), QString(), QStringLiteral("两个数据库都连接失败。")},
        {other, other + QStringLiteral("/"), kSame},
        {QString(), QString(), QStringLiteral("主数据库文件夹必填。")},
    };
    for (const auto &c : cases) {
        SettingsFields f = fields;
        f.zhu_db = c.zhu;
        f.bei_db = c.bei;
        f.tian = QStringLiteral("3");
        dialogs.expect_message(c.text);
        EXPECT_EQ(test_settings(f, target()), c.text != kSame && !c.zhu.isEmpty());
        EXPECT_EQ(store.main().path(), in_use);
        EXPECT_TRUE(store.backup_connected());
        EXPECT_EQ(run.zhu_db, before.zhu_db);
        EXPECT_EQ(run.tian, before.tian);
    }
    EXPECT_TRUE(QFileInfo::exists(other + QStringLiteral("/notedb.sl3")));
    EXPECT_EQ(read_only_calls, 0);
    EXPECT_EQ(settings->zhu_db(), before.zhu_db);
}

TEST_F(SettingsSaveTest, TestWithWebdavFieldsSendsTheDialogsCredentialsToTheShare)
{
    test::ApacheDav server(QStringLiteral("云杉"), QStringLiteral("密:码"));
    ASSERT_TRUE(server.started()) << server.error().toStdString();
    QDir().mkpath(fields.zhu_db);
    QDir().mkpath(fields.bei_db);
    struct Case {
        QString password;
        QString text;
    };
    const QString base = server.url().chopped(1); // "/" is appended as in the save
    for (const Case &c : {Case{QStringLiteral("密:码"), QStringLiteral("备份网盘测试成功。")},
                          Case{QStringLiteral("wrong"),
                               QStringLiteral("备份网盘测试失败，错误码：401。服务器 %1 不接受这个用户名和密码，请检查 "
                                              "webDAV 用户名和密码。")
                                   .arg(server_name(server.url()))}}) {
        SCOPED_TRACE(c.text.toStdString());
        fields.dav_url = base;
        fields.dav_username = QStringLiteral("云杉");
        fields.dav_password = c.password;
        fields.zip_password = QStringLiteral("z'ip");
        dialogs.expect_message(QStringLiteral("主备两个数据库都连接成功。")).expect_message(c.text);
        EXPECT_TRUE(test_settings(fields, target()));
        dialogs.verify_done();
        // Live for the run, not stored.
        EXPECT_EQ(run.dav_url, server.url());
        EXPECT_EQ(run.dav_password, c.password);
        EXPECT_EQ(run.zip_password, QStringLiteral("z'ip"));
    }
    EXPECT_FALSE(store.main_connected()); // nothing was open before
}

TEST_F(SettingsSaveTest, TestOfAShareWithItsOwnCertificateAsksOnceAndKeepsItsKey)
{
    test::ApacheDav::Options options;
    options.tls = true;
    test::ApacheDav server(QStringLiteral("u"), QStringLiteral("p"), options);
    ASSERT_TRUE(server.started()) << server.error().toStdString();
    QDir().mkpath(fields.zhu_db);
    fields.bei_db.clear();
    fields.dav_url = server.url();
    fields.dav_username = QStringLiteral("u");
    fields.dav_password = QStringLiteral("p");
    HttpClient other;
    const ServerCertificate certificate = other.fetch_certificate(server.url());
    const QString origin = QStringLiteral("127.0.0.1:%1").arg(server.port());
    const QString question = trust_question(certificate, false);
    EXPECT_TRUE(question.startsWith(QStringLiteral("网盘服务器 %1 的证书不是公认的证书机构签发的").arg(origin)));
    EXPECT_TRUE(question.contains(certificate_fingerprint(certificate.der).left(47))) << question.toStdString();

    // Declined: refused as before, nothing kept.
    dialogs.expect_message(QStringLiteral("主数据库连接成功。"))
        .expect_question(question, Dialogs::Answer::No)
        .expect_containing(ScriptedDialogs::Kind::Error,
                           QStringLiteral("备份网盘测试失败：服务器 %1 的证书不受信任（例如家用 NAS 自己签发的证书），"
                                          "没有信任就不会连接。\n")
                               .arg(origin));
    EXPECT_TRUE(test_settings(fields, target()));
    dialogs.verify_done();
    EXPECT_TRUE(trusted_key(*settings, origin).isEmpty());

    // Trusted: the key goes into this computer's settings, and the next test asks nothing.
    dialogs.expect_message(QStringLiteral("主数据库连接成功。"))
        .expect_question(question, Dialogs::Answer::Yes)
        .expect_message(QStringLiteral("备份网盘测试成功。"));
    EXPECT_TRUE(test_settings(fields, target()));
    dialogs.verify_done();
    EXPECT_EQ(trusted_key(*settings, origin), public_key_pin(certificate.der));
    dialogs.expect_message(QStringLiteral("主数据库连接成功。")).expect_message(QStringLiteral("备份网盘测试成功。"));
    EXPECT_TRUE(test_settings(fields, target()));
    dialogs.verify_done();

    // Another key than the trusted one: the question says so.
    store_trusted_key(*settings, origin, "sha256//AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=");
    client.close_connections();
    const QString changed = trust_question(certificate, true);
    EXPECT_TRUE(changed.startsWith(
        QStringLiteral("注意：网盘服务器 %1 出示的证书和以前信任的不一样，可能有人冒充这台服务器。").arg(origin)));
    dialogs.expect_message(QStringLiteral("主数据库连接成功。"))
        .expect_question(changed, Dialogs::Answer::Yes)
        .expect_message(QStringLiteral("备份网盘测试成功。"));
    EXPECT_TRUE(test_settings(fields, target()));
    dialogs.verify_done();
    EXPECT_EQ(trusted_key(*settings, origin), public_key_pin(certificate.der));
}

TEST_F(SettingsSaveTest, TestOfAShareThatIsDownSaysSo)
{
    const int port = test::closed_port();
    fields.dav_url = QStringLiteral("http://127.0.0.1:%1/dav/").arg(port);
    fields.dav_username = QStringLiteral("u");
    fields.dav_password = QStringLiteral("p");
    QDir().mkpath(fields.zhu_db);
    fields.bei_db.clear();
    dialogs.expect_message(QStringLiteral("主数据库连接成功。"))
        .expect_containing(
            ScriptedDialogs::Kind::Error,
            QStringLiteral("备份网盘测试失败：连接不上服务器 127.0.0.1:%1，请检查网址、端口和网络。\n").arg(port));
    EXPECT_TRUE(test_settings(fields, target()));
    dialogs.verify_done();
}

} // namespace
} // namespace yunshan
