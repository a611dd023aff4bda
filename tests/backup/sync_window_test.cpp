// The sync commands of the main window against a real Apache share: "立即从网盘同步…",
// "立即备份到网盘…" and the start-up download.
#include "app/ui/catalogue_pane.h"
#include "app/ui/progress_panel.h"
#include "app/ui/tform2.h"
#include "backup/cloud_sync.h"
#include "backup/export.h"
#include "backup/local_backup.h"
#include "backup/transfer_errors.h"
#include "backup/webdav.h"
#include "platform/paths.h"
#include "platform/settings_store.h"
#include "store/set_table.h"
#include "support/db_check.h"
#include "support/main_window_fixture.h"
#include "support/share_peer.h"
#include "support/temp_folder.h"
#include "support/webdav_server.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

namespace yunshan {
namespace {

using test::ScriptedDialogs;
using test::TempFolder;

const QString kAskSync = QStringLiteral("将会从网盘下载数据库并替换当前的数据库（替换时会自动备份），是否从网盘同步？");

class SyncWindowTest : public test::MainWindowFixture {
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.started()) << server.error().toStdString();
        settings->set_value(QStringLiteral("auto"), QStringLiteral("1"));
        start();
        form->show();
        form->run.dav_url = server.url();
        form->run.dav_username = QStringLiteral("u");
        form->run.dav_password = QStringLiteral("p");
    }
    void add_major(const QString &caption)
    {
        test::write_sql(form->store,
                        QStringLiteral("insert into Class(px,caption) values(1,'") + caption + QStringLiteral("')"));
    }
    // Uploads the main database as it stands.
    void publish()
    {
        UploadSteps steps;
        ASSERT_EQ(upload_package(form->transfers().webdav(),
                                 {form->run.dav_url, form->run.dav_username, form->run.dav_password},
                                 database_file_in(zhu), form->run.zip_password, dialogs, steps),
                  UploadOutcome::Uploaded);
    }
    QStringList majors() const { return texts(form->catalogue_pane()->major_list()); }

    test::ApacheDav server{QStringLiteral("u"), QStringLiteral("p")};
};

// The first sync knows nothing of a common past: both sides' notes are kept, the merged file
// takes the main file's place and goes up to the share.
TEST_F(SyncWindowTest, MenuSyncKeepsBothSidesAndReloadsTheLists)
{
    TForm2 &f = *form;
    add_major(QStringLiteral("网盘大类"));
    publish();
    add_major(QStringLiteral("本机大类"));
    f.load_class();
    f.note.noteId = 5;
    f.note.noteId_bei = 5;
    f.note.title_mark = ChangeMark::Suspended; // shown, not typed: nothing unsaved
    f.title_field()->setText(QStringLiteral("旧标题"));
    f.note.title_mark = ChangeMark::Unchanged;

    dialogs.expect_question(kAskSync, Dialogs::Answer::Yes).expect_message(QStringLiteral("同步完成。"));
    f.commands().action("N91")->trigger();
    dialogs.verify_done();
    EXPECT_TRUE(majors().contains(QStringLiteral("网盘大类")));
    EXPECT_TRUE(majors().contains(QStringLiteral("本机大类")));
    EXPECT_EQ(f.catalogue_pane()->major_list()->currentRow(), 0);
    EXPECT_EQ(f.note.noteId, -1);
    EXPECT_EQ(f.note.noteId_bei, -1);
    EXPECT_TRUE(f.title_field()->text().isEmpty());
    EXPECT_TRUE(f.progress_panel()->isHidden());
    EXPECT_EQ(f.transfers().progress_mode(), ProgressMode::Upload); // the merged database went up last
    EXPECT_TRUE(f.menuBar()->isEnabled());
    EXPECT_TRUE(f.catalogue_pane()->major_list()->isEnabled());
    EXPECT_TRUE(QFileInfo::exists(ring_slot(database_file_in(zhu), 1)));
    test::expect_mirror_identical(f.store);

    // No: nothing happens.
    dialogs.expect_question(kAskSync, Dialogs::Answer::No);
    f.sync_from_share();
}

TEST_F(SyncWindowTest, UnsavedNoteIsSettledFirst)
{
    TForm2 &f = *form;
    publish();
    f.set_save_enabled(true);
    dialogs.expect_question(kAskSync, Dialogs::Answer::Yes)
        .expect_question3(QStringLiteral("笔记没保存，是否保存或者取消当前操作？"), Dialogs::Answer::Cancel)
        .expect_message(QStringLiteral("同步失败。"));
    f.sync_from_share();
    dialogs.verify_done();
    EXPECT_TRUE(f.save_enabled());
    EXPECT_TRUE(server.requests().filter(QStringLiteral("GET ")).isEmpty());

    // No drops the changes and syncs.
    dialogs.expect_question(kAskSync, Dialogs::Answer::Yes)
        .expect_question3(QStringLiteral("笔记没保存，是否保存或者取消当前操作？"), Dialogs::Answer::No)
        .expect_message(QStringLiteral("同步完成。"));
    f.sync_from_share();
    EXPECT_FALSE(f.save_enabled());
}

TEST_F(SyncWindowTest, WrongArchivePasswordReportsTheErrorAndFailure)
{
    TForm2 &f = *form;
    f.run.zip_password = QStringLiteral("right");
    publish();
    add_major(QStringLiteral("本机大类"));
    f.run.zip_password = QStringLiteral("wrong");
    dialogs.expect_question(kAskSync, Dialogs::Answer::Yes)
        .expect_error(QStringLiteral("从网盘 %1 下载的备份文件 notedb.zip 打不开：压缩包密码不对，或者文件已损坏，"
                                     "请检查设置里的压缩包密码。本地笔记没有改动。\nWrong password or corrupted file")
                          .arg(server_name(server.url())))
        .expect_message(QStringLiteral("同步失败。"));
    f.sync_from_share();
    dialogs.verify_done();
    EXPECT_TRUE(majors().contains(QStringLiteral("本机大类")));
    EXPECT_TRUE(f.store.main_connected());
    EXPECT_FALSE(QFileInfo::exists(ring_slot(database_file_in(zhu), 1)));
}

TEST_F(SyncWindowTest, StartUpWithTheShareDownKeepsTheLocalNotes)
{
    TForm2 &f = *form;
    add_major(QStringLiteral("本机大类"));
    f.load_class();
    set_table::replace(f.store, set_table::key_start_download(), QStringLiteral("1"));
    set_table::replace(f.store, set_table::key_dav_url(),
                       QStringLiteral("http://127.0.0.1:%1/dav").arg(test::closed_port()));
    f.deferred_settings(); // no box at all
    dialogs.verify_done();
    EXPECT_TRUE(f.run.webdav_qdxz);
    EXPECT_TRUE(f.run.dav_url.endsWith(QStringLiteral("/dav/")));
    EXPECT_TRUE(f.store.main_connected());
    EXPECT_TRUE(majors().contains(QStringLiteral("本机大类")));
    EXPECT_TRUE(f.progress_panel()->isVisible());
    EXPECT_EQ(f.progress_panel()->line(), QStringLiteral("从网盘同步失败"));
    const QString why =
        QStringLiteral("从网盘下载失败：连接不上服务器 %1，请检查网址、端口和网络。本地笔记没有改动。\n")
            .arg(server_name(f.run.dav_url));
    EXPECT_TRUE(f.progress_panel()->speed_line().startsWith(why)) << f.progress_panel()->speed_line().toStdString();
    EXPECT_TRUE(f.menuBar()->isEnabled());
    EXPECT_FALSE(f.transfers().running());
}

TEST_F(SyncWindowTest, EscOnTheWindowCancelsADownloadThatWaits)
{
    test::StallingServer stalling(test::StallingServer::Mode::Silent);
    TForm2 &f = *form;
    add_major(QStringLiteral("本机大类"));
    f.load_class();
    f.run.dav_url = stalling.url();
    // ESC pressed on the window once the request waits on the silent share: the window's events
    // still run.
    QTimer waiting;
    QObject::connect(&waiting, &QTimer::timeout, &f, [&] {
        if (stalling.requests() == 0)
            return;
        waiting.stop();
        QTest::keyPress(&f, Qt::Key_Escape);
    });
    waiting.start(20);
    dialogs.expect_question(kAskSync, Dialogs::Answer::Yes)
        .expect_message(QStringLiteral("已取消从网盘下载。本地笔记没有改动。\nThe request to ") +
                        webdav_package_url(f.run.dav_url) + QStringLiteral(" was cancelled"));
    f.sync_from_share();
    QTest::keyRelease(&f, Qt::Key_Escape);
    dialogs.verify_done();
    EXPECT_TRUE(f.store.main_connected());
    EXPECT_TRUE(majors().contains(QStringLiteral("本机大类")));
    EXPECT_TRUE(f.menuBar()->isEnabled());
    EXPECT_FALSE(f.transfers().running());
}

TEST_F(SyncWindowTest, StartUpDownloadsWhenTheSwitchIsOn)
{
    TForm2 &f = *form;
    add_major(QStringLiteral("网盘大类"));
    set_table::replace(f.store, set_table::key_start_download(), QStringLiteral("1"));
    set_table::replace(f.store, set_table::key_dav_url(), server.url());
    set_table::replace(f.store, set_table::key_dav_username(), QStringLiteral("u"));
    set_table::replace(f.store, set_table::key_dav_password(), QStringLiteral("p"));
    publish();
    test::write_sql(f.store, QStringLiteral("delete from Class"));
    f.load_class();
    f.deferred_settings();
    EXPECT_TRUE(majors().contains(QStringLiteral("网盘大类")));
    EXPECT_TRUE(f.progress_panel()->isHidden());
}

// Every database file a run makes holds the share's and the archive's passwords in clear: each
// is readable by its owner alone, whatever the process's file mode mask lets through. The run
// backs up (upload and dated copy), exports a major category and downloads the share's database
// (the local file into the ring, the backup kept aside and copied afresh).
TEST_F(SyncWindowTest, EveryDatabaseFileOfARunIsPrivate)
{
    const mode_t mask = ::umask(022);
    const auto restore_mask = qScopeGuard([mask] { ::umask(mask); });
    TForm2 &f = *form;
    const QString out = dir.mkdir(QStringLiteral("out"));
    f.store.set_changed(true);
    const QString dated = join_path(bei, backup_file_name(QStringLiteral("buckup_"), 0));
    dialogs.expect_message(dated + QStringLiteral(" 备份成功。"));
    f.back_up_now();
    dialogs.verify_done();

    f.catalogue_pane()->major_list()->setCurrentRow(0);
    dialogs.expect_question(export_text::ask(), Dialogs::Answer::Yes)
        .expect_message(export_text::same_names())
        .expect(ScriptedDialogs::Kind::SaveFile, export_text::dialog_title(), Dialogs::Answer::Yes,
                join_path(out, QStringLiteral("导出")))
        .expect_message(export_text::done());
    f.export_category_database();
    dialogs.verify_done();

    // A main file from an older version, made with the default mode: its place in the ring is
    // private all the same.
    ASSERT_TRUE(QFile::setPermissions(database_file_in(zhu), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                                 QFileDevice::ReadGroup | QFileDevice::ReadOther));
    // Another machine changed the share since the upload above.
    test::upload_changed_copy(database_file_in(zhu), QStringLiteral("insert into Class(px,caption) values(1,'别处')"),
                              {f.run.dav_url, f.run.dav_username, f.run.dav_password}, f.run.zip_password,
                              dir.mkdir(QStringLiteral("other")));
    dialogs.expect_question(kAskSync, Dialogs::Answer::Yes).expect_message(QStringLiteral("同步完成。"));
    f.sync_from_share();
    dialogs.verify_done();
    form.reset(); // the connections are closed: no journal is left beside a file

    QStringList modes;
    for (const QString &folder : {zhu, bei, out}) {
        const QDir d(folder);
        for (const QString &name : d.entryList(QDir::Files | QDir::Hidden, QDir::Name)) {
            struct stat st {};
            ASSERT_EQ(::stat(QFile::encodeName(d.filePath(name)).constData(), &st), 0) << name.toStdString();
            // Dated names stand as their pattern.
            QString shown = name;
            shown.replace(QRegularExpression(QStringLiteral("\\d{8}(_\\d{6})?")), QStringLiteral("<date>"));
            modes << QStringLiteral("%1/%2 %3")
                         .arg(QFileInfo(folder).fileName(), shown)
                         .arg(st.st_mode & 0777, 4, 8, QLatin1Char('0'));
        }
    }
    EXPECT_EQ(modes,
              QStringList({QStringLiteral("main/notedb.sl3 0600"), QStringLiteral("main/notedb.sl3.bat1 0600"),
                           QStringLiteral("backup/buckup__<date>.sl3 0600"), QStringLiteral("backup/notedb.sl3 0600"),
                           QStringLiteral("backup/notedb_old_<date>.sl3 0600"), QStringLiteral("out/导出.sl3 0600")}))
        << modes.join(QLatin1Char('\n')).toStdString();
}

TEST_F(SyncWindowTest, UploadOnDemand)
{
    TForm2 &f = *form;
    QSignalSpy modal(&f, &TForm2::settingsModalRequested);
    const QString incomplete =
        QStringLiteral("webDAV协议所需的网址或者用户名或者密码都需要完整，不然无法连接网盘，请先设置。");
    const QString ask = QStringLiteral("此操作会覆盖掉网盘内早先的备份，是否将当前数据库备份到网盘？");

    // Incomplete settings: the dialog is asked for, waiting; still incomplete, nothing more.
    f.run.dav_password.clear();
    dialogs.expect_message(incomplete);
    f.commands().action("N92")->trigger();
    dialogs.verify_done();
    EXPECT_EQ(modal.count(), 1);

    // The dialog completes them: the question follows.
    QObject::connect(&f, &TForm2::settingsModalRequested, &f, [&f] { f.run.dav_password = QStringLiteral("p"); });
    dialogs.expect_message(incomplete).expect_question(ask, Dialogs::Answer::No);
    f.back_up_to_share();
    dialogs.verify_done();
    EXPECT_TRUE(server.requests().filter(QStringLiteral("PUT ")).isEmpty());

    // Yes: the upload alone, no local copy, the mark cleared.
    f.store.set_changed(true);
    dialogs.expect_question(ask, Dialogs::Answer::Yes);
    f.back_up_to_share();
    dialogs.verify_done();
    EXPECT_FALSE(server.requests().filter(QStringLiteral("PUT ")).isEmpty());
    EXPECT_TRUE(QFileInfo::exists(server.share() + QStringLiteral("/yunshanzhaji/notedb.zip")));
    EXPECT_EQ(f.transfers().backup_scope(), BackupScope::UploadAndCopy);
    EXPECT_FALSE(f.store.changed());
    EXPECT_TRUE(QDir(bei).entryList({QStringLiteral("buckup_*")}).isEmpty());
}

} // namespace
} // namespace yunshan
