// The set_table keys and the text rules for SQL literals.
#include "store/set_table.h"
#include "store/sql_text.h"

#include "store_fixture.h"
#include "support/db_check.h"

namespace yunshan::test {
namespace {

TEST(SqlText, EscapeSqlTextDoublesQuotesThenSlashesDoubleQuotesAndPercent)
{
    struct Case {
        QString in, out;
    };
    const Case cases[] = {
        {QStringLiteral("it's 50%"), QStringLiteral("it''s 50/%")},
        {QStringLiteral("say \"hi\""), QStringLiteral("say /\"hi/\"")},
        {QStringLiteral("%%''"), QStringLiteral("/%/%''''")},
        {QStringLiteral("学习_笔记"), QStringLiteral("学习_笔记")},
        {QString(), QString()},
    };
    for (const Case &c : cases)
        EXPECT_EQ(escape_sql_text(c.in), c.out) << c.in.toStdString();
    EXPECT_EQ(double_quotes(QStringLiteral("it's \"50%\"")), QStringLiteral("it''s \"50%\""));
}

class SetTableTest : public StoreTest {
  protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        QString z = zhu, b = bei;
        ASSERT_EQ(store.Connect_to_db(z, b, dialogs), 3);
    }
    int rows(const QString &key)
    {
        return store.get_first_integer(QStringLiteral("select count(*) from set_table where key1='") + key +
                                       QStringLiteral("'"));
    }
    NoteStore store{lock};
};

TEST_F(SetTableTest, WebdavKeyWrittenTwiceLeavesOneRowOnBothDatabases)
{
    const QString key = set_table::key_dav_password();
    set_table::replace(store, key, QStringLiteral("first"));
    set_table::replace(store, key, QStringLiteral("it's'); drop table title; --"));
    EXPECT_EQ(rows(key), 1);
    EXPECT_EQ(set_table::read(store, key), QStringLiteral("it's'); drop table title; --"));
    EXPECT_EQ(store.get_first_integer(QStringLiteral("select count(*) from title")), 0);
    expect_mirror_identical(store);
}

TEST_F(SetTableTest, EveryKeyReadsBackWhatWasWritten)
{
    const QString keys[] = {set_table::key_start_download(), set_table::key_exit_upload(),
                            set_table::key_dav_url(),        set_table::key_dav_username(),
                            set_table::key_dav_password(),   set_table::key_zip_password()};
    for (const QString &k : keys) {
        EXPECT_EQ(set_table::read(store, k), QString()) << k.toStdString();
        set_table::replace(store, k, k + QStringLiteral("值"));
    }
    for (const QString &k : keys)
        EXPECT_EQ(set_table::read(store, k), k + QStringLiteral("值"));

    EXPECT_EQ(set_table::read_password(store), QString());
    set_table::insert_password(store, QStringLiteral("900150983cd24fb0d6963f7d28e17f72"));
    set_table::update_password(store, QStringLiteral("e10adc3949ba59abbe56e057f20f883e"));
    EXPECT_EQ(rows(QStringLiteral("password")), 1);
    EXPECT_EQ(set_table::read_password(store), QStringLiteral("e10adc3949ba59abbe56e057f20f883e"));
    set_table::remove_password(store);
    EXPECT_EQ(rows(QStringLiteral("password")), 0);

    set_table::create_tmp_file1(store);
    EXPECT_EQ(set_table::read_tmp_file1(store), QStringLiteral("000"));
    set_table::set_tmp_file1(store, 42);
    EXPECT_EQ(set_table::read_tmp_file1(store), QStringLiteral("42"));
    set_table::reset_tmp_file1(store);
    EXPECT_EQ(set_table::read_tmp_file1(store), QStringLiteral("000"));

    set_table::write_last_time(store, 1700000000);
    set_table::write_last_time(store, 1700000100);
    EXPECT_EQ(rows(QStringLiteral("last_time")), 1);
    EXPECT_EQ(set_table::read_last_time(store), QStringLiteral("1700000100"));
    expect_mirror_identical(store);
}

} // namespace
} // namespace yunshan::test
