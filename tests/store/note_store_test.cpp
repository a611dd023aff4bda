#include "store/connection.h"
#include "store/database_files.h"
#include "store/note_store.h"
#include "store/schema.h"
#include "store_fixture.h"
#include "support/db_check.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>

#include <sys/stat.h>

using namespace yunshan;
using namespace yunshan::test;

namespace {
const QString kBackupMissing = QStringLiteral(
    "备份数据库不可用，请检查备份路径是否正确。如果备份盘是网络映射盘且正以管理员权限升级程序时可忽略此问题。");
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
    EXPECT_EQ(store.get_first_string(QStringLiteral("select caption from Class where px=500")),
              QStringLiteral("默认大类"));
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
    EXPECT_EQ(write_sql(store, QStringLiteral("replace into rtffile(noteId,rtf) values(:a,:b)"), {id, blob}), 1);
    EXPECT_EQ(
        write_sql(store, QStringLiteral("update notes set content=:a where id=:b"), {QStringLiteral("正文 it's"), id}),
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
    for (const QString &same :
         {zhu + QStringLiteral("/"), zhu + QStringLiteral("/./"), linked_folder, file_link_folder}) {
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

// ---- Repairs at start ----

namespace {

// A main and a mirrored backup with a few notes, closed again.
void make_mirrored_pair(const QString &lock, QString zhu, QString bei, ScriptedDialogs &dialogs, int notes = 3)
{
    NoteStore store(lock);
    ASSERT_EQ(store.Connect_to_db(zhu, bei, dialogs), kMainAndBackup);
    store.write([&](Writer &w) {
        w.run(QStringLiteral("insert into main.Section(px,classId,caption) values(100,1,'小类')"));
        for (int i = 1; i <= notes; ++i) {
            w.run(QStringLiteral("insert into main.notes(id,label,content) values(?1,?2,?3)"),
                  {i, QStringLiteral("标签%1").arg(i), QStringLiteral("正文%1").arg(i)});
            w.run(QStringLiteral("insert into main.title(px,classId,sectionId,noteId,caption) values(?1,1,1,?1,?2)"),
                  {i, QStringLiteral("标题%1").arg(i)});
            w.run(QStringLiteral("insert into main.rtffile(noteId,rtf) values(?1,?2)"),
                  {i, QByteArray("{\\rtf1 body ") + QByteArray::number(i) + '}'});
        }
    });
}

QString edit_file(const QString &file, const QString &sql)
{
    Connection c;
    c.open(file, false);
    c.execute(sql);
    return sql;
}

} // namespace

// A write that reached only the backup file (another program, a copy tool) is seen at the next
// start whatever it changed, and the backup is kept aside and copied afresh from the main file.
TEST_F(StoreTest, ContentChangedInOneFileIsFoundAtTheNextStart)
{
    make_mirrored_pair(lock, zhu, bei, dialogs);
    const QString edits[] = {
        QStringLiteral("update rtffile set rtf=x'7b5c72746631207a7d' where noteId=2"), // a body
        QStringLiteral("update Section set px=7"),                                     // an order
        QStringLiteral("update title set caption='改了' where noteId=3"),              // a caption
    };
    for (const QString &edit : edits) {
        SCOPED_TRACE(edit.toStdString());
        const QString main_before = dump_database_file(main_file());
        edit_file(backup_file(), edit);
        NoteStore store(lock);
        QString z = zhu, b = bei;
        dialogs.expect_containing(ScriptedDialogs::Kind::Message, QStringLiteral("旧备份已改名为“notedb_old_"));
        ASSERT_EQ(store.Connect_to_db(z, b, dialogs), kMainAndBackup);
        dialogs.verify_done();
        expect_mirror_identical(store);
        EXPECT_EQ(dump_database(store.main()), main_before);
        // The edited backup is kept.
        const QStringList kept = kept_aside_files(bei);
        ASSERT_FALSE(kept.isEmpty());
        EXPECT_NE(dump_database_file(join_path(bei, kept.first())), main_before);
    }
    // The same edit of the main file: the main file wins, the backup follows it.
    edit_file(main_file(), QStringLiteral("update title set caption='主文件改了' where noteId=1"));
    NoteStore store(lock);
    QString z = zhu, b = bei;
    dialogs.expect_containing(ScriptedDialogs::Kind::Message, QStringLiteral("旧备份已改名为“notedb_old_"));
    ASSERT_EQ(store.Connect_to_db(z, b, dialogs), kMainAndBackup);
    EXPECT_EQ(store.get_first_string(QStringLiteral("select caption from title where noteId=1")),
              QStringLiteral("主文件改了"));
    expect_mirror_identical(store);
    // Only the three newest files kept aside stay.
    EXPECT_EQ(kept_aside_files(bei).size(), 3);
}

// A main file that is missing, empty, not a database or without its tables, beside a sound
// backup: the backup is never overwritten. Yes restores the main file from it; No opens nothing
// and changes neither file.
TEST_F(StoreTest, UnusableMainBesideASoundBackupIsOfferedForRestore)
{
    const struct {
        const char *name;
        std::function<void(const QString &)> spoil;
        QString cause;
    } cases[] = {
        {"missing", [](const QString &f) { QFile::remove(f); }, QStringLiteral("不存在")},
        {"empty", [](const QString &f) { TempFolder::write(f, QByteArray()); }, QStringLiteral("是空文件（0 字节）")},
        {"garbage", [](const QString &f) { TempFolder::write(f, QByteArray(8192, 'g')); },
         QStringLiteral("不是数据库文件，或已损坏（file is not a database）")},
        {"truncated", [](const QString &f) { TempFolder::write(f, TempFolder::read(f).left(100)); },
         QStringLiteral("已损坏，无法读写（database disk image is malformed）")},
        {"no notes table", [](const QString &f) { edit_file(f, QStringLiteral("drop table title")); },
         QStringLiteral("不是笔记数据库（缺少笔记的数据表）（no table title）")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        for (const QString &folder : {zhu, bei})
            for (const QString &name : QDir(folder).entryList(QDir::Files))
                QFile::remove(join_path(folder, name));
        make_mirrored_pair(lock, zhu, bei, dialogs, 300);
        c.spoil(main_file());
        const QByteArray backup_before = TempFolder::read(backup_file());
        const bool main_there = QFileInfo::exists(main_file());
        const QByteArray main_before = main_there ? TempFolder::read(main_file()) : QByteArray();
        const QString question =
            QStringLiteral(
                "主数据库文件“%1”%2。\n备份数据库文件“%3”完好，其中有 300 条笔记。\n\n是否用备份数据库恢复主数据库？"
                "\n选“是”将备份复制为主数据库（原来的主数据库文件改名保留）；"
                "选“否”则这次不打开任何数据库，两个文件都不改动。")
                .arg(main_file(), c.cause, backup_file());
        {
            NoteStore store(lock);
            QString z = zhu, b = bei;
            dialogs.expect_question(question, Dialogs::Answer::No);
            EXPECT_EQ(store.Connect_to_db(z, b, dialogs), kNotConnected);
            dialogs.verify_done();
            EXPECT_FALSE(store.main_connected());
            EXPECT_FALSE(store.problem().isEmpty());
            EXPECT_EQ(QFileInfo::exists(main_file()), main_there);
            if (main_there) {
                EXPECT_EQ(TempFolder::read(main_file()), main_before);
            }
            EXPECT_EQ(TempFolder::read(backup_file()), backup_before);
        }
        NoteStore store(lock);
        QString z = zhu, b = bei;
        dialogs.expect_question(question, Dialogs::Answer::Yes);
        EXPECT_EQ(store.Connect_to_db(z, b, dialogs), kMainAndBackup);
        dialogs.verify_done();
        EXPECT_EQ(store.get_first_integer(QStringLiteral("select count(*) from title")), 300);
        EXPECT_EQ(TempFolder::read(backup_file()), backup_before);
        expect_mirror_identical(store);
        // What was there is kept aside in the main folder, not deleted.
        EXPECT_EQ(kept_aside_files(zhu).size(), main_there ? 1 : 0);
    }
}

TEST_F(StoreTest, BothFilesUnusableTouchesNeither)
{
    TempFolder::write(main_file(), QByteArray(4096, 'm'));
    TempFolder::write(backup_file(), QByteArray());
    NoteStore store(lock);
    QString z = zhu, b = bei;
    dialogs.expect_error(
        QStringLiteral(
            "主数据库文件“%1”不是数据库文件，或已损坏（file is not a database）；备份数据库文件“%2”是空文件（0 "
            "字节）。\n两个文件都无法使用，程序没有改动它们。请在设置里选择别的数据文件夹，或用“将备份文件转为正式…"
            "”恢复一个日期备份。")
            .arg(main_file(), backup_file()));
    EXPECT_EQ(store.Connect_to_db(z, b, dialogs), kNotConnected);
    EXPECT_EQ(TempFolder::read(main_file()), QByteArray(4096, 'm'));
    EXPECT_EQ(TempFolder::read(backup_file()), QByteArray());
    EXPECT_FALSE(store.owns_mark());
}

// A damaged main file whose header still opens, beside a different sound backup: the backup is
// left as it is and the damage is said.
TEST_F(StoreTest, MainDamagedInsideIsNeverCopiedOverTheBackup)
{
    make_mirrored_pair(lock, zhu, bei, dialogs, 300);
    edit_file(backup_file(), QStringLiteral("update title set caption='备份更新' where noteId=1"));
    {
        // Spoil a page deep inside the main file, away from its header and schema.
        QByteArray bytes = TempFolder::read(main_file());
        ASSERT_GT(bytes.size(), 4 * 4096);
        bytes.replace(bytes.size() - 4096, 4096, QByteArray(4096, '\xff'));
        TempFolder::write(main_file(), bytes);
    }
    const QByteArray backup_before = TempFolder::read(backup_file());
    NoteStore store(lock);
    QString z = zhu, b = bei;
    dialogs
        .expect_error(QStringLiteral("主数据库文件“%1”已损坏，但备份数据库“%2”完好。程序没有改动备份数据库；"
                                     "请关闭程序后用备份数据库替换主数据库文件，或用“将备份文件转为正式…”恢复。")
                          .arg(main_file(), backup_file()))
        .expect_message(
            QStringLiteral("备份数据库不可用，请检查备份路径是否正确。如果备份盘是网络映射盘且正以管理员权限升级程序"
                           "时可忽略此问题。"));
    store.Connect_to_db(z, b, dialogs);
    dialogs.verify_done();
    EXPECT_FALSE(store.backup_connected());
    EXPECT_EQ(TempFolder::read(backup_file()), backup_before);
}

TEST_F(StoreTest, TemporaryFilesOfAnInterruptedCopyGoAtStart)
{
    make_mirrored_pair(lock, zhu, bei, dialogs);
    const QStringList leftovers = {QStringLiteral("buckup__20261201.sl3.tmp"),
                                   QStringLiteral("buckup__20261201.sl3.tmp-journal"),
                                   QStringLiteral(".notedb-copy-1a2b.tmp")};
    for (const QString &name : leftovers)
        TempFolder::write(join_path(bei, name), "half");
    TempFolder::write(join_path(bei, QStringLiteral("buckup__20261130.sl3")), "a finished copy stays");
    NoteStore store(lock);
    QString z = zhu, b = bei;
    ASSERT_EQ(store.Connect_to_db(z, b, dialogs), kMainAndBackup);
    for (const QString &name : leftovers)
        EXPECT_FALSE(QFileInfo::exists(join_path(bei, name))) << name.toStdString();
    EXPECT_TRUE(QFileInfo::exists(join_path(bei, QStringLiteral("buckup__20261130.sl3"))));
}

TEST_F(StoreTest, DatabaseFilesTheStoreMakesArePrivate)
{
    make_mirrored_pair(lock, zhu, bei, dialogs);
    edit_file(backup_file(), QStringLiteral("update title set caption='x'"));
    NoteStore store(lock);
    QString z = zhu, b = bei;
    dialogs.expect_containing(ScriptedDialogs::Kind::Message, QStringLiteral("旧备份已改名为"));
    ASSERT_EQ(store.Connect_to_db(z, b, dialogs), kMainAndBackup);
    QStringList files = {main_file(), backup_file()};
    for (const QString &kept : kept_aside_files(bei))
        files << join_path(bei, kept);
    ASSERT_EQ(files.size(), 3);
    for (const QString &f : files) {
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(f).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u) << f.toStdString();
    }
}

// A main file that may not be written: the instance only reads, and says why.
TEST_F(StoreTest, ReadOnlyMainFileMakesAReadOnlyInstanceWithItsReason)
{
    make_mirrored_pair(lock, zhu, bei, dialogs);
    QFile::setPermissions(main_file(), QFileDevice::ReadOwner);
    // For the superuser permissions do not hold: the file is made immutable instead.
    bool immutable = false;
    const auto undo = qScopeGuard([&] {
        if (immutable)
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), main_file()});
        QFile::setPermissions(main_file(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    });
    if (QFile(main_file()).open(QIODevice::ReadWrite)) {
        immutable = QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), main_file()}) == 0;
        if (!immutable || QFile(main_file()).open(QIODevice::ReadWrite))
            GTEST_SKIP() << "no way to make a file read-only for this user here";
    }
    NoteStore store(lock);
    QString z = zhu, b = bei;
    int read_only_calls = 0;
    EXPECT_EQ(store.Connect_to_db(z, b, dialogs, [&] { ++read_only_calls; }), kMainOnly);
    EXPECT_EQ(read_only_calls, 1);
    EXPECT_TRUE(store.read_only());
    EXPECT_TRUE(store.owns_mark());
    EXPECT_EQ(store.read_only_reason(), QStringLiteral("主数据库文件“%1”或它所在的文件夹是只读的").arg(main_file()));
    EXPECT_EQ(store.get_first_integer(QStringLiteral("select count(*) from title")), 3);
    try {
        write_sql(store, QStringLiteral("delete from title"));
        FAIL() << "a read-only instance wrote";
    } catch (const DbError &e) {
        EXPECT_EQ(
            e.message(),
            QStringLiteral("数据库文件“%1”现在以只读方式打开，不能保存。（主数据库文件“%1”或它所在的文件夹是只读的）")
                .arg(main_file()));
    }
}
