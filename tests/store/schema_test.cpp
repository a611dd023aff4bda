#include "store/connection.h"
#include "store/note_store.h"
#include "store/schema.h"
#include "store_fixture.h"
#include "support/db_check.h"

using namespace yunshan;
using namespace yunshan::test;

TEST_F(StoreTest, NewFileHoldsExactlyTheCreationStatements)
{
    NoteStore store(lock);
    QString z = zhu, b;
    ASSERT_EQ(store.Connect_to_db(z, b, dialogs), kMainOnly);
    QStringList stored;
    for (const auto &row : store.main().query(
             QStringLiteral("select sql from sqlite_master where name <> 'sqlite_sequence' order by rowid")))
        stored << row.at(0).toString();
    QStringList expected;
    for (QString s : creation_statements()) {
        if (s.startsWith(QStringLiteral("insert")))
            continue;
        s = s.trimmed();
        s.chop(1); // the engine keeps the text without its semicolon
        expected << s;
    }
    EXPECT_EQ(stored, expected);
    EXPECT_EQ(creation_statements().size(), 12);
    EXPECT_TRUE(creation_statements().at(1).startsWith(QStringLiteral(" CREATE TABLE Section")));
    EXPECT_TRUE(creation_statements().at(2).contains(QStringLiteral("classId   INTEGER")));

    const auto rows = store.main().query(QStringLiteral("select id, px, caption from Class"));
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0][1].toInt(), 500);
    EXPECT_EQ(rows[0][2].toString(), QStringLiteral("默认大类"));
    EXPECT_FALSE(upgrade_schema(store)); // a new file is up to date
}

TEST_F(StoreTest, OldFileIsUpgradedOnMainAndBackupOnce)
{
    make_old_database(main_file());
    make_old_database(backup_file());
    NoteStore store(lock);
    QString z = zhu, b = bei;
    ASSERT_EQ(store.Connect_to_db(z, b, dialogs), kMainAndBackup);
    EXPECT_TRUE(upgrade_schema(store));
    const auto backup = open_backup(store);
    for (Connection *c : {&store.main(), backup.get()}) {
        EXPECT_EQ(
            c->query_first(QStringLiteral("select count(*) from sqlite_master where name='beiyong_table'"))->toInt(),
            1);
        // the old rows get the new columns with their defaults
        EXPECT_EQ(c->query_first(QStringLiteral("select fast + beiyong1 + beiyong4 from title"))->toInt(), 0);
        EXPECT_EQ(c->query_first(QStringLiteral("select count(beiyong5) from title"))->toInt(), 0);
        EXPECT_EQ(c->query_first(QStringLiteral("select beiyong1 from notes"))->toInt(), 0);
        EXPECT_EQ(c->query_first(QStringLiteral("select content from notes"))->toString(), QStringLiteral("正文"));
    }
    expect_mirror_identical(store);

    const QString before = dump_database(store.main());
    EXPECT_FALSE(upgrade_schema(store));
    EXPECT_EQ(dump_database(store.main()), before);
}

TEST_F(StoreTest, OldFileWithoutSetTableGetsOne)
{
    make_old_database(main_file(), false);
    NoteStore store(lock);
    QString z = zhu, b = bei; // backup copied from the old main file
    ASSERT_EQ(store.Connect_to_db(z, b, dialogs), kMainAndBackup);
    EXPECT_TRUE(upgrade_schema(store));
    EXPECT_EQ(store.get_first_string(QStringLiteral("select sql from sqlite_master where name='set_table'")),
              QStringLiteral("CREATE TABLE set_table (key1 text,value1 TEXT)"));
    expect_mirror_identical(store);
}

// An exported database has every table but set_table: opened as the main database, it and its
// backup get one, so that the settings can be kept.
TEST_F(StoreTest, UpToDateFileWithoutSetTableGetsOneInBothFiles)
{
    {
        Connection c;
        c.open(main_file());
        create_schema(c);
        c.execute(QStringLiteral("drop table set_table"));
    }
    NoteStore store(lock);
    QString z = zhu, b = bei;
    ASSERT_EQ(store.Connect_to_db(z, b, dialogs), kMainAndBackup);
    EXPECT_EQ(store.get_first_integer(QStringLiteral("select count(*) from sqlite_master where name='set_table'")), 1);
    expect_mirror_identical(store);
    const QString before = dump_database(store.main());
    EXPECT_FALSE(upgrade_schema(store));
    EXPECT_EQ(dump_database(store.main()), before);
}

TEST_F(StoreTest, UpgradeCompletesAFileThatHasSomeOfTheColumnsAlready)
{
    // A file lacking beiyong_table that already has the `fast` column: the rest is added.
    make_old_database(main_file());
    {
        Connection c;
        c.open(main_file());
        c.execute(QStringLiteral("ALTER TABLE title ADD COLUMN fast INTEGER DEFAULT (0);"));
    }
    NoteStore store(lock);
    QString z = zhu, b;
    store.Connect_to_db(z, b, dialogs);
    EXPECT_TRUE(upgrade_schema(store));
    EXPECT_EQ(store.get_first_integer(QStringLiteral("select count(*) from sqlite_master where name='beiyong_table'")),
              1);
    EXPECT_EQ(
        store.get_first_integer(QStringLiteral("select count(*) from pragma_table_info('title') where name in "
                                               "('fast','beiyong1','beiyong2','beiyong3','beiyong4','beiyong5')")),
        6);
    EXPECT_FALSE(upgrade_schema(store));
}
