// The login password: its digest, the check at start-up and "保存密码", against real database
// files in a main and a backup folder.
#include "crypto/login_password.h"
#include "platform/text_trim.h"
#include "store/set_table.h"

#include "platform/paths.h"
#include "store/note_store.h"
#include "support/db_check.h"
#include "support/scripted_dialogs.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

namespace yunshan {
namespace {

// Scripted dialogs that also keep the title of every input box.
class ScriptedDialogs : public test::ScriptedDialogs {
  public:
    bool input(const QString &title, const QString &prompt, QString &value) override
    {
        titles << title;
        return test::ScriptedDialogs::input(title, prompt, value);
    }
    QString password(const QString &title, const QString &prompt) override
    {
        titles << title;
        return test::ScriptedDialogs::password(title, prompt);
    }
    QStringList titles;
};

// Expected digests computed apart from this program: printf '%s' TEXT | md5sum
const QString kDigestChinese = QStringLiteral("0b73e004051840186bf80d1514a9ee39"); // "云杉札记" as UTF-8
const QString kDigestChineseUtf16 = QStringLiteral("6aa5f6e883b5e895bc9cc25a0dc3bccd");
const QString kDigestChineseGbk = QStringLiteral("5f5715318ad2522875b0542c8c6981e0");
const QString kDigestSecret = QStringLiteral("3827558347b988089547698445ea8dc4"); // "Secret 1"
const QString kDigestEmpty = QStringLiteral("d41d8cd98f00b204e9800998ecf8427e");

const QString kWrong = QStringLiteral("密码错误");
const QString kSet = QStringLiteral("密码设置成功。");
const QString kCleared = QStringLiteral("密码已经清除。");
const QString kMismatch = QStringLiteral("两次输入的密码不同。请重新输入。");
const QString kWrongCurrent = QStringLiteral("原密码错误，不能更改密码");

TEST(LoginPasswordDigest, IsMd5OfTrimmedUtf8InLowerCaseHex)
{
    struct Case {
        QString password, digest;
    };
    const Case cases[] = {
        {QStringLiteral("云杉札记"), kDigestChinese},
        {QStringLiteral("Secret 1"), kDigestSecret},
        {QStringLiteral("  Secret 1 "), kDigestSecret},            // blanks at the ends go
        {QStringLiteral("\t\r\nSecret 1\x01\x1f"), kDigestSecret}, // and every control
        {QStringLiteral(" \u4e91\u6749\u672d\u8bb0\n"), kDigestChinese},
        {QStringLiteral("   "), kDigestEmpty},
        {QString(), kDigestEmpty},
    };
    for (const Case &c : cases)
        EXPECT_EQ(login_password_digest(c.password), c.digest) << c.password.toStdString();
    EXPECT_NE(login_password_digest(QStringLiteral("云杉札记")), kDigestChineseUtf16);
    EXPECT_NE(login_password_digest(QStringLiteral("云杉札记")), kDigestChineseGbk);
    // Inner blanks are part of the password; an ideographic space (code above 32) is kept.
    EXPECT_NE(login_password_digest(QStringLiteral("Secret1")), kDigestSecret);
    EXPECT_EQ(trim_controls(QStringLiteral("\u3000a b\u3000 ")), QStringLiteral("\u3000a b\u3000"));
}

class LoginPasswordTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        set_program_folder_override(dir.mkdir(QStringLiteral("program")));
        QString zhu = dir.mkdir(QStringLiteral("main"));
        QString bei = dir.mkdir(QStringLiteral("backup"));
        ASSERT_EQ(store.Connect_to_db(zhu, bei, dialogs), 3);
    }
    void TearDown() override
    {
        dialogs.verify_done();
        store.close_all();
        set_program_folder_override({});
    }
    int password_rows()
    {
        return store.get_first_integer(QStringLiteral("select count(*) from set_table where key1='password'"));
    }
    void store_digest(const QString &digest) { set_table::insert_password(store, digest); }
    // "保存密码" as the dialog runs it.
    bool save(const QString &first, const QString &second)
    {
        return save_login_password(store, dialogs, first, second);
    }

    test::TempFolder dir;
    ScriptedDialogs dialogs;
    NoteStore store{QStringLiteral("yunshan_note_login_test")};
};

TEST_F(LoginPasswordTest, NoPasswordMeansNoPrompt)
{
    EXPECT_TRUE(login_check(store, dialogs));
    EXPECT_TRUE(dialogs.shown().isEmpty());
}

TEST_F(LoginPasswordTest, LoginEntriesAgainstAStoredDigest)
{
    struct Case {
        QString stored, entry;
        bool passes;
    };
    const Case cases[] = {
        {kDigestChinese, QStringLiteral("云杉札记"), true},
        {kDigestSecret, QStringLiteral("Secret 1"), true},
        {kDigestSecret, QStringLiteral("  Secret 1\t"), true},        // typed with blanks around it
        {kDigestSecret, QStringLiteral("secret 1"), false},           // letter case counts
        {kDigestSecret, QString(), false},                            // cancelled or empty
        {kDigestSecret.toUpper(), QStringLiteral("Secret 1"), false}, // an upper-case digest never matches
        {kDigestEmpty, QString(), false},                             // empty is wrong whatever is stored
        {kDigestEmpty, QStringLiteral("  "), false},
    };
    for (const Case &c : cases) {
        set_table::remove_password(store);
        store_digest(c.stored);
        dialogs.expect_password(QStringLiteral("密码"), c.entry);
        if (!c.passes)
            dialogs.expect_message(kWrong);
        EXPECT_EQ(login_check(store, dialogs), c.passes) << c.stored.toStdString() << " / " << c.entry.toStdString();
        dialogs.verify_done();
    }
}

TEST_F(LoginPasswordTest, SettingWithoutAPasswordAsksNoCurrentOneAndStoresTheDigestOnBoth)
{
    dialogs.expect_message(kSet);
    EXPECT_TRUE(save(QStringLiteral(" 云杉札记 "), QStringLiteral(" 云杉札记 ")));
    EXPECT_EQ(set_table::read_password(store), kDigestChinese);
    EXPECT_EQ(password_rows(), 1);
    test::expect_mirror_identical(store);

    // From now on the start-up asks, and the password typed without the blanks opens it.
    dialogs.expect_password(QStringLiteral("密码"), QStringLiteral("云杉札记"));
    EXPECT_TRUE(login_check(store, dialogs));
    EXPECT_EQ(dialogs.titles, QStringList{QStringLiteral("请输入密码")});
}

TEST_F(LoginPasswordTest, ChangingAsksForTheCurrentPasswordFirst)
{
    store_digest(kDigestSecret);
    dialogs.expect_password(QStringLiteral("原密码验证"), QStringLiteral("Secret 1 "));
    dialogs.expect_message(kSet);
    EXPECT_TRUE(save(QStringLiteral("云杉札记"), QStringLiteral("云杉札记")));
    EXPECT_EQ(dialogs.titles, QStringList{QStringLiteral("请输入原密码")});
    EXPECT_EQ(set_table::read_password(store), kDigestChinese);
    EXPECT_EQ(password_rows(), 1);
    test::expect_mirror_identical(store);
}

TEST_F(LoginPasswordTest, RefusedSavesWriteNothing)
{
    store_digest(kDigestSecret);
    const QString before = test::dump_database(store.main());

    // Wrong current password, a cancelled box, fields that differ (blanks count there).
    dialogs.expect_password(QStringLiteral("原密码验证"), QStringLiteral("secret 1"));
    dialogs.expect_message(kWrongCurrent);
    EXPECT_FALSE(save(QString(), QString()));
    dialogs.expect_password(QStringLiteral("原密码验证"), QString()); // cancelled
    dialogs.expect_message(kWrongCurrent);
    EXPECT_FALSE(save(QStringLiteral("new"), QStringLiteral("new")));
    dialogs.expect_password(QStringLiteral("原密码验证"), QStringLiteral("Secret 1"));
    dialogs.expect_message(kMismatch);
    EXPECT_FALSE(save(QStringLiteral("new"), QStringLiteral("new ")));

    EXPECT_EQ(test::dump_database(store.main()), before);
    EXPECT_EQ(set_table::read_password(store), kDigestSecret);
}

TEST_F(LoginPasswordTest, BlankFieldsClearThePassword)
{
    store_digest(kDigestSecret);
    dialogs.expect_password(QStringLiteral("原密码验证"), QStringLiteral("Secret 1"));
    dialogs.expect_message(kCleared);
    EXPECT_TRUE(save(QStringLiteral(" \t"), QStringLiteral(" \t")));
    EXPECT_EQ(password_rows(), 0);
    test::expect_mirror_identical(store);
    EXPECT_TRUE(login_check(store, dialogs)); // no prompt any more

    // Clearing with nothing set still runs and says so.
    dialogs.expect_message(kCleared);
    EXPECT_TRUE(save(QString(), QString()));
    EXPECT_EQ(password_rows(), 0);
}

TEST_F(LoginPasswordTest, WithoutADatabaseNothingIsReportedAsSaved)
{
    store.close_all();
    dialogs.expect_message(QStringLiteral("数据库没有连接，请先指定一个保存笔记的文件夹。"));
    EXPECT_FALSE(save(QStringLiteral("abc"), QStringLiteral("abc")));
}

} // namespace
} // namespace yunshan
