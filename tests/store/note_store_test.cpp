#include "store/connection.h"
#include "store/note_store.h"
#include "store/schema.h"
#include "store_fixture.h"
#include "support/db_check.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace yunshan;
using namespace yunshan::test;

namespace {
const QString kBackupMissing = QStringLiteral("备份数据库不可用，请检查备份路径是否正确。如果备份盘是网络映射盘且正以管理员权限升级程序时可忽略此问题。");
}

TEST_F(StoreTest, NoFoldersNoProgramFileConnectsNothing)
{
    NoteStore store(lock);
    QString z, b;
    EXPECT_EQ(store.Connect_to_db(z, b, dialogs), kNotConnected);
    EXPECT_EQ(connection_status_text(store.status()), QStringLiteral("数据库未连接"));
    EXPECT_FALSE(store.main_connected());
    EXPECT_FALSE(store.backup_connected());
    EXPECT_FALSE(store.owns_mark());
    EXPECT_TRUE(dialogs.shown().isEmpty());
}

TEST_F(StoreTest, StatusTexts)
{
    const std::pair<int, const char *> cases[] = {
        {0, "数据库未连接"}, {1, "主数据库就绪"}, {2, "备数据库就绪"}, {3, "主备就绪"}, {20, "EXE根目录"}};
    for (const auto &[status, text] : cases)
        EXPECT_EQ(connection_status_text(status), QString::fromUtf8(text)) << status;
}

TEST_F(StoreTest, ProgramFolderFileWinsOverConfiguredFolders)
{
    {
        Connection c;
        c.open(database_file_in(program));
        create_schema(c);
    }
    NoteStore store(lock);
    QString z = zhu, b = bei;
    EXPECT_EQ(store.Connect_to_db(z, b, dialogs), kProgramFolder);
    EXPECT_EQ(connection_status_text(store.status()), QStringLiteral("EXE根目录"));
    EXPECT_TRUE(z.isEmpty());
    EXPECT_TRUE(b.isEmpty());
    EXPECT_TRUE(store.main_connected());
    EXPECT_FALSE(store.backup_connected());
    EXPECT_FALSE(store.owns_mark());
    EXPECT_FALSE(store.read_only());
    EXPECT_FALSE(QFileInfo::exists(main_file()));
    EXPECT_FALSE(QFileInfo::exists(backup_file()));
    EXPECT_EQ(store.main().path(), database_file_in(program));
}

TEST_F(StoreTest, NewMainFolderWithBackupStartsIdentical)
{
    NoteStore store(lock);
    QString z = zhu, b = bei;
    EXPECT_EQ(store.Connect_to_db(z, b, dialogs), kMainAndBackup);
    EXPECT_TRUE(store.owns_mark());
    EXPECT_EQ(store.get_first_integer(QStringLiteral("select count(*) from Class")), 1);
    EXPECT_EQ(store.get_first_string(QStringLiteral("select caption from Class where px=500")), QStringLiteral("默认大类"));
    EXPECT_EQ(store.get_first_integer(QStringLiteral("select count(*) from set_table")), 0);
    expect_mirror_identical(store);
    store.close_all();
    EXPECT_EQ(TempFolder::read(main_file()), TempFolder::read(backup_file()));
}

TEST_F(StoreTest, BackupFileMissingIsCopiedFromMain)
{
    {
        NoteStore first(lock);
        QString z = zhu, b;
        ASSERT_EQ(first.Connect_to_db(z, b, dialogs), kMainOnly);
        write_sql(first, QStringLiteral("insert into Class(px,caption) values(3,'工作')"));
    }
    NoteStore store(lock);
    QString z = zhu, b = bei;
    EXPECT_EQ(store.Connect_to_db(z, b, dialogs), kMainAndBackup);
    EXPECT_EQ(open_backup(store)->query_first(QStringLiteral("select count(*) from Class"))->toInt(), 2);
    expect_mirror_identical(store);
}

TEST_F(StoreTest, BackupFolderMissingShowsMessageAndRunsOnMain)
{
    NoteStore store(lock);
    QString z = zhu, b = dir.file(QStringLiteral("不存在"));
    dialogs.expect_message(kBackupMissing);
    EXPECT_EQ(store.Connect_to_db(z, b, dialogs), kMainOnly);
    EXPECT_TRUE(store.main_connected());
    EXPECT_FALSE(store.backup_connected());
}

TEST_F(StoreTest, OnlyBackupFolderGivesStatusTwo)
{
    {
        NoteStore first(lock);
        QString z = bei, b;
        ASSERT_EQ(first.Connect_to_db(z, b, dialogs), kMainOnly); // makes a file to use as backup
    }
    NoteStore store(lock);
    QString z, b = bei;
    EXPECT_EQ(store.Connect_to_db(z, b, dialogs), kBackupOnly);
    EXPECT_FALSE(store.main_connected());
    EXPECT_FALSE(store.owns_mark());
    EXPECT_THROW(write_sql(store, QStringLiteral("delete from Class")), DbError);
    Connection backup;
    backup.open_read_only(backup_file());
    EXPECT_EQ(backup.query_first(QStringLiteral("select count(*) from Class"))->toInt(), 1);
}

TEST_F(StoreTest, MainFileThatCannotBeCreatedThrowsEngineError)
{
    NoteStore store(lock);
    QString z = dir.file(QStringLiteral("no/such/folder")), b;
    try {
        store.Connect_to_db(z, b, dialogs);
        FAIL() << "expected DbError";
    } catch (const DbError &e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("unable to open"))) << e.what();
    }
    EXPECT_FALSE(store.main_connected());
}

TEST_F(StoreTest, ConnectingTwiceKeepsOneMarkAndTheSameStatus)
{
    NoteStore store(lock);
    QString z = zhu, b = bei;
    ASSERT_EQ(store.Connect_to_db(z, b, dialogs), kMainAndBackup);
    EXPECT_EQ(store.Connect_to_db(z, b, dialogs), kMainAndBackup);
    EXPECT_TRUE(store.owns_mark());
    EXPECT_FALSE(store.read_only());
    EXPECT_EQ(store.get_first_integer(QStringLiteral("select count(*) from Class")), 1);
    OwnerLock other(lock);
    EXPECT_FALSE(other.acquire());
    store.close_all();
    EXPECT_TRUE(other.acquire());
}

TEST_F(StoreTest, SecondInstanceIsReadOnlyWhileFirstKeepsWriting)
{
    NoteStore first(lock);
    QString z1 = zhu, b1 = bei;
    ASSERT_EQ(first.Connect_to_db(z1, b1, dialogs), kMainAndBackup);

    NoteStore second(lock);
    QString z2 = zhu, b2 = bei;
    int read_only_calls = 0;
    EXPECT_EQ(second.Connect_to_db(z2, b2, dialogs, [&] { ++read_only_calls; }), kMainAndBackup);
    EXPECT_EQ(read_only_calls, 1);
    EXPECT_TRUE(second.read_only());
    EXPECT_FALSE(second.owns_mark());
    EXPECT_FALSE(first.read_only());

    EXPECT_EQ(write_sql(first, QStringLiteral("insert into Class(px,caption) values(7,'第二')")), 1);
    EXPECT_EQ(second.get_first_integer(QStringLiteral("select count(*) from Class")), 2);
    expect_mirror_identical(first);

    first.close_all();
    QString z3 = zhu, b3 = bei;
    EXPECT_EQ(second.Connect_to_db(z3, b3, dialogs), kMainAndBackup);
    EXPECT_FALSE(second.read_only());
    EXPECT_TRUE(second.owns_mark());
}

TEST_F(StoreTest, HelpersWithMainClosedDoNothing)
{
    NoteStore store(lock);
    EXPECT_EQ(store.get_first_integer(QStringLiteral("select 5")), 0);
    EXPECT_EQ(store.get_first_string(QStringLiteral("select 'x'")), QString());
    // Writing with nothing open is refused, not silently dropped.
    EXPECT_THROW(write_sql(store, QStringLiteral("insert into picture(img) values(:a)"), {QByteArray("x")}), DbError);
}

TEST_F(StoreTest, ReadingHelpersTreatNoRowAndNullAsEmpty)
{
    NoteStore store(lock);
    QString z = zhu, b;
    store.Connect_to_db(z, b, dialogs);
    EXPECT_EQ(store.get_first_integer(QStringLiteral("select value1 from set_table where key1='none'")), 0);
    EXPECT_EQ(store.get_first_string(QStringLiteral("select value1 from set_table where key1='none'")), QString());
    EXPECT_EQ(store.get_first_string(QStringLiteral("select null")), QString());
    EXPECT_EQ(store.get_first_integer(QStringLiteral("select null")), 0);
    EXPECT_EQ(store.get_first_integer(QStringLiteral("select '42'")), 42);
    EXPECT_EQ(store.get_first_string(QStringLiteral("select 42")), QStringLiteral("42"));
}

TEST_F(StoreTest, SetFirstStringWithMainOnlyReturnsMainRowCount)
{
    NoteStore store(lock);
    QString z = zhu, b;
    ASSERT_EQ(store.Connect_to_db(z, b, dialogs), kMainOnly);
    write_sql(store, QStringLiteral("insert into Class(px,caption) values(1,'a')"));
    EXPECT_EQ(write_sql(store, QStringLiteral("update Class set px=9")), 2);
    EXPECT_FALSE(QFileInfo::exists(backup_file()));
}

TEST_F(StoreTest, RejectedStatementThrowsWithEngineMessageAndChangesNothing)
{
    NoteStore store(lock);
    QString z = zhu, b = bei;
    store.Connect_to_db(z, b, dialogs);
    try {
        write_sql(store, QStringLiteral("insert into nosuchtable values(1)"));
        FAIL() << "expected DbError";
    } catch (const DbError &e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("no such table"))) << e.what();
    }
    expect_mirror_identical(store);
}

TEST_F(StoreTest, MirroredWriteBindsTextBlobAndIntegerOnBoth)
{
    NoteStore store(lock);
    QString z = zhu, b = bei;
    store.Connect_to_db(z, b, dialogs);
    const QByteArray blob("\x00\xff{\\rtf1 中}", 14);
    // Explicit times: each database evaluates CURRENT_TIMESTAMP on its own clock reading.
    write_sql(store, QStringLiteral("insert into notes(label,content,cuanjian,put) "
                                          "values('l','','2020-01-02 03:04:05','2020-01-02 03:04:05')"));
    const qint64 id = store.main().last_insert_rowid();
    EXPECT_EQ(write_sql(store, QStringLiteral("replace into rtffile(noteId,rtf) values(:a,:b)"),
                                   {id, blob}),
              1);
    EXPECT_EQ(write_sql(store, QStringLiteral("update notes set content=:a where id=:b"),
                                                {QStringLiteral("正文 it's"), id}),
              1);
    EXPECT_EQ(store.main().query_first(QStringLiteral("select rtf from rtffile"))->toByteArray(), blob);
    EXPECT_EQ(store.get_first_string(QStringLiteral("select content from notes")), QStringLiteral("正文 it's"));
    expect_mirror_identical(store);
}

TEST_F(StoreTest, MainAndBackupNamingOneFileOpenOnlyTheMain)
{
    const QString linked_folder = dir.file(QStringLiteral("link"));
    ASSERT_TRUE(QFile::link(zhu, linked_folder));
    const QString file_link_folder = dir.mkdir(QStringLiteral("file_link"));
    {
        NoteStore first(lock);
        QString z = zhu, b;
        ASSERT_EQ(first.Connect_to_db(z, b, dialogs), kMainOnly);
    }
    ASSERT_TRUE(QFile::link(main_file(), database_file_in(file_link_folder)));
    for (const QString &same : {zhu + QStringLiteral("/"), zhu + QStringLiteral("/./"), linked_folder, file_link_folder}) {
        SCOPED_TRACE(same.toStdString());
        NoteStore store(lock);
        QString z = zhu, b = same;
        dialogs.expect_message(QStringLiteral("主备数据库文件夹不能相同。"));
        EXPECT_EQ(store.Connect_to_db(z, b, dialogs), kMainOnly);
        dialogs.verify_done();
        EXPECT_FALSE(store.backup_connected());
        const qint64 before = store.get_first_integer(QStringLiteral("select count(*) from Class"));
        EXPECT_EQ(write_sql(store, QStringLiteral("insert into Class(px,caption) values(1,'一次')")), 1);
        EXPECT_EQ(store.get_first_integer(QStringLiteral("select count(*) from Class")), before + 1);
    }
}

TEST_F(StoreTest, FailedSchemaCreationClosesAndRemovesTheNewFile)
{
    // The engine cannot make its journal beside the new file, so the first CREATE fails.
    ASSERT_TRUE(QDir().mkpath(main_file() + QStringLiteral("-journal")));
    NoteStore store(lock);
    QString z = zhu, b;
    EXPECT_THROW(store.Connect_to_db(z, b, dialogs), DbError);
    EXPECT_FALSE(store.main_connected());
    EXPECT_EQ(store.status(), kNotConnected);
    EXPECT_FALSE(QFileInfo::exists(main_file()));
}

TEST_F(StoreTest, StaleBackupIsKeptAsideAndCopiedAfresh)
{
    {
        NoteStore store(lock);
        QString z = zhu, b = bei;
        ASSERT_EQ(store.Connect_to_db(z, b, dialogs), kMainAndBackup);
        write_sql(store, QStringLiteral("insert into Class(px,caption) values(1,'甲')"));
    }
    const QByteArray stale = TempFolder::read(backup_file());
    {
        // A run while the backup drive was away: ids move on in the main file only.
        NoteStore store(lock);
        QString z = zhu, b;
        ASSERT_EQ(store.Connect_to_db(z, b, dialogs), kMainOnly);
        write_sql(store, QStringLiteral("insert into Class(px,caption) values(1,'乙')"));
        write_sql(store, QStringLiteral("delete from Class where caption='甲'"));
    }
    {
        // Another instance owns the data: it leaves the backup alone.
        OwnerLock other(lock);
        ASSERT_TRUE(other.acquire());
        NoteStore second(lock);
        QString z = zhu, b = bei;
        EXPECT_EQ(second.Connect_to_db(z, b, dialogs, [] {}), kMainAndBackup);
        EXPECT_EQ(TempFolder::read(backup_file()), stale);
    }
    NoteStore store(lock);
    QString z = zhu, b = bei;
    dialogs.expect_containing(ScriptedDialogs::Kind::Message, QStringLiteral("旧备份已改名为“notedb_old_"));
    EXPECT_EQ(store.Connect_to_db(z, b, dialogs), kMainAndBackup);
    const QStringList kept = QDir(bei).entryList({QStringLiteral("notedb_old_*.sl3")}, QDir::Files);
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(dialogs.shown(), QStringList{stale_backup_text(kept.first())});
    EXPECT_EQ(TempFolder::read(join_path(bei, kept.first())), stale);
    expect_mirror_identical(store);
    write_sql(store, QStringLiteral("update Class set px=7 where caption='乙'"));
    expect_mirror_identical(store);

    // Once mirrored, the next start finds nothing to repair.
    dialogs.clear_shown();
    EXPECT_EQ(store.Connect_to_db(z, b, dialogs), kMainAndBackup);
    EXPECT_TRUE(dialogs.shown().isEmpty());
}
