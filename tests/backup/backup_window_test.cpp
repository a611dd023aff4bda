// The backup tool button, the progress panel and the exit step in the main window.
#include "app/startup.h"
#include "app/ui/catalogue_pane.h"
#include "app/ui/progress_panel.h"
#include "app/ui/tform2.h"
#include "backup/local_backup.h"
#include "backup/zip_package.h"
#include "platform/paths.h"
#include "platform/settings_store.h"
#include "support/event_loop_watch.h"
#include "support/main_window_fixture.h"
#include "support/temp_folder.h"
#include "support/webdav_server.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

namespace yunshan {
namespace {

using test::ScriptedDialogs;
using test::TempFolder;

class BackupWindowTest : public test::MainWindowFixture {
  protected:
    void SetUp() override
    {
        settings->set_value(QStringLiteral("auto"), QStringLiteral("1"));
        settings->set_value(QStringLiteral("tian"), QStringLiteral("10"));
        start();
        form->show();
    }
    QString today_copy() const { return join_path(bei, backup_file_name(QStringLiteral("buckup_"), 0)); }

    // A changed database holding `megabytes` MB that do not compress (random from `seed`), to be
    // backed up to `server`.
    void back_up_to(const test::ApacheDav &server, int megabytes, quint32 seed)
    {
        QByteArray blob(megabytes * 1000 * 1000, Qt::Uninitialized);
        QRandomGenerator(seed).fillRange(reinterpret_cast<quint32 *>(blob.data()), blob.size() / 4);
        form->store.main().execute(QStringLiteral("insert into set_table(key1,value1) values('blob',?)"), {blob});
        form->run.dav_url = server.url();
        form->run.dav_username = QStringLiteral("u");
        form->run.dav_password = QStringLiteral("p");
        form->store.set_changed(true);
    }
};

TEST_F(BackupWindowTest, UploadShowsPercentagesOnThePanel)
{
    test::ApacheDav server(QStringLiteral("u"), QStringLiteral("p"));
    ASSERT_TRUE(server.started()) << server.error().toStdString();
    TForm2 &f = *form;
    // 50 MB that does not compress: the package is as large.
    back_up_to(server, 50, 7);
    // At 100 MB/s the upload lasts half a second at least, so the 100 ms progress timer ticks
    // during it however fast the machine is.
    f.transfers().webdav().client.set_send_speed_limit(100'000'000);

    // Record the panel while the transfer lets events run.
    QStringList seen;
    QTimer watch;
    watch.setInterval(5);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (f.progress_panel()->isVisible())
            seen.append(f.progress_panel()->line() + QLatin1Char('|') + f.progress_panel()->speed_line());
    });
    watch.start();
    dialogs.expect_message(today_copy() + QStringLiteral(" 备份成功。"));
    f.commands().button("ToolButton18")->click();
    watch.stop();
    dialogs.verify_done();

    const QRegularExpression percent(
        QStringLiteral("^备份上传中已：\\d+\\.\\d\\d%\\|传输速度：\\d+\\.\\d\\dMB/秒 剩余时间："));
    const QStringList progress = seen.filter(percent);
    EXPECT_FALSE(progress.isEmpty()) << seen.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(f.transfers().counters().transfer_done, f.transfers().counters().transfer_total);
    EXPECT_GT(f.transfers().counters().transfer_total, 50'000'000);
    EXPECT_TRUE(f.progress_panel()->isHidden());
    EXPECT_EQ(f.transfers().progress_mode(), ProgressMode::Upload);
    EXPECT_FALSE(f.store.changed());
    EXPECT_TRUE(QFile::exists(today_copy()));
    // The timer stops itself on its first tick after the panel has gone.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !f.transfers().progress_timer()->isActive(); }, 2000));
}

// The package is built on a worker thread: the window keeps painting and its 10 ms timer keeps
// ticking meanwhile (no gap of 100 ms or more in which this thread was busy; a gap while the
// machine's other work held the processor says nothing about the program), and the commands that
// write wait until the backup is over.
TEST_F(BackupWindowTest, WindowStaysLiveAndWritingWaitsWhileThePackageIsBuilt)
{
    test::ApacheDav server(QStringLiteral("u"), QStringLiteral("p"));
    ASSERT_TRUE(server.started()) << server.error().toStdString();
    TForm2 &f = *form;
    // 30 MB that does not compress: packing it takes a while on any machine.
    back_up_to(server, 30, 11);

    bool writing_possible = false;
    test::EventLoopWatch watch(
        [&] {
            return f.progress_panel()->isVisible() && f.progress_panel()->line() == QStringLiteral("正在压缩数据……");
        },
        f.progress_panel());
    watch.on_tick = [&](bool) {
        f.progress_panel()->update();
        writing_possible = writing_possible || f.commands().tool_bar()->isEnabled() || f.menuBar()->isEnabled() ||
                           f.catalogue_pane()->major_list()->isEnabled() || f.Timer1->isActive();
    };
    watch.start();
    dialogs.expect_message(today_copy() + QStringLiteral(" 备份成功。"));
    f.commands().button("ToolButton18")->click();
    watch.stop();
    dialogs.verify_done();

    EXPECT_GE(watch.ticks(), 5);
    EXPECT_TRUE(watch.busy_gaps().isEmpty()) << watch.report() << " while packing";
    EXPECT_GE(watch.paints(), 2);
    EXPECT_FALSE(writing_possible);
    // Over, the window takes input again.
    EXPECT_TRUE(f.commands().tool_bar()->isEnabled());
    EXPECT_TRUE(f.menuBar()->isEnabled());
    EXPECT_FALSE(f.transfers().running());
    EXPECT_TRUE(QFile::exists(today_copy()));
}

TEST_F(BackupWindowTest, EscHeldEndsTheCommandBeforeTheCopy)
{
    TForm2 &f = *form;
    f.store.set_changed(true);
    QTest::keyPress(&f, Qt::Key_Escape);
    f.back_up_now();
    QTest::keyRelease(&f, Qt::Key_Escape);
    dialogs.verify_done();
    EXPECT_FALSE(QFile::exists(today_copy()));
    EXPECT_TRUE(f.progress_panel()->isHidden());
    EXPECT_TRUE(f.store.changed());

    // Released, the command runs.
    dialogs.expect_message(today_copy() + QStringLiteral(" 备份成功。"));
    f.back_up_now();
    dialogs.verify_done();
    EXPECT_TRUE(QFile::exists(today_copy()));
}

TEST_F(BackupWindowTest, ClosingAfterAWriteMakesTheDatedCopyWithoutAMessage)
{
    TForm2 &f = *form;
    f.store.set_changed(true);
    QCloseEvent e;
    QCoreApplication::sendEvent(&f, &e);
    EXPECT_TRUE(e.isAccepted());
    dialogs.verify_done();
    EXPECT_EQ(f.transfers().backup_run(), BackupRun::AtExit);
    EXPECT_TRUE(QFile::exists(today_copy()));
    EXPECT_FALSE(f.store.changed());
}

TEST_F(BackupWindowTest, ExitWithoutBackupStillWritesTheStampOfAWritingRun)
{
    TForm2 &f = *form;
    f.store.set_changed(true);
    f.exit_without_backup(); // 退出(不备份)
    dialogs.verify_done();
    EXPECT_FALSE(f.isVisible());
    EXPECT_FALSE(QFile::exists(today_copy()));
    EXPECT_NE(f.store.get_first_string(QStringLiteral("select value1 from set_table where key1='last_time'")),
              QString());
}

} // namespace
} // namespace yunshan
