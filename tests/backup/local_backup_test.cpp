// The dated copies and their retention, without a WebDAV share.
#include "backup/local_backup.h"
#include "backup_test_util.h"
#include "store/connection.h"
#include "support/db_check.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

namespace yunshan {
namespace {

using test::ScriptedDialogs;
using test::TempFolder;

using LocalBackupTest = test::BackupTest;

QString row_in(const QString &file)
{
    Connection c;
    c.open(file);
    const auto v = c.query_first(QStringLiteral("select value1 from set_table where key1='note'"));
    return v ? v->toString() : QString();
}

TEST(BackupFileName, PrefixUnderscoreAndDateOfDaysBack)
{
    const QDate d(2024, 3, 15);
    EXPECT_EQ(backup_file_name(QStringLiteral("buckup_"), 0, d), QStringLiteral("buckup__20240315.sl3"));
    EXPECT_EQ(backup_file_name(QStringLiteral("buckup_"), 15, d), QStringLiteral("buckup__20240229.sl3"));
    EXPECT_EQ(backup_file_name(QStringLiteral("buckup_"), -1, d), QStringLiteral("buckup__20240316.sl3"));
}

TEST_F(LocalBackupTest, UserBackupCopiesAndASecondOneThatDayReplacesTheCopy)
{
    run.auto_backup.clear(); // the exit switch does not concern the button
    dialogs.expect_message(dated(0) + QStringLiteral(" 备份成功。"));
    BackupContext c = context();
    backup_command(c, BackupRun::Command, BackupScope::UploadAndCopy);
    dialogs.verify_done();
    EXPECT_FALSE(store.changed());
    EXPECT_EQ(row_in(dated(0)), QStringLiteral("第一版"));
    EXPECT_EQ(shown_lines, (QStringList{QStringLiteral("正在备份……"), QStringLiteral("正在本地备份……")}));
    EXPECT_EQ(hides, 1);

    test::write_sql(store, QStringLiteral("update set_table set value1='第二版' where key1='note'"));
    dialogs.expect_message(dated(0) + QStringLiteral(" 备份成功。"));
    backup_command(c, BackupRun::Command, BackupScope::UploadAndCopy);
    dialogs.verify_done();
    EXPECT_EQ(row_in(dated(0)), QStringLiteral("第二版"));
    EXPECT_EQ(QDir(bei).entryList(QDir::Files | QDir::Hidden),
              (QStringList{QStringLiteral("buckup__20240315.sl3"), QStringLiteral("notedb.sl3")}));
}

TEST_F(LocalBackupTest, FailedCopyIsReportedKeepsTheEarlierCopyAndTheChangeMark)
{
    TempFolder::write(dated(0), "earlier copy");
    QDir().mkdir(dated(0) + QStringLiteral(".tmp")); // the temporary name cannot be written
    dialogs.expect_containing(ScriptedDialogs::Kind::Error, dated(0) + QStringLiteral(" 备份失败："));
    BackupContext c = context();
    backup_command(c, BackupRun::Command, BackupScope::UploadAndCopy);
    dialogs.verify_done();
    EXPECT_EQ(TempFolder::read(dated(0)), QByteArray("earlier copy"));
    EXPECT_TRUE(store.changed());
}

TEST_F(LocalBackupTest, ExitWithoutChangesMakesNoCopyButRunsRetention)
{
    store.set_changed(false);
    for (int days : {10, 11, 12})
        TempFolder::write(dated(days), "old");
    BackupRun exit_mark = BackupRun::Command;
    BackupContext c = context();
    exit_backup_step(c, exit_mark);
    EXPECT_EQ(exit_mark, BackupRun::AtExit);
    EXPECT_FALSE(QFile::exists(dated(0)));
    EXPECT_TRUE(QFile::exists(dated(10)));
    EXPECT_FALSE(QFile::exists(dated(11))); // exactly the one n + 1 days old
    EXPECT_TRUE(QFile::exists(dated(12)));
}

TEST_F(LocalBackupTest, RetentionValues)
{
    struct Case {
        const char *tian;
        int removed; // days back of the copy removed, -1 none
    };
    for (const Case &k : {Case{"0", -1}, Case{"-1", 0}, Case{"3", 4}, Case{"abc", -1}, Case{"", -1}, Case{" 2 ", 3}}) {
        SCOPED_TRACE(k.tian);
        run.tian = QString::fromLatin1(k.tian);
        store.set_changed(true);
        for (int days = 0; days <= 5; ++days)
            TempFolder::write(dated(days), "copy");
        BackupRun exit_mark = BackupRun::Command;
        BackupContext c = context();
        exit_backup_step(c, exit_mark); // makes today's copy, then removes
        for (int days = 0; days <= 5; ++days)
            EXPECT_EQ(QFile::exists(dated(days)), days != k.removed) << days;
    }
}

TEST_F(LocalBackupTest, ExitStepNeedsTheExitSwitchOrTheExitUpload)
{
    run.auto_backup = QStringLiteral("0");
    run.webdav_tcbc = false;
    TempFolder::write(dated(11), "old");
    BackupRun exit_mark = BackupRun::Command;
    BackupContext c = context();
    exit_backup_step(c, exit_mark);
    EXPECT_EQ(exit_mark, BackupRun::Command);
    EXPECT_TRUE(QFile::exists(dated(11)));
    EXPECT_FALSE(QFile::exists(dated(0)));

    // "退出(不备份)": no copy, but retention and the change mark (for the exit stamp) stay.
    run.auto_backup = QStringLiteral("1");
    run.skip_exit_backup = true;
    exit_backup_step(c, exit_mark);
    EXPECT_FALSE(QFile::exists(dated(0)));
    EXPECT_FALSE(QFile::exists(dated(11)));
    EXPECT_TRUE(store.changed());
}

TEST_F(LocalBackupTest, EscAfterTheUploadPartSkipsTheCopy)
{
    esc = true;
    BackupContext c = context();
    backup_command(c, BackupRun::Command, BackupScope::UploadAndCopy);
    dialogs.verify_done();
    EXPECT_FALSE(QFile::exists(dated(0)));
    EXPECT_TRUE(store.changed()); // nothing was backed up
    EXPECT_EQ(hides, 1);
}

TEST_F(LocalBackupTest, CopyOfAClosedDatabaseHoldsItsRows)
{
    store.close_all();
    dialogs.expect_message(dated(0) + QStringLiteral(" 备份成功。"));
    BackupContext c = context();
    backup_command(c, BackupRun::Command, BackupScope::UploadAndCopy);
    dialogs.verify_done();
    EXPECT_EQ(test::dump_database_file(dated(0)), test::dump_database_file(main_file()));
}

} // namespace
} // namespace yunshan
