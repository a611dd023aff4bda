// The settings dialog driven through its widgets, over a real main window, settings file and
// database folders.
#include "app/ui/catalogue_pane.h"
#include "app/ui/tform1.h"
#include "app/ui/tform2.h"
#include "backup/tls_trust.h"
#include "backup/transfer_errors.h"
#include "backup/webdav.h"
#include "platform/paths.h"
#include "platform/settings_store.h"
#include "store/connection.h"
#include "store/note_store.h"
#include "store/set_table.h"
#include "support/db_check.h"
#include "support/loopback_socket.h"
#include "support/note_list_entries.h"
#include "support/scripted_dialogs.h"
#include "support/temp_folder.h"
#include "support/url_catcher.h"
#include "support/webdav_server.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSocketNotifier>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>

#include <unistd.h>

namespace yunshan {
namespace {

using test::ScriptedDialogs;
using test::TempFolder;
using test::UrlCatcher;

const QString kConnected = QStringLiteral("配置保存成功，数据库连接成功。");
const QString kCloseQuestion = QStringLiteral("笔记存储路径没有保存，是否保存？");

// Runs `action` once `dialog` is the active modal window, queued after the polling slot so that
// boxes the action opens do not nest inside it. Closes every dialog and fails when it never shows.
void when_modal(QDialog &dialog, std::function<void()> action)
{
    auto *timer = new QTimer(&dialog);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    QObject::connect(timer, &QTimer::timeout, &dialog, [timer, clock, &dialog, action] {
        if (QApplication::activeModalWidget() == &dialog) {
            timer->deleteLater();
            timer->stop();
            QTimer::singleShot(0, &dialog, action);
        } else if (clock->elapsed() > 10000) {
            timer->deleteLater();
            timer->stop();
            ADD_FAILURE() << "the settings dialog was never shown modally";
            for (QWidget *w : QApplication::topLevelWidgets())
                if (auto *d = qobject_cast<QDialog *>(w))
                    d->done(QDialog::Rejected);
        }
    });
    timer->start(10);
}

class SettingsDialogTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        set_program_folder_override(dir.mkdir(QStringLiteral("program")));
        set_autosave_folder_override(dir.mkdir(QStringLiteral("tmp")));
        settings = std::make_unique<SettingsStore>(dir.file(QStringLiteral("config/YunShanNote.ini")));
        documents = dir.file(QStringLiteral("home/文档"));
        start();
    }
    void TearDown() override
    {
        form1.reset();
        form2.reset();
        dialogs.verify_done();
        set_program_folder_override({});
        set_autosave_folder_override({});
    }

    // A start of the program with the settings file as it stands.
    void start()
    {
        form1.reset();
        form2.reset();
        form2 = std::make_unique<TForm2>(dialogs);
        form1 = std::make_unique<TForm1>(*form2, *settings, form2.get());
        form1->proposal.documents_folder = [this] { return documents; };
        form1->proposal.mount_table = [this] { return mounts; };
        form1->proposal.user = QStringLiteral("alice");
        form2->FormCreate(*settings);
    }

    QString main_folder() const { return documents + QStringLiteral("/云杉札记"); }

    TempFolder dir;
    std::unique_ptr<SettingsStore> settings;
    ScriptedDialogs dialogs;
    std::unique_ptr<TForm2> form2;
    std::unique_ptr<TForm1> form1;
    QString documents;
    QString mounts;
};

TEST_F(SettingsDialogTest, WindowHasItsControlsAndDefaults)
{
    TForm1 &f = *form1;
    EXPECT_EQ(f.windowTitle(), QStringLiteral("设置"));
    EXPECT_EQ(f.size(), QSize(643, 567));
    EXPECT_EQ(f.Memo1->document()->blockCount(), 8);
    EXPECT_EQ(f.Memo1->document()->findBlockByNumber(7).text(),
              QStringLiteral("自动备份保留天数，默认为10，那么10天前的会自动删掉。"));
    EXPECT_EQ(f.Label8->text(), QStringLiteral("wevDAV密码："));
    EXPECT_EQ(f.Edit8->echoMode(), QLineEdit::Password);
    EXPECT_EQ(f.Edit9->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(f.Edit9->placeholderText(), QStringLiteral("建议设置，防泄密"));
    EXPECT_TRUE(f.CheckBox1->isChecked());
    EXPECT_FALSE(f.CheckBox2->isChecked());
    EXPECT_TRUE(f.CheckBox3->isChecked());
    EXPECT_EQ(f.Edit3->text(), QStringLiteral("10"));
    EXPECT_TRUE(f.Button3->isDefault());
    EXPECT_FALSE(f.Button3->isEnabled());
    EXPECT_FALSE(f.Button5->isEnabled());
    EXPECT_EQ(f.Button3->text(), QStringLiteral("保存设置"));
    EXPECT_EQ(f.Button4->text(), QStringLiteral("测试"));
    EXPECT_EQ(f.Button6->text(), QStringLiteral("立即同步"));
    EXPECT_FALSE(f.isVisible());
}

TEST_F(SettingsDialogTest, NewUserSavesTheProposalAndReachesTheNotes)
{
    EXPECT_EQ(form2->panel(0), QStringLiteral("数据库未连接"));
    const QString backup = dir.file(QStringLiteral("disk2/云杉札记备份"));
    dialogs.expect_message(kConnected);
    bool proposed = false;
    when_modal(*form1, [&] {
        proposed =
            form1->Edit1->text() == main_folder() && form1->Edit2->text().isEmpty() && form1->Button3->isEnabled();
        form1->Edit2->setText(backup + QStringLiteral("/"));
        form1->Button3->click();
    });
    form1->exec();
    EXPECT_TRUE(proposed);
    EXPECT_FALSE(form1->isVisible());
    EXPECT_TRUE(QFileInfo::exists(main_folder() + QStringLiteral("/notedb.sl3")));
    EXPECT_TRUE(QFileInfo::exists(backup + QStringLiteral("/notedb.sl3")));
    EXPECT_EQ(settings->zhu_db(), main_folder());
    EXPECT_EQ(settings->bei_db(), backup);
    EXPECT_EQ(settings->auto_backup(), QStringLiteral("1"));
    EXPECT_EQ(settings->tian(), QStringLiteral("10"));
    EXPECT_EQ(form2->panel(0), QStringLiteral("就绪"));
    ASSERT_EQ(form2->catalogue_pane()->major_list()->count(), 1);
    EXPECT_EQ(form2->catalogue_pane()->major_list()->item(0)->text(), QStringLiteral("默认大类"));
    EXPECT_EQ(form2->selection.class_index, 0);

    // The next start uses the saved folders, and the dialog shows them again.
    start();
    EXPECT_EQ(form2->panel(0), QStringLiteral("主备就绪"));
    form1->show();
    EXPECT_EQ(form1->Edit1->text(), main_folder());
    EXPECT_EQ(form1->Edit2->text(), backup);
    EXPECT_FALSE(form1->Button3->isEnabled());
}

TEST_F(SettingsDialogTest, FirstRunProposesTheUsersDrive)
{
    mounts = QStringLiteral("/dev/sda1 / ext4 rw 0 0\n/dev/sdb1 /media/alice/移动硬盘 exfat rw 0 0\n");
    form1->show();
    EXPECT_EQ(form1->Edit1->text(), main_folder());
    EXPECT_EQ(form1->Edit2->text(), QStringLiteral("/media/alice/移动硬盘/云杉札记备份"));
    EXPECT_TRUE(form1->Button3->isEnabled());
    form1->Edit2->clear(); // this test saves nothing outside its folder
    dialogs.expect_question3(kCloseQuestion, Dialogs::Answer::No);
    form1->close();
}

TEST_F(SettingsDialogTest, EverySavedFieldIsShownAtTheNextOpening)
{
    form1->show();
    form1->Edit2->setText(dir.file(QStringLiteral("bak")));
    form1->Edit3->clear();
    form1->CheckBox1->click(); // off
    // Nothing listens there: the start-up download of the next start fails quietly.
    const QString share = QStringLiteral("http://127.0.0.1:%1/d").arg(test::closed_port());
    form1->Edit6->setText(share);
    form1->Edit7->setText(QStringLiteral("alice"));
    form1->Edit8->setText(QStringLiteral("secret"));
    form1->Edit9->setText(QStringLiteral("zip'pw"));
    form1->CheckBox3->click(); // exit upload off
    form1->CheckBox2->click(); // start-up download on
    dialogs.expect_message(kConnected);
    form1->Button3->click();
    EXPECT_FALSE(form1->isVisible());
    EXPECT_EQ(settings->tian(), QStringLiteral("0"));

    // Another start: the deferred step reads the WebDAV keys back.
    start();
    form2->deferred_settings();
    form1->show();
    EXPECT_EQ(form1->Edit1->text(), main_folder());
    EXPECT_EQ(form1->Edit2->text(), dir.file(QStringLiteral("bak")));
    EXPECT_EQ(form1->Edit3->text(), QStringLiteral("0"));
    EXPECT_FALSE(form1->CheckBox1->isChecked());
    EXPECT_TRUE(form1->CheckBox2->isChecked());
    EXPECT_FALSE(form1->CheckBox3->isChecked());
    EXPECT_EQ(form1->Edit6->text(), share + QStringLiteral("/"));
    EXPECT_EQ(form1->Edit7->text(), QStringLiteral("alice"));
    EXPECT_EQ(form1->Edit8->text(), QStringLiteral("secret"));
    EXPECT_EQ(form1->Edit9->text(), QStringLiteral("zip'pw"));
    EXPECT_FALSE(form1->Button3->isEnabled());
    form1->close();
}

TEST_F(SettingsDialogTest, DaysFieldEnablesSavingWhenTypedOrClicked)
{
    settings->set_zhu_db(dir.mkdir(QStringLiteral("notes")));
    start();
    form1->show();
    ASSERT_FALSE(form1->Button3->isEnabled());
    form1->Edit3->setFocus();
    QTest::keyClicks(form1->Edit3, QStringLiteral("30"));
    EXPECT_TRUE(form1->Button3->isEnabled());
    dialogs.expect_question3(kCloseQuestion, Dialogs::Answer::No);
    form1->close();

    form1->show();
    ASSERT_FALSE(form1->Button3->isEnabled());
    QTest::mouseClick(form1->Edit3, Qt::LeftButton);
    EXPECT_TRUE(form1->Button3->isEnabled());
    dialogs.expect_question3(kCloseQuestion, Dialogs::Answer::No);
    form1->close();
}

TEST_F(SettingsDialogTest, WithoutAShareTheDialogReadsTheSameEachOpening)
{
    const auto shown = [this] {
        return QStringList{form1->Edit6->text(),
                           form1->Edit7->text(),
                           form1->Edit8->text(),
                           form1->Edit9->text(),
                           form1->CheckBox2->isChecked() ? QStringLiteral("on") : QStringLiteral("off"),
                           form1->CheckBox3->isChecked() ? QStringLiteral("on") : QStringLiteral("off")};
    };
    const QStringList first_run{{}, {}, {}, {}, QStringLiteral("off"), QStringLiteral("on")};
    form1->show();
    EXPECT_EQ(shown(), first_run);
    dialogs.expect_message(kConnected);
    form1->Button3->click();

    form1->show(); // the same run
    EXPECT_EQ(shown(), first_run);
    form1->close();
    start(); // the next start reads the settings back
    form2->deferred_settings();
    form1->show();
    EXPECT_EQ(shown(), first_run);
    EXPECT_FALSE(form1->Button3->isEnabled());
    form1->close();
}

TEST_F(SettingsDialogTest, CloseQuestionAnswers)
{
    const struct {
        Dialogs::Answer answer;
        bool visible_after;
        bool saved;
    } cases[] = {
        {Dialogs::Answer::Cancel, true, false},
        {Dialogs::Answer::No, false, false},
        {Dialogs::Answer::Yes, false, true},
    };
    for (const auto &c : cases) {
        form1->show();
        ASSERT_TRUE(form1->Button3->isEnabled());
        dialogs.expect_question3(kCloseQuestion, c.answer);
        if (c.saved)
            dialogs.expect_message(kConnected);
        form1->close();
        EXPECT_EQ(form1->isVisible(), c.visible_after);
        EXPECT_EQ(settings->exists(), c.saved);
        if (c.visible_after) { // Escape asks the same
            dialogs.expect_question3(kCloseQuestion, Dialogs::Answer::No);
            QTest::keyClick(form1.get(), Qt::Key_Escape);
            EXPECT_FALSE(form1->isVisible());
        }
    }
    EXPECT_EQ(settings->zhu_db(), main_folder());
}

TEST_F(SettingsDialogTest, BothSwitchesKeepTheDialogOpenAfterTheAdvice)
{
    form1->show();
    form1->CheckBox2->click();
    form1->Edit6->setText(QStringLiteral("https://dav.example.org/"));
    form1->Edit7->setText(QStringLiteral("u"));
    form1->Edit8->setText(QStringLiteral("p"));
    dialogs.expect(ScriptedDialogs::Kind::Warning).expect_message(kConnected);
    form1->Button3->click();
    EXPECT_TRUE(form1->isVisible());
    EXPECT_FALSE(form1->Button3->isEnabled());
    form1->close();
    EXPECT_FALSE(form1->isVisible());
}

TEST_F(SettingsDialogTest, UnusableMainFolderLeavesTheProgramUsable)
{
    TempFolder::write(dir.file(QStringLiteral("blocker")), "x");
    form1->show();
    form1->Edit1->setText(dir.file(QStringLiteral("blocker/notes")));
    dialogs.expect_message(QStringLiteral("配置保存成功，数据库连接失败。"));
    form1->Button3->click();
    EXPECT_EQ(form2->panel(0), QStringLiteral("数据库未连接"));
    EXPECT_EQ(form2->catalogue_pane()->major_list()->count(), 0);

    // Choosing another folder then works.
    form1->show();
    dialogs.expect(ScriptedDialogs::Kind::Folder, QStringLiteral("请选择存放主数据库的文件夹"), Dialogs::Answer::Yes,
                   dir.mkdir(QStringLiteral("chosen")));
    form1->Button1->click();
    EXPECT_EQ(form1->Edit1->text(), dir.file(QStringLiteral("chosen")));
    dialogs.expect(ScriptedDialogs::Kind::Folder, QStringLiteral("请选择存放备份数据库的文件夹"), Dialogs::Answer::Yes,
                   QString());
    form1->Button2->click(); // cancelled: unchanged
    EXPECT_TRUE(form1->Edit2->text().isEmpty());
    dialogs.expect_message(kConnected);
    form1->Button3->click();
    EXPECT_EQ(form2->catalogue_pane()->major_list()->count(), 1);
    EXPECT_EQ(form2->panel(0), QStringLiteral("就绪"));
}

TEST_F(SettingsDialogTest, SaveForgetsTheSelectionsOfTheEarlierDatabase)
{
    settings->set_zhu_db(dir.mkdir(QStringLiteral("old")));
    start();
    ASSERT_EQ(form2->catalogue_pane()->major_list()->count(), 1);
    form2->selection.section_index = 4;
    form2->selection.note_index = 7;
    form2->note_list_model()->note_ids() = {1, 2, 3};
    form1->show();
    form1->Edit1->setText(dir.file(QStringLiteral("new")));
    dialogs.expect_message(kConnected);
    form1->Button3->click();
    EXPECT_EQ(form2->store.main().path(), dir.file(QStringLiteral("new/notedb.sl3")));
    EXPECT_EQ(form2->selection.class_index, 0);
    EXPECT_EQ(form2->selection.section_index, -1);
    EXPECT_EQ(form2->selection.note_index, -1);
    EXPECT_TRUE(form2->note_list_model()->note_ids().isEmpty());
}

// Save and Test connect the program to other database files: a note with unsaved changes is
// saved or dropped first (or the command cancelled), and none of its ids outlives the switch.
TEST_F(SettingsDialogTest, UnsavedNoteIsSettledBeforeTheDatabaseChanges)
{
    const QString unsaved = QStringLiteral("笔记没保存，是否保存或者取消当前操作？");
    for (const Dialogs::Answer answer : {Dialogs::Answer::Cancel, Dialogs::Answer::Yes, Dialogs::Answer::No}) {
        SCOPED_TRACE(static_cast<int>(answer));
        const QString old_folder = dir.mkdir(QStringLiteral("old%1").arg(static_cast<int>(answer)));
        settings->set_zhu_db(old_folder);
        settings->set_bei_db(QString());
        start();
        test::write_sql(form2->store, QStringLiteral("insert into Section(px,classId,caption) values(100,1,'甲类')"),
                        {});
        form2->selection.class_index = -1;
        form2->open_major_category();
        form2->catalogue_pane()->minor_list()->setCurrentRow(0);
        form2->open_minor_category();
        form2->new_note(); // a new note, then a title typed into it
        const int id = form2->note.noteId;
        ASSERT_GE(id, 0);
        form2->title_field()->setText(QStringLiteral("未保存的标题"));
        ASSERT_TRUE(form2->save_enabled());

        form1->show();
        const QString new_folder = dir.file(QStringLiteral("new%1").arg(static_cast<int>(answer)));
        form1->Edit1->setText(new_folder);
        dialogs.expect_question3(unsaved, answer);
        if (answer != Dialogs::Answer::Cancel)
            dialogs.expect_message(kConnected);
        form1->Button3->click();
        dialogs.verify_done();

        Connection old_db;
        old_db.open(old_folder + QStringLiteral("/notedb.sl3"), false);
        const std::optional<SqlValue> caption =
            old_db.query_first(QStringLiteral("select caption from title where noteId=%1").arg(id));
        const QString stored_title = caption ? caption->toString() : QString();
        old_db.close();
        if (answer == Dialogs::Answer::Cancel) {
            EXPECT_EQ(form2->store.main().path(), old_folder + QStringLiteral("/notedb.sl3"));
            EXPECT_TRUE(form2->save_enabled());
            EXPECT_EQ(form2->note.noteId, id);
            EXPECT_EQ(form2->title_field()->text(), QStringLiteral("未保存的标题"));
            continue;
        }
        EXPECT_EQ(stored_title == QStringLiteral("未保存的标题"), answer == Dialogs::Answer::Yes)
            << stored_title.toStdString();
        EXPECT_EQ(form2->store.main().path(), new_folder + QStringLiteral("/notedb.sl3"));
        EXPECT_FALSE(form2->save_enabled());
        EXPECT_EQ(form2->note.noteId, -1);
        EXPECT_EQ(form2->note.noteId_bei, -1);
        EXPECT_TRUE(form2->title_field()->text().isEmpty());
    }

    // "测试" asks as well; Cancel runs no test.
    form2->title_field()->setText(QStringLiteral("又改了"));
    form2->note.noteId = form2->note.noteId_bei = 1;
    form2->set_save_enabled(true);
    dialogs.expect_question3(unsaved, Dialogs::Answer::Cancel);
    form1->Button4->click();
    EXPECT_TRUE(form2->save_enabled());
}

TEST_F(SettingsDialogTest, MenuAndStartUpOpenTheDialogWithoutWaiting)
{
    form2->show_settings();
    EXPECT_TRUE(form1->isVisible());
    EXPECT_FALSE(form1->isModal());
    dialogs.expect_question3(kCloseQuestion, Dialogs::Answer::No);
    form1->close();
    form2->deferred_settings(); // no database: the dialog opens by itself
    EXPECT_TRUE(form1->isVisible());
    dialogs.expect_question3(kCloseQuestion, Dialogs::Answer::No);
    form1->close();
}

TEST_F(SettingsDialogTest, HelpLinkOpensThePageAndChangesColour)
{
    UrlCatcher catcher;
    form1->show();
    QTest::mouseClick(form1->Label5, Qt::LeftButton);
    ASSERT_EQ(catcher.urls.size(), 1);
    EXPECT_TRUE(catcher.urls.front().toString().endsWith(QStringLiteral("/article-41-1.html")));
    form1->Label5MouseEnter();
    EXPECT_EQ(form1->Label5->palette().color(QPalette::WindowText), form1->palette().color(QPalette::Highlight));
    form1->Label5MouseLeave();
    EXPECT_EQ(form1->Label5->palette().color(QPalette::WindowText), QColor(Qt::black));
    dialogs.expect_question3(kCloseQuestion, Dialogs::Answer::No);
    form1->close();
}

TEST_F(SettingsDialogTest, SyncButtonDownloadsWithTheDialogsSettingsAndStoresThem)
{
    test::ApacheDav server(QStringLiteral("alice"), QStringLiteral("se'cret"));
    ASSERT_TRUE(server.started()) << server.error().toStdString();
    // A first save makes the database; it goes up to the share as it stands.
    form1->show();
    dialogs.expect_message(kConnected);
    form1->Button3->click();
    test::write_sql(form2->store, QStringLiteral("insert into Class(px,caption) values(1,'网盘大类')"));
    form2->run.dav_url = server.url();
    form2->run.dav_username = QStringLiteral("alice");
    form2->run.dav_password = QStringLiteral("se'cret");
    form2->run.zip_password = QStringLiteral("zip'pw");
    UploadSteps steps;
    ASSERT_EQ(upload_package(form2->transfers().webdav(),
                             {server.url(), QStringLiteral("alice"), QStringLiteral("se'cret")},
                             database_file_in(main_folder()), QStringLiteral("zip'pw"), dialogs, steps),
              UploadOutcome::Uploaded);
    test::write_sql(form2->store, QStringLiteral("delete from Class"));
    form2->run.dav_url.clear();
    form2->run.dav_username.clear();
    form2->run.dav_password.clear();
    form2->run.zip_password.clear();

    form1->show();
    form1->Edit6->setText(server.url().chopped(1));
    form1->Edit7->setText(QStringLiteral("alice"));
    form1->Edit8->setText(QStringLiteral("se'cret"));
    form1->Edit9->setText(QStringLiteral("zip'pw"));
    const QString ask = QStringLiteral(
        "本操作会从网盘下载数据库替换掉当前主数据库。替换时会自动创建本机数据库的备份，如误操作请退出程序后"
        "手工删除错误数据库然后修改备份文件后缀恢复即可。是否同步？");
    dialogs.expect_question(ask, Dialogs::Answer::No);
    form1->Button6->click();
    dialogs.verify_done();
    EXPECT_TRUE(server.requests().filter(QStringLiteral("GET ")).isEmpty());

    dialogs.expect_question(ask, Dialogs::Answer::Yes).expect_message(QStringLiteral("同步完成。"));
    form1->Button6->click();
    dialogs.verify_done();
    EXPECT_TRUE(form1->Button6->isEnabled());
    EXPECT_EQ(form2->catalogue_pane()->major_list()->item(0)->text(), QStringLiteral("网盘大类"));
    EXPECT_EQ(form2->run.dav_url, server.url());
    // The settings used are stored with the database now open, the archive password too.
    EXPECT_EQ(set_table::read(form2->store, set_table::key_dav_url()), server.url());
    EXPECT_EQ(set_table::read(form2->store, set_table::key_dav_password()), QStringLiteral("se'cret"));
    EXPECT_EQ(set_table::read(form2->store, set_table::key_zip_password()), QStringLiteral("zip'pw"));

    // The test sends the dialog's credentials.
    dialogs.expect_message(QStringLiteral("主数据库连接成功。")).expect_message(QStringLiteral("备份网盘测试成功。"));
    form1->Button4->click();
    dialogs.verify_done();
    form1->Edit8->setText(QStringLiteral("wrong"));
    dialogs.expect_message(QStringLiteral("主数据库连接成功。"))
        .expect_message(QStringLiteral("备份网盘测试失败，错误码：401。服务器 %1 不接受这个用户名和密码，请检查 webDAV "
                                       "用户名和密码。")
                            .arg(server_name(server.url())));
    form1->Button4->click();
    dialogs.verify_done();

    dialogs.expect_question3(kCloseQuestion, Dialogs::Answer::No);
    form1->close();
}

TEST_F(SettingsDialogTest, TrustGivenInTheTestHoldsForTheWholeProgramAndTheNextStart)
{
    test::ApacheDav::Options options;
    options.tls = true;
    test::ApacheDav server(QStringLiteral("alice"), QStringLiteral("pw"), options);
    ASSERT_TRUE(server.started()) << server.error().toStdString();
    form1->show();
    dialogs.expect_message(kConnected);
    form1->Button3->click();
    dialogs.verify_done();

    form1->show();
    form1->Edit6->setText(server.url());
    form1->Edit7->setText(QStringLiteral("alice"));
    form1->Edit8->setText(QStringLiteral("pw"));
    HttpClient probe;
    const ServerCertificate certificate = probe.fetch_certificate(server.url());
    dialogs.expect_message(QStringLiteral("主数据库连接成功。"))
        .expect_question(trust_question(certificate, false), Dialogs::Answer::Yes)
        .expect_message(QStringLiteral("备份网盘测试成功。"));
    form1->Button4->click();
    dialogs.verify_done();
    const QString origin = QStringLiteral("127.0.0.1:%1").arg(server.port());
    EXPECT_EQ(trusted_key(*settings, origin), public_key_pin(certificate.der));

    // The backup goes to the share through the main window's client, in this run and the next.
    const auto upload = [&] {
        UploadSteps steps;
        return upload_package(form2->transfers().webdav(),
                              {server.url(), QStringLiteral("alice"), QStringLiteral("pw")},
                              database_file_in(main_folder()), QString(), dialogs, steps);
    };
    EXPECT_EQ(upload(), UploadOutcome::Uploaded);
    dialogs.expect_question3(kCloseQuestion, Dialogs::Answer::No);
    form1->close();
    dialogs.verify_done();
    start();
    EXPECT_EQ(upload(), UploadOutcome::Uploaded);
    dialogs.verify_done();
}

TEST_F(SettingsDialogTest, EscStopsATestThatWaitsAndLeavesTheDialogOpen)
{
    test::StallingServer server(test::StallingServer::Mode::Silent);
    form1->show();
    dialogs.expect_message(kConnected);
    form1->Button3->click();
    form1->show();
    form1->Edit6->setText(server.url());
    form1->Edit7->setText(QStringLiteral("alice"));
    form1->Edit8->setText(QStringLiteral("pw"));
    // ESC reaches the dialog while the share keeps silent: the window's events still run.
    QTimer::singleShot(300, form1.get(), [this] { QTest::keyPress(form1.get(), Qt::Key_Escape); });
    dialogs.expect_message(QStringLiteral("主数据库连接成功。"))
        .expect_message(QStringLiteral("已取消网盘测试。\nThe request to ") + server.url() +
                        QStringLiteral(" was cancelled"));
    form1->Button4->click();
    QTest::keyRelease(form1.get(), Qt::Key_Escape);
    dialogs.verify_done();
    EXPECT_TRUE(form1->isVisible());
    EXPECT_FALSE(form2->transfers().running());
    dialogs.expect_question3(kCloseQuestion, Dialogs::Answer::No);
    form1->close();
}

// While a backup talks to the share, the dialog neither saves (which would reconnect the database
// the backup packs) nor tests nor syncs; what is typed meanwhile waits for the save.
TEST_F(SettingsDialogTest, SaveTestAndSyncWaitWhileABackupRuns)
{
    // A share that takes the request and never answers; the checks run once the backup's first
    // request has reached it, so the backup is surely waiting on the share then.
    int port = 0;
    const int listener = test::listen_on_loopback(4, port);
    ASSERT_GE(listener, 0);
    int connection = -1;
    const auto close_sockets = qScopeGuard([&] {
        if (connection >= 0)
            ::close(connection);
        ::close(listener);
    });
    const QString url = QStringLiteral("http://127.0.0.1:%1/dav/").arg(port);
    form1->show();
    dialogs.expect_message(kConnected);
    form1->Button3->click();
    form1->show();
    const QString backup_folder = form2->run.bei_db;
    form2->run.dav_url = url;
    form2->run.dav_username = QStringLiteral("alice");
    form2->run.dav_password = QStringLiteral("pw");
    form2->store.set_changed(true);

    bool held = false;
    bool closed = true;
    QSocketNotifier arrived(listener, QSocketNotifier::Read);
    QObject::connect(&arrived, &QSocketNotifier::activated, form1.get(), [&] {
        arrived.setEnabled(false);
        connection = test::accept_within(listener, 0);
        held = form2->transfers().running() && !form1->Button4->isEnabled() && !form1->Button6->isEnabled();
        form1->Edit2->setText(dir.file(QStringLiteral("elsewhere")));
        held = held && !form1->Button3->isEnabled();
        closed = form1->FormCloseQuery();
        QTest::keyPress(form2.get(), Qt::Key_Escape);
    });
    dialogs.expect_question3(kCloseQuestion, Dialogs::Answer::Yes)
        .expect_message(QStringLiteral("正在和网盘传输数据，请等传输结束后再保存或测试设置。"))
        .expect_message(QStringLiteral("已取消备份到网盘。本地笔记没有改动。\nThe request to ") +
                        webdav_package_url(url) + QStringLiteral(" was cancelled"));
    form2->back_up_now();
    QTest::keyRelease(form2.get(), Qt::Key_Escape);
    dialogs.verify_done();
    EXPECT_TRUE(held);
    EXPECT_FALSE(closed);
    EXPECT_EQ(form2->run.bei_db, backup_folder); // nothing was saved
    // Afterwards the change is there to be saved.
    EXPECT_TRUE(form1->Button3->isEnabled());
    EXPECT_TRUE(form1->Button4->isEnabled());
    EXPECT_TRUE(form1->Button6->isEnabled());
    dialogs.expect_question3(kCloseQuestion, Dialogs::Answer::No);
    form1->close();
}

} // namespace
} // namespace yunshan
