// "检查更新", the start-up check and the self-update through the main window, against a server
// on 127.0.0.1 and a real program file in a temporary folder.
#include "app/tmythread.h"
#include "app/ui/tform2.h"
#include "app/ui/update_notice.h"
#include "backup/webdav.h"
#include "backup/zip_package.h"
#include "platform/paths.h"
#include "platform/settings_store.h"
#include "program_files.h"
#include "support/scripted_dialogs.h"
#include "support/temp_folder.h"
#include "support/update_server.h"
#include "support/url_catcher.h"

#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <atomic>

namespace yunshan {
namespace {

using test::run;
using test::script;
using test::ScriptedDialogs;
using test::TempFolder;
using test::UrlCatcher;
using test::write_program;

const QByteArray kCheck = "/abc/ver.php?p=20&v=54";
const QByteArray kPackage = "/abc/dl2.php?p=20&v=664312";
const QString kUnsaved = QStringLiteral("笔记没保存，是否保存或者取消退出？");

class UpdateWindowTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        program = dir.file(QStringLiteral("yunshan-note"));
        write_program(program, "old");
        set_program_file_override(program);
        set_autosave_folder_override(dir.mkdir(QStringLiteral("tmp")));
        TempFolder::write(dir.file(QStringLiteral("new-source")), script("new"));
        package = build_package(dir.file(QStringLiteral("new-source")), QString());
        settings = std::make_unique<SettingsStore>(dir.file(QStringLiteral("YunShanNote.ini")));
        settings->set_value(QStringLiteral("zhu_db"), dir.mkdir(QStringLiteral("main")));
        form = std::make_unique<TForm2>(dialogs);
        form->FormCreate(*settings);
        form->updates().server = server.url();
        form->restart_program = [this](const QString &p) { restarted << p; };
    }
    void TearDown() override
    {
        form.reset();
        dialogs.verify_done();
        set_program_file_override({});
        set_autosave_folder_override({});
    }

    // The start-up worker, or "检查更新" (manual), to its end.
    void check(bool manual)
    {
        if (manual)
            form->check_for_update();
        else
            form->start_worker(0);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !form->worker_running(); }, 20000));
        QCoreApplication::processEvents();
    }

    TempFolder dir;
    QString program;
    QByteArray package;
    test::UpdateServer server;
    std::unique_ptr<SettingsStore> settings;
    ScriptedDialogs dialogs;
    std::unique_ptr<TForm2> form;
    UrlCatcher catcher{{QStringLiteral("https"), QStringLiteral("http")}};
    QStringList restarted;
};

TEST_F(UpdateWindowTest, AnswerWithoutMarkersIsSilentAtStartAndLatestFromTheMenu)
{
    server.answer(kCheck, 200, "1.5.4");
    check(false);
    EXPECT_TRUE(dialogs.shown().isEmpty());
    EXPECT_EQ(form->notice_label()->text(), QString());
    dialogs.expect_message(QStringLiteral("当前已经是最新版本。"));
    check(true);
    EXPECT_EQ(form->updates().run, UpdateCheckRun::StartUp);
}

// A failed check at start-up (404, refused, time-out) shows nothing, and the deferred step
// still runs: the autosave key is there afterwards.
TEST_F(UpdateWindowTest, FailedCheckAtStartStillRunsTheDeferredStep)
{
    check(false); // 404
    EXPECT_TRUE(dialogs.shown().isEmpty());
    EXPECT_EQ(form->store.get_first_string(QStringLiteral("select value1 from set_table where key1='tmp_file1'")),
              QStringLiteral("000"));
}

TEST_F(UpdateWindowTest, FailedCheckFromTheMenuSaysSo)
{
    dialogs.expect_error(QStringLiteral("检查更新失败：HTTP 404"));
    check(true);
    EXPECT_EQ(form->updates().run, UpdateCheckRun::StartUp);
}

TEST_F(UpdateWindowTest, NoServerFromTheMenuSaysSo)
{
    form->updates().server.clear();
    dialogs.expect_message(QStringLiteral("没有设置更新服务器，无法检查更新。"));
    check(true);
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST_F(UpdateWindowTest, OptionalUpdateDeclinedLeavesTheNoticeWithThePackageLink)
{
    server.answer(kCheck, 200, QStringLiteral("0pop>发现新版本2.0").toUtf8());
    dialogs.expect_question(QStringLiteral("发现新版本2.0，是否下载新程序？"), Dialogs::Answer::No);
    check(false);
    EXPECT_EQ(form->notice_label()->text(), QStringLiteral("发现新版本2.0"));
    EXPECT_EQ(form->notice_label()->toolTip(), QStringLiteral("有新版本可以下载，点此立即下载。"));
    QTest::mouseClick(form->notice_label(), Qt::LeftButton);
    ASSERT_EQ(catcher.urls.size(), 1);
    EXPECT_EQ(catcher.urls[0].toString(), server.url() + QString::fromLatin1(kPackage));
    EXPECT_EQ(run(program), "old");
}

TEST_F(UpdateWindowTest, NoticeWithLinkAndHint)
{
    server.answer(kCheck, 200,
                  QStringLiteral("<msg>春季活动</msg><url>https://a.example/spring</url><tip>点此查看</tip>").toUtf8());
    check(false);
    EXPECT_EQ(form->notice_label()->text(), QStringLiteral("春季活动"));
    EXPECT_EQ(form->notice_label()->toolTip(), QStringLiteral("点此查看"));
    form->updates().open_download_page();
    ASSERT_EQ(catcher.urls.size(), 1);
    EXPECT_EQ(catcher.urls[0], QUrl(QStringLiteral("https://a.example/spring")));
}

TEST_F(UpdateWindowTest, NoticeWithAnUnsafeLinkOpensNothing)
{
    server.answer(kCheck, 200, "<msg>m</msg><url>file:///etc/passwd</url><tip>t</tip>");
    check(false);
    EXPECT_EQ(form->notice_label()->text(), QStringLiteral("m"));
    form->updates().open_download_page();
    EXPECT_TRUE(catcher.urls.isEmpty());
}

// Yes: the package comes with a client of its own (the WebDAV credentials stay home), the
// closing steps run, the new program takes the place of the old one and is started.
TEST_F(UpdateWindowTest, OptionalUpdateAcceptedSwapsAndRestarts)
{
    form->transfers().webdav().client.set_header("Authorization", "Basic dXNlcjpwYXNz");
    form->transfers().webdav().set_request_header("Authorization", "Basic dXNlcjpwYXNz");
    server.answer(kCheck, 200, "0pop>v2");
    server.answer(kPackage, 302, "/files/new.zip");
    server.answer("/files/new.zip", 200, package);
    dialogs.expect_question(QStringLiteral("v2，是否下载新程序？"), Dialogs::Answer::Yes);
    check(true);
    EXPECT_EQ(restarted, QStringList{program});
    EXPECT_EQ(run(program), "new");
    EXPECT_EQ(TempFolder::read(program + QStringLiteral("2")), script("old"));
    EXPECT_FALSE(form->store.main_connected());
    EXPECT_FALSE(form->store.owns_mark());
    const QStringList requests = server.requests();
    ASSERT_EQ(requests.size(), 3);
    for (const QString &r : requests)
        EXPECT_FALSE(r.contains(QStringLiteral("Authorization"), Qt::CaseInsensitive)) << r.toStdString();
}

TEST_F(UpdateWindowTest, ForcedUpdateWithADamagedPackageKeepsTheOldProgramRunning)
{
    QByteArray damaged = package;
    damaged[40] = static_cast<char>(damaged[40] ^ 0x55);
    server.answer(kCheck, 200, "xlow>必须更新");
    server.answer(kPackage, 200, damaged);
    dialogs.expect_message(QStringLiteral("必须更新"));
    dialogs.expect_containing(ScriptedDialogs::Kind::Error, QStringLiteral("更新文件无效，程序没有更新："));
    check(false);
    EXPECT_TRUE(restarted.isEmpty());
    EXPECT_EQ(run(program), "old");
    EXPECT_FALSE(QFile::exists(program + QStringLiteral("2X")));
    EXPECT_TRUE(form->store.main_connected());
    EXPECT_EQ(form->notice_label()->text(), QString());
    // The deferred step ran all the same.
    EXPECT_EQ(form->store.get_first_string(QStringLiteral("select value1 from set_table where key1='tmp_file1'")),
              QStringLiteral("000"));
}

TEST_F(UpdateWindowTest, EmptyPackageIsAFailure)
{
    server.answer(kCheck, 200, "xlow>必须更新");
    server.answer(kPackage, 200, "");
    dialogs.expect_message(QStringLiteral("必须更新"));
    dialogs.expect_error(QStringLiteral("下载更新文件失败：服务器没有发来更新文件。"));
    check(true);
    EXPECT_TRUE(restarted.isEmpty());
    EXPECT_EQ(run(program), "old");
}

// Cancel at the unsaved-note question: no swap, nothing left beside the program, the window
// stays usable.
TEST_F(UpdateWindowTest, CancelledCloseKeepsTheOldProgram)
{
    server.answer(kCheck, 200, "xlow>必须更新");
    server.answer(kPackage, 200, package);
    form->set_save_enabled(true);
    dialogs.expect_message(QStringLiteral("必须更新"));
    dialogs.expect_question3(kUnsaved, Dialogs::Answer::Cancel);
    check(true);
    EXPECT_TRUE(restarted.isEmpty());
    EXPECT_EQ(run(program), "old");
    EXPECT_FALSE(QFile::exists(program + QStringLiteral("2X")));
    EXPECT_TRUE(form->store.main_connected());
    EXPECT_TRUE(form->save_enabled());
}

// A server that takes the connection and never answers: the window goes away at once, and the
// request ended because it was told to stop, not by its time-out.
TEST(UpdateWindowHang, DestroyingTheWindowStopsAHangingCheck)
{
    test::UpdateServer hanging(true);
    ScriptedDialogs dialogs;
    std::atomic<bool> started{false};
    std::atomic<bool> cancelled{false};
    {
        TForm2 form(dialogs);
        const QString url = hanging.url();
        form.updates().check = [url, &started, &cancelled] {
            started = true;
            VersionReply r = fetch_version_reply(url, &TMyThread::stop_requested, 600);
            cancelled = r.cancelled;
            return r;
        };
        form.updates().run = UpdateCheckRun::Manual;
        form.start_worker(0);
        ASSERT_TRUE(QTest::qWaitFor([&] { return bool(started); }, 5000));
        QTest::qWait(100);
    }
    EXPECT_TRUE(cancelled);
}

} // namespace
} // namespace yunshan
