// The login password in the windows: the check while the main window is created, the password
// rows of the settings dialog and the two menu commands; real settings file and database folders.
#include "app/ui/catalogue_pane.h"
#include "app/ui/main_commands.h"
#include "app/ui/tform1.h"
#include "app/ui/tform2.h"
#include "crypto/login_password.h"
#include "platform/paths.h"
#include "platform/settings_store.h"
#include "store/note_store.h"
#include "store/set_table.h"
#include "support/db_check.h"
#include "support/program_folders.h"
#include "support/scripted_dialogs.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

namespace yunshan {
namespace {

using test::ScriptedDialogs;
using test::TempFolder;

const QString kWrong = QStringLiteral("密码错误");
const QString kSet = QStringLiteral("密码设置成功。");
const QString kCleared = QStringLiteral("密码已经清除。");
const QString kMismatch = QStringLiteral("两次输入的密码不同。请重新输入。");
const QString kWrongCurrent = QStringLiteral("原密码错误，不能更改密码");
const QString kCloseQuestion = QStringLiteral("密码没有保存，是否保存？");
const QString kFoldersQuestion = QStringLiteral("笔记存储路径没有保存，是否保存？");

class LoginWindowTest : public ::testing::Test, protected test::ProgramFolders {
  protected:
    void SetUp() override
    {
        start(); // the first start creates both database files
    }
    void TearDown() override
    {
        form1.reset();
        form2.reset();
        dialogs.verify_done();
    }

    // A start of the program: the main window, the settings dialog, then window creation.
    void start()
    {
        form1.reset();
        form2.reset();
        form2 = std::make_unique<TForm2>(dialogs);
        form1 = std::make_unique<TForm1>(*form2, *settings, form2.get());
        form2->FormCreate(*settings);
    }
    void stop()
    {
        form1.reset();
        form2.reset();
    }
    QString main_file() const { return database_file_in(settings->zhu_db()); }
    QString backup_file() const { return database_file_in(settings->bei_db()); }
    QString stored_digest() { return set_table::read_password(form2->store); }
    void type_passwords(const QString &first, const QString &second)
    {
        form1->Edit4->setText(first);
        form1->Edit5->setText(second);
    }

    ScriptedDialogs dialogs;
    std::unique_ptr<TForm2> form2;
    std::unique_ptr<TForm1> form1;
};

TEST_F(LoginWindowTest, PasswordSetInTheDialogGuardsTheNextStart)
{
    EXPECT_FALSE(form2->login_refused());
    form2->set_login_password();
    ASSERT_TRUE(form1->isVisible());
    EXPECT_FALSE(form1->isModal());
    EXPECT_FALSE(form1->Button5->isEnabled());
    QTest::keyClicks(form1->Edit4, QStringLiteral("Open sesame"));
    EXPECT_TRUE(form1->Button5->isEnabled());
    QTest::keyClicks(form1->Edit5, QStringLiteral("Open sesame"));
    dialogs.expect_message(kSet);
    form1->Button5->click();
    EXPECT_FALSE(form1->Button5->isEnabled());
    EXPECT_EQ(stored_digest(), login_password_digest(QStringLiteral("Open sesame")));
    test::expect_mirror_identical(form2->store);
    form1->close(); // nothing left to ask
    EXPECT_FALSE(form1->isVisible());

    // The fields keep what was typed, also when the dialog is shown again.
    form2->set_login_password();
    ASSERT_TRUE(form1->isVisible());
    EXPECT_EQ(form1->Edit4->text(), QStringLiteral("Open sesame"));
    EXPECT_EQ(form1->Edit5->text(), QStringLiteral("Open sesame"));
    form1->close();

    // The running window is not locked; the next start asks, and blanks around the entry are no
    // part of it.
    stop();
    dialogs.expect_password(QStringLiteral("密码"), QStringLiteral(" Open sesame "));
    start();
    EXPECT_FALSE(form2->login_refused());
    EXPECT_EQ(form2->catalogue_pane()->major_list()->currentRow(), 0);
    EXPECT_EQ(form2->selection.class_index, 0);
}

TEST_F(LoginWindowTest, WrongOrCancelledEntryEndsStartUpWithoutTouchingTheDatabase)
{
    set_table::insert_password(form2->store, login_password_digest(QStringLiteral("云杉")));
    stop();
    const QString main_before = test::dump_database_file(main_file());
    const QString backup_before = test::dump_database_file(backup_file());

    for (const QString &entry : {QString(), QStringLiteral("云"), QStringLiteral("云杉 x")}) {
        dialogs.expect_password(QStringLiteral("密码"), entry); // empty: cancelled
        dialogs.expect_message(kWrong);
        start();
        dialogs.verify_done();
        EXPECT_TRUE(form2->login_refused());
        EXPECT_FALSE(form2->isVisible());
        // Start-up stopped at the check: no category selected.
        EXPECT_EQ(form2->catalogue_pane()->major_list()->currentRow(), -1);
        EXPECT_EQ(form2->selection.class_index, -1);
        stop();
        EXPECT_EQ(test::dump_database_file(main_file()), main_before);
        EXPECT_EQ(test::dump_database_file(backup_file()), backup_before);
    }
}

TEST_F(LoginWindowTest, UpperCaseStoredDigestNeverMatches)
{
    set_table::insert_password(form2->store, login_password_digest(QStringLiteral("abc")).toUpper());
    stop();
    dialogs.expect_password(QStringLiteral("密码"), QStringLiteral("abc"));
    dialogs.expect_message(kWrong);
    start();
    EXPECT_TRUE(form2->login_refused());
}

TEST_F(LoginWindowTest, ChangingAndClearingThroughTheDialog)
{
    set_table::insert_password(form2->store, login_password_digest(QStringLiteral("old")));
    form1->show();

    // The current password is asked for first; a wrong one changes nothing.
    type_passwords(QStringLiteral("new"), QStringLiteral("new"));
    dialogs.expect_password(QStringLiteral("原密码验证"), QStringLiteral("wrong"));
    dialogs.expect_message(kWrongCurrent);
    form1->Button5->click();
    EXPECT_TRUE(form1->Button5->isEnabled());
    EXPECT_EQ(stored_digest(), login_password_digest(QStringLiteral("old")));

    // Fields that differ only by a blank are different.
    type_passwords(QStringLiteral("new"), QStringLiteral("new "));
    dialogs.expect_password(QStringLiteral("原密码验证"), QStringLiteral("old"));
    dialogs.expect_message(kMismatch);
    form1->Button5->click();
    EXPECT_TRUE(form1->Button5->isEnabled());
    EXPECT_EQ(stored_digest(), login_password_digest(QStringLiteral("old")));

    type_passwords(QStringLiteral("new"), QStringLiteral("new"));
    dialogs.expect_password(QStringLiteral("原密码验证"), QStringLiteral("old"));
    dialogs.expect_message(kSet);
    form1->Button5->click();
    EXPECT_EQ(stored_digest(), login_password_digest(QStringLiteral("new")));

    type_passwords(QStringLiteral("  "), QStringLiteral("  "));
    dialogs.expect_password(QStringLiteral("原密码验证"), QStringLiteral("new"));
    dialogs.expect_message(kCleared);
    form1->Button5->click();
    EXPECT_FALSE(form1->Button5->isEnabled());
    EXPECT_EQ(form2->store.get_first_integer(QStringLiteral("select count(*) from set_table where key1='password'")),
              0);
    test::expect_mirror_identical(form2->store);
    form1->close();

    // No password: the next start asks nothing.
    start();
    EXPECT_FALSE(form2->login_refused());
}

TEST_F(LoginWindowTest, ClearingFromTheMenuNeedsNoTyping)
{
    set_table::insert_password(form2->store, login_password_digest(QStringLiteral("old")));
    form2->commands().action("N39")->trigger();
    ASSERT_TRUE(form1->isVisible());
    EXPECT_TRUE(form1->Edit4->text().isEmpty());
    EXPECT_TRUE(form1->Edit5->text().isEmpty());
    ASSERT_TRUE(form1->Button5->isEnabled());
    dialogs.expect_password(QStringLiteral("原密码验证"), QStringLiteral("old"));
    dialogs.expect_message(kCleared);
    form1->Button5->click();
    EXPECT_FALSE(form1->Button5->isEnabled());
    EXPECT_EQ(form2->store.get_first_integer(QStringLiteral("select count(*) from set_table where key1='password'")),
              0);
    form1->close();
}

TEST_F(LoginWindowTest, CloseQuestionAnswers)
{
    const struct {
        Dialogs::Answer answer;
        QString second;  // text of the second field
        bool open_after; // the dialog stays open
        bool stored;
    } cases[] = {
        {Dialogs::Answer::Cancel, QStringLiteral("pw"), true, false},
        {Dialogs::Answer::No, QStringLiteral("pw"), false, false},
        {Dialogs::Answer::Yes, QStringLiteral("pw2"), true, false}, // the save refused: fix the fields
        {Dialogs::Answer::Yes, QStringLiteral("pw"), false, true},
    };
    for (const auto &c : cases) {
        form1->show();
        type_passwords(QStringLiteral("pw"), c.second);
        dialogs.expect_question3(kCloseQuestion, c.answer);
        if (c.answer == Dialogs::Answer::Yes)
            dialogs.expect_message(c.stored ? kSet : kMismatch);
        form1->close();
        dialogs.verify_done();
        EXPECT_EQ(form1->isVisible(), c.open_after);
        EXPECT_EQ(stored_digest(), c.stored ? login_password_digest(QStringLiteral("pw")) : QString());
        if (c.open_after) { // Escape asks the same
            dialogs.expect_question3(kCloseQuestion, Dialogs::Answer::No);
            QTest::keyClick(form1.get(), Qt::Key_Escape);
            EXPECT_FALSE(form1->isVisible());
        }
    }
}

TEST_F(LoginWindowTest, PasswordQuestionFollowsACancelledFoldersQuestion)
{
    form1->show();
    form1->Edit3->setText(QStringLiteral("20")); // an unsaved setting as well
    form1->Edit1Change();
    type_passwords(QStringLiteral("pw"), QStringLiteral("pw"));
    dialogs.expect_question3(kFoldersQuestion, Dialogs::Answer::Cancel);
    dialogs.expect_question3(kCloseQuestion, Dialogs::Answer::Yes);
    dialogs.expect_message(kSet);
    form1->close();
    EXPECT_TRUE(form1->isVisible());
    EXPECT_EQ(stored_digest(), login_password_digest(QStringLiteral("pw")));
    dialogs.expect_question3(kFoldersQuestion, Dialogs::Answer::No);
    form1->close();
    EXPECT_FALSE(form1->isVisible());
}

TEST_F(LoginWindowTest, MenuCommandsCarryTheirTextsAndOpenTheDialog)
{
    EXPECT_EQ(form2->commands().action("N38")->text(), QStringLiteral("设置登陆密码…"));
    EXPECT_EQ(form2->commands().action("N38")->statusTip(),
              QStringLiteral("设置一个密码，使用本笔记软件时需先输入密码。登陆密码不影响全文搜索"));
    EXPECT_EQ(form2->commands().action("N39")->text(), QStringLiteral("取消登陆密码…"));
    EXPECT_EQ(form2->commands().action("N39")->statusTip(), QStringLiteral("去掉原先设置的登陆密码"));
    form2->commands().action("N39")->trigger();
    EXPECT_TRUE(form1->isVisible());
    EXPECT_FALSE(form1->isModal());
    EXPECT_EQ(form1->Edit4->echoMode(), QLineEdit::Password);
    EXPECT_EQ(form1->Edit5->echoMode(), QLineEdit::Password);
    EXPECT_EQ(form1->Label4->text(), QStringLiteral("设置登陆密码(为空表示不使用密码)："));
    // The clearing offered and not done is asked about on closing.
    dialogs.expect_question3(QStringLiteral("密码没有保存，是否保存？"), Dialogs::Answer::No);
    form1->close();
}

} // namespace
} // namespace yunshan
