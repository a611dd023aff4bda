// The sync with the WebDAV share: the download in place of the main database when only the share
// changed, against a real Apache share.
#include "backup/cloud_sync.h"
#include "backup/transfer_errors.h"
#include "backup/zip_package.h"
#include "backup_test_util.h"
#include "store/connection.h"
#include "store/set_table.h"
#include "support/db_check.h"
#include "support/share_peer.h"
#include "support/webdav_server.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

namespace yunshan {
namespace {

using test::BackupTest;

class CloudSyncTest : public BackupTest {
  protected:
    void SetUp() override
    {
        BackupTest::SetUp();
        ASSERT_TRUE(server.started()) << server.error().toStdString();
        use_share(server.url(), QStringLiteral("u"), QStringLiteral("p'w"));
        run.zip_password = QStringLiteral("z'ip");
    }

    WebDavAccount account() const { return {run.dav_url, run.dav_username, run.dav_password}; }
    // Uploads the main database as it stands, without recording what the share holds.
    void publish()
    {
        UploadSteps steps;
        ASSERT_EQ(upload_package(session, account(), main_database_file(store, run), run.zip_password, dialogs, steps),
                  UploadOutcome::Uploaded);
    }
    // The share's package replaced by the file `package` (its folder made by a first upload).
    void replace_package(const QString &package)
    {
        publish();
        HttpRequest put;
        put.method = "PUT";
        put.url = webdav_package_url(run.dav_url);
        put.body_file = package;
        ASSERT_EQ(session.send(put).status, 204);
    }
    // This machine and the share hold the same notes and this machine knows it.
    void synced()
    {
        publish();
        ASSERT_TRUE(download());
        dialogs.verify_done();
    }
    // Another machine uploads the main database as it stands with `sql` applied.
    void other_machine_uploads(const QString &sql)
    {
        test::upload_changed_copy(main_database_file(store, run), sql, account(), run.zip_password,
                                  dir.path() + QStringLiteral("/other"));
    }
    void other_machine_sets(const QString &key, const QString &value)
    {
        other_machine_uploads(QStringLiteral("delete from set_table where key1='%1';"
                                             "insert into set_table(key1,value1) values('%1','%2')")
                                  .arg(key, value));
    }
    bool download()
    {
        BackupContext b = context();
        SyncContext c{store, run, session, dialogs, b.panel};
        return load_from_webdav(c);
    }
    QString row(const QString &key) { return set_table::read(store, key); }
    QStringList slots_taken() const
    {
        QStringList taken;
        for (int n = 1; n <= kRingSlots; ++n)
            if (QFileInfo::exists(ring_slot(main_file(), n)))
                taken << QString::number(n);
        return taken;
    }
    void set_stamp(qint64 stamp) { set_table::write_last_time(store, stamp); }

    test::ApacheDav server{QStringLiteral("u"), QStringLiteral("p'w")};
};

TEST_F(CloudSyncTest, DownloadTakesThePlaceOfTheMainFileAndOfItsMirror)
{
    synced();
    other_machine_sets(QStringLiteral("note"), QStringLiteral("第二版"));

    EXPECT_TRUE(download());
    dialogs.verify_done();
    EXPECT_TRUE(store.main_connected());
    EXPECT_TRUE(store.backup_connected());
    EXPECT_EQ(row(QStringLiteral("note")), QStringLiteral("第二版"));
    test::expect_mirror_identical(store);
    // The replaced file is the first copy of the ring, the next slot free.
    EXPECT_EQ(slots_taken(), QStringList{QStringLiteral("1")});
    NoteStore old(QStringLiteral("yunshan_sync_old"));
    QString old_main = dir.mkdir(QStringLiteral("old"));
    QFile::copy(ring_slot(main_file(), 1), database_file_in(old_main));
    QString none;
    old.Connect_to_db(old_main, none, dialogs);
    EXPECT_EQ(set_table::read(old, QStringLiteral("note")), QStringLiteral("第一版"));
    // The uploaded database had no WebDAV settings: the running ones went in, archive password
    // included, quotes intact.
    EXPECT_EQ(row(set_table::key_dav_url()), server.url());
    EXPECT_EQ(row(set_table::key_dav_password()), QStringLiteral("p'w"));
    EXPECT_EQ(row(set_table::key_zip_password()), QStringLiteral("z'ip"));
    EXPECT_EQ(row(set_table::key_exit_upload()), QStringLiteral("1"));
    EXPECT_TRUE(shown_lines.contains(QStringLiteral("正在从网盘下载数据……")));
}

TEST_F(CloudSyncTest, EleventhDownloadLeavesNineCopiesAndOneFreeSlot)
{
    synced();
    for (int i = 1; i <= 11; ++i) {
        SCOPED_TRACE(i);
        other_machine_sets(QStringLiteral("note"), QString::number(i));
        ASSERT_TRUE(download());
        ASSERT_EQ(row(QStringLiteral("note")), QString::number(i));
    }
    const QStringList taken = slots_taken();
    EXPECT_EQ(taken.size(), 9);
    EXPECT_FALSE(taken.contains(QStringLiteral("2"))); // the free slot; the oldest copy is in 3
    EXPECT_TRUE(taken.contains(QStringLiteral("1")));
}

TEST_F(CloudSyncTest, RingWithEverySlotTakenReusesTheFirst)
{
    synced();
    for (int n = 1; n <= kRingSlots; ++n)
        ASSERT_TRUE(QFile::copy(main_file(), ring_slot(main_file(), n)));
    other_machine_sets(QStringLiteral("note"), QStringLiteral("第二版"));
    EXPECT_TRUE(download());
    EXPECT_EQ(slots_taken().size(), 9);
    EXPECT_FALSE(QFileInfo::exists(ring_slot(main_file(), 2)));
}

TEST_F(CloudSyncTest, StampsDecideTheQuestion)
{
    struct Case {
        qint64 remote;
        qint64 local; // -1: no stamp
        bool asked;
        Dialogs::Answer answer;
        bool replaced;
    };
    const Case cases[] = {
        {1000, 1000, false, Dialogs::Answer::Yes, true}, // equal: nothing asked
        {1000, -1, false, Dialogs::Answer::Yes, true},   // no local stamp
        {2000, 1000, false, Dialogs::Answer::Yes, true}, // newer server copy
        {1000, 2000, true, Dialogs::Answer::Yes, false}, // older: Yes keeps the local file
        {1000, 2000, true, Dialogs::Answer::No, true},   // older: No takes the download
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(QStringLiteral("%1/%2/%3").arg(c.remote).arg(c.local).arg(int(c.answer)).toStdString());
        // Both sides agree again, neither with a stamp.
        test::write_sql(store, QStringLiteral("delete from set_table where key1 in ('last_time','marker')"), {});
        synced();
        if (c.local >= 0)
            set_stamp(c.local); // the exit stamp alone is no change of the notes
        other_machine_uploads(QStringLiteral("delete from set_table where key1='last_time';"
                                             "insert into set_table(key1,value1) values('last_time','%1');"
                                             "insert into set_table(key1,value1) values('marker','网盘')")
                                  .arg(c.remote));
        const QStringList ring_before = slots_taken();
        if (c.asked)
            dialogs.expect_question(older_copy_question(c.remote, c.local), c.answer);
        EXPECT_EQ(download(), c.replaced);
        dialogs.verify_done();
        EXPECT_EQ(row(QStringLiteral("marker")) == QStringLiteral("网盘"), c.replaced);
        EXPECT_TRUE(store.main_connected());
        if (!c.replaced) {
            EXPECT_EQ(slots_taken(), ring_before); // the ring is left alone
        }
    }
}

TEST_F(CloudSyncTest, OlderCopyQuestionShowsBothTimes)
{
    // 2024-03-15 08:30:00 and 2024-03-15 09:00:00 as local wall-clock stamps.
    const QString q = older_copy_question(1710491400, 1710493200);
    EXPECT_TRUE(q.startsWith(QStringLiteral("注意：从网盘下载的数据库时间比本机原有数据库要旧，网盘数据时间")));
    EXPECT_TRUE(q.contains(QStringLiteral("8:30:00"))) << q.toStdString();
    EXPECT_TRUE(q.contains(QStringLiteral(" 本机数据时间"))) << q.toStdString();
    EXPECT_TRUE(q.contains(QStringLiteral("9:00:00"))) << q.toStdString();
    EXPECT_TRUE(q.endsWith(
        QStringLiteral("如是刚上传的备份，有些网盘需等几分钟才能更新缓存。是否继续使用本机数据库(放弃下载)？")));
}

TEST_F(CloudSyncTest, WrongArchivePasswordKeepsTheLocalFileAndShowsTheError)
{
    publish();
    write_row(QStringLiteral("local"), QStringLiteral("本机新写"));
    run.zip_password = QStringLiteral("other");
    dialogs.expect_error(QStringLiteral("从网盘 %1 下载的备份文件 notedb.zip 打不开：压缩包密码不对，或者文件已损坏，"
                                        "请检查设置里的压缩包密码。本地笔记没有改动。\n")
                             .arg(server_name(server.url())) +
                         QString::fromLatin1(kWrongPasswordMessage));
    EXPECT_FALSE(download());
    dialogs.verify_done();
    EXPECT_TRUE(store.main_connected());
    EXPECT_TRUE(store.backup_connected());
    EXPECT_EQ(row(QStringLiteral("local")), QStringLiteral("本机新写"));
    EXPECT_TRUE(slots_taken().isEmpty());
    // Nothing of the unpacking is left beside the database.
    EXPECT_EQ(QDir(zhu).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("notedb.sl3")});
}

TEST_F(CloudSyncTest, ShortAnswerShowsItsSizeAndStatus)
{
    // Nothing uploaded: the share answers 404 with a short page.
    dialogs.expect_containing(test::ScriptedDialogs::Kind::Message, QStringLiteral(" 错误码404"));
    EXPECT_FALSE(download());
    dialogs.verify_done();
    ASSERT_EQ(dialogs.shown().size(), 1);
    EXPECT_TRUE(dialogs.shown().front().startsWith(QStringLiteral("从网盘下载失败，大小")));
    EXPECT_EQ(row(QStringLiteral("note")), QStringLiteral("第一版"));
    EXPECT_GT(hides, 0);
}

TEST_F(CloudSyncTest, PackageWithoutANotesDatabaseChangesNothing)
{
    // A large enough package holding some other file.
    const QString other = dir.file(QStringLiteral("readme.txt"));
    QFile f(other);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    QByteArray noise(5000, Qt::Uninitialized);
    QRandomGenerator(3).fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
    f.write(noise);
    f.close();
    const QString package = dir.file(QStringLiteral("notedb.zip"));
    build_package_file(other, run.zip_password, package);
    replace_package(package);

    dialogs.expect_error(QStringLiteral("从网盘 %1 下载的备份文件 notedb.zip 打不开：压缩包里没有数据库文件 "
                                        "notedb.sl3。本地笔记没有改动。\nThe archive holds no file \"notedb.sl3\"")
                             .arg(server_name(server.url())));
    EXPECT_FALSE(download());
    EXPECT_EQ(row(QStringLiteral("note")), QStringLiteral("第一版"));
    EXPECT_TRUE(slots_taken().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(join_path(zhu, QStringLiteral("readme.txt"))));
}

// A package whose database has a damaged page gets the check a promoted backup gets.
TEST_F(CloudSyncTest, PackageWithADamagedDatabaseChangesNothing)
{
    const QString damaged = dir.mkdir(QStringLiteral("damaged")) + QStringLiteral("/notedb.sl3");
    ASSERT_TRUE(QFile::copy(main_file(), damaged));
    {
        Connection db;
        db.open(damaged, false);
        db.execute(QStringLiteral("insert into beiyong_table(value3) values(?)"), {QString(3000, QLatin1Char('x'))});
        for (int i = 0; i < 6; ++i)
            db.execute(QStringLiteral("insert into beiyong_table(value3) select value3 from beiyong_table"));
    }
    // The last page, filled last, belongs to the spare table: garbage over it.
    QFile file(damaged);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.seek(file.size() - 4096));
    file.write(QByteArray(4096, '\xa5'));
    file.close();
    const QString package = dir.file(QStringLiteral("notedb.zip"));
    build_package_file(damaged, run.zip_password, package);
    replace_package(package);
    write_row(QStringLiteral("local"), QStringLiteral("本机新写"));

    dialogs.expect_containing(
        test::ScriptedDialogs::Kind::Error,
        QStringLiteral("从网盘 %1 下载的数据库文件 notedb.sl3 不能使用：").arg(server_name(server.url())));
    EXPECT_FALSE(download());
    dialogs.verify_done();
    EXPECT_TRUE(dialogs.shown().front().endsWith(QStringLiteral("。本地笔记没有改动。")))
        << dialogs.shown().front().toStdString();
    EXPECT_EQ(row(QStringLiteral("local")), QStringLiteral("本机新写"));
    EXPECT_TRUE(slots_taken().isEmpty());
    EXPECT_TRUE(store.main_connected());
    EXPECT_TRUE(store.backup_connected());
}

TEST_F(CloudSyncTest, ShareThatIsDownThrowsAndLeavesTheDatabasesOpen)
{
    run.dav_url = QStringLiteral("http://127.0.0.1:%1/dav/").arg(test::closed_port());
    EXPECT_THROW(download(), HttpError);
    EXPECT_TRUE(store.main_connected());
    EXPECT_TRUE(store.backup_connected());
    EXPECT_EQ(row(QStringLiteral("note")), QStringLiteral("第一版"));
}

TEST_F(CloudSyncTest, DatabaseBesideTheProgramIsTheOneReplaced)
{
    const QString beside = database_file_in(program);
    ASSERT_TRUE(QFile::copy(main_file(), beside));
    ASSERT_EQ(store.Connect_to_db(run.zhu_db, run.bei_db, dialogs), kProgramFolder);
    synced();
    other_machine_sets(QStringLiteral("note"), QStringLiteral("程序目录"));
    EXPECT_TRUE(download());
    EXPECT_EQ(store.main().path(), beside);
    EXPECT_EQ(row(QStringLiteral("note")), QStringLiteral("程序目录"));
    EXPECT_TRUE(QFileInfo::exists(ring_slot(beside, 1)));
    EXPECT_TRUE(slots_taken().isEmpty()); // the main data folder's file is not touched
}

TEST_F(CloudSyncTest, WrongShareCredentialsAreNamedAsSuch)
{
    publish();
    run.dav_password = QStringLiteral("wrong");
    dialogs.expect_containing(
        test::ScriptedDialogs::Kind::Message,
        QStringLiteral(" 错误码401。服务器 %1 不接受这个用户名和密码，请检查 webDAV 用户名和密码。"
                       "本地笔记没有改动。")
            .arg(server_name(server.url())));
    EXPECT_FALSE(download());
    dialogs.verify_done();
    EXPECT_TRUE(dialogs.shown().front().startsWith(QStringLiteral("从网盘下载失败，大小")));
    EXPECT_TRUE(slots_taken().isEmpty());
}

TEST_F(CloudSyncTest, DamagedPackageIsNamedAsSuchAndChangesNothing)
{
    publish();
    HttpRequest put;
    put.method = "PUT";
    put.url = webdav_package_url(run.dav_url);
    put.body = QByteArray(5000, 'j');
    ASSERT_EQ(session.send(put).status, 204);
    write_row(QStringLiteral("local"), QStringLiteral("本机新写"));
    dialogs.expect_error(
        QStringLiteral("从网盘 %1 下载的备份文件 notedb.zip 打不开：文件已损坏，或者不是本程序上传的备份"
                       "文件。本地笔记没有改动。\nThe data is not a ZIP archive, or the archive is "
                       "truncated")
            .arg(server_name(server.url())));
    EXPECT_FALSE(download());
    dialogs.verify_done();
    EXPECT_EQ(row(QStringLiteral("local")), QStringLiteral("本机新写"));
    EXPECT_TRUE(slots_taken().isEmpty());
}

TEST_F(CloudSyncTest, EscWhileTheServerStallsCancelsTheDownloadAndChangesNothing)
{
    test::StallingServer stalling(test::StallingServer::Mode::StopSending);
    run.dav_url = stalling.url();
    write_row(QStringLiteral("local"), QStringLiteral("本机新写"));
    BackupContext b = context();
    // Pressed while the first request waits for the rest of its answer.
    QElapsedTimer since;
    since.start();
    b.panel.esc_down = [&since] { return since.elapsed() > 500; };
    SyncContext c{store, run, session, dialogs, b.panel};
    try {
        load_from_webdav(c);
        FAIL() << "no error";
    } catch (const HttpError &e) {
        EXPECT_EQ(transfer_error_text(TransferStep::Download, run.dav_url, e),
                  QStringLiteral("已取消从网盘下载。本地笔记没有改动。\nThe request to ") +
                      webdav_package_url(run.dav_url) + QStringLiteral(" was cancelled"));
    }
    EXPECT_TRUE(store.main_connected());
    EXPECT_EQ(row(QStringLiteral("local")), QStringLiteral("本机新写"));
    EXPECT_EQ(QDir(zhu).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("notedb.sl3")});
}

TEST_F(CloudSyncTest, EscHeldEndsTheDownloadBeforeItStarts)
{
    esc = true;
    EXPECT_FALSE(download());
    EXPECT_EQ(hides, 1);
    EXPECT_TRUE(server.requests().filter(QStringLiteral("GET")).isEmpty());
}

} // namespace
} // namespace yunshan
