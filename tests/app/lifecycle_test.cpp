// The main window from creation to destruction, against real database files.
#include "app/start_page.h"
#include "app/startup.h"
#include "app/tmythread.h"
#include "app/ui/catalogue_pane.h"
#include "app/ui/editor_pane.h"
#include "app/ui/main_commands.h"
#include "app/ui/tform2.h"
#include "app/ui/update_notice.h"
#include "notes/autosave.h"
#include "platform/paths.h"
#include "platform/rounding.h"
#include "platform/settings_store.h"
#include "store/connection.h"
#include "store/note_store.h"
#include "store/schema.h"
#include "support/db_check.h"
#include "support/note_list_entries.h"
#include "support/scripted_dialogs.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QThread>

#include <QToolButton>
#include <atomic>

namespace yunshan {
namespace {

using test::ScriptedDialogs;
using test::TempFolder;

const QString kReadOnly = QStringLiteral("已经有其他程序打开了数据库，现在以只读开启，只能查看不能保存。");

class LifecycleTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        program = dir.mkdir(QStringLiteral("program"));
        zhu = dir.mkdir(QStringLiteral("main"));
        bei = dir.mkdir(QStringLiteral("backup"));
        tmp = dir.mkdir(QStringLiteral("tmp"));
        // The autosave folder is private, as the state folder is made.
        QFile::setPermissions(tmp, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        set_program_folder_override(program);
        set_autosave_folder_override(tmp);
        settings = std::make_unique<SettingsStore>(dir.file(QStringLiteral("YunShanNote.ini")));
    }
    void TearDown() override
    {
        form.reset();
        set_program_folder_override({});
        set_autosave_folder_override({});
    }

    void use_folders(bool backup = true)
    {
        settings->set_value(QStringLiteral("zhu_db"), zhu);
        if (backup)
            settings->set_value(QStringLiteral("bei_db"), bei);
    }

    TForm2 &create(ScriptedDialogs &d)
    {
        form = std::make_unique<TForm2>(d);
        form->FormCreate(*settings);
        return *form;
    }

    // Runs the start-up worker to its end.
    void run_worker(TForm2 &f)
    {
        f.start_worker(0);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !f.worker_running(); }, 5000));
    }

    // Text as an input method commits it, at the end of the editor.
    static void type_at_end(QTextEdit *editor, const QString &text)
    {
        QTextCursor c = editor->textCursor();
        c.movePosition(QTextCursor::End);
        editor->setTextCursor(c);
        QInputMethodEvent e;
        e.setCommitString(text);
        QCoreApplication::sendEvent(editor, &e);
    }

    // Sends a close request as the title bar does; true when the window accepted it.
    bool request_close(TForm2 &f)
    {
        QCloseEvent e;
        QCoreApplication::sendEvent(&f, &e);
        return e.isAccepted();
    }

    TempFolder dir;
    QString program, zhu, bei, tmp;
    std::unique_ptr<SettingsStore> settings;
    ScriptedDialogs dialogs;
    std::unique_ptr<TForm2> form;
};

TEST_F(LifecycleTest, FirstRunWithNothingAsksForSettings)
{
    TForm2 &f = create(dialogs);
    EXPECT_EQ(f.panel(0), QStringLiteral("数据库未连接"));
    EXPECT_EQ(f.catalogue_pane()->major_list()->count(), 0);
    EXPECT_EQ(f.catalogue_pane()->minor_list()->count(), 0);
    EXPECT_EQ(f.note_list_model()->count(), 0);
    QSignalSpy settings_requested(&f, &TForm2::settingsRequested);
    run_worker(f);
    EXPECT_EQ(settings_requested.count(), 1);
    EXPECT_EQ(f.editor_pane()->editor()->document()->blockCount(), 13); // the start page was shown
}

TEST_F(LifecycleTest, NewFoldersStartIdenticalWithDefaultCategorySelected)
{
    use_folders();
    TForm2 &f = create(dialogs);
    EXPECT_EQ(f.panel(0), QStringLiteral("主备就绪"));
    ASSERT_EQ(f.catalogue_pane()->major_list()->count(), 1);
    EXPECT_EQ(f.catalogue_pane()->major_list()->item(0)->text(), QStringLiteral("默认大类"));
    EXPECT_EQ(f.catalogue_pane()->major_list()->currentRow(), 0);
    EXPECT_EQ(f.selection.class_index, 0);
    EXPECT_EQ(f.note.noteId, -1);
    EXPECT_EQ(f.run.tmp_save, tmp + QLatin1Char('/'));
    EXPECT_GT(f.listfontheight, 0);
    EXPECT_EQ(f.catalogue_pane()->item_height(), round_half_even(f.listfontheight * 1.5));
    test::expect_mirror_identical(f.store);

    QSignalSpy settings_requested(&f, &TForm2::settingsRequested);
    run_worker(f);
    EXPECT_EQ(settings_requested.count(), 0);
    EXPECT_EQ(f.store.get_first_string(QStringLiteral("select value1 from set_table where key1='tmp_file1'")),
              QStringLiteral("000"));
    test::expect_mirror_identical(f.store);
}

// The autosave of the last run is in the editor when the window is created, before it takes any
// input: what the user types then is added to it, and neither the start page nor the deferred
// step of the worker (which comes after the update check) replaces it.
TEST_F(LifecycleTest, PendingAutosaveIsBackBeforeTheWindowTakesInput)
{
    use_folders();
    {
        TForm2 &f = create(dialogs);
        test::write_sql(f.store, QStringLiteral("update set_table set value1='7' where key1='tmp_file1'"));
        test::write_sql(
            f.store,
            QStringLiteral("insert into set_table(key1,value1)  values('webDAV网址','http://127.0.0.1:1/dav')"));
        test::write_sql(f.store, QStringLiteral("insert into notes(id,label,cuanjian,put) "
                                                "values(7,'旧标签','2023-11-02 08:09:10','2023-11-02 08:09:10')"));
        test::write_sql(
            f.store,
            QStringLiteral("insert into title(px,classId,sectionId,noteId,caption) values(100,1,1,7,'旧标题')"));
        form.reset(); // ends without the close request, as after a crash
    }
    TempFolder::write(dir.file(QStringLiteral("tmp/7.rtf")),
                      QByteArray("{\\rtf1\\ansi\\ansicpg936{\\fonttbl{\\f0\\fcharset134 \\'cb\\'ce\\'cc\\'e5;}}"
                                 "\\f0 \\'ce\\'b4\\'b1\\'a3\\'b4\\'e6{\\b bold}\\par}"));
    TForm2 &f = create(dialogs);
    EXPECT_EQ(f.editor_pane()->editor()->toPlainText(), QStringLiteral("未保存bold"));
    EXPECT_EQ(f.note.noteId, 7);
    EXPECT_EQ(f.note.noteId_bei, 7);
    // The note's stored title and tag line come with it, and the body waits to be saved.
    EXPECT_EQ(f.title_field()->text(), QStringLiteral("旧标题"));
    EXPECT_EQ(f.tag_field()->text(), QStringLiteral("旧标签"));
    EXPECT_TRUE(f.save_enabled());

    type_at_end(f.editor_pane()->editor(), QStringLiteral("接着打"));
    run_worker(f);
    EXPECT_EQ(f.editor_pane()->editor()->toPlainText(), QStringLiteral("未保存bold接着打"));
    EXPECT_EQ(f.note.noteId, 7);
    EXPECT_TRUE(f.save_enabled());
    EXPECT_EQ(f.run.dav_url, QStringLiteral("http://127.0.0.1:1/dav/"));
    EXPECT_TRUE(f.note_recovered_at_start());
}

// A note the user opens before the worker's start page is due keeps its text and what was typed.
TEST_F(LifecycleTest, StartPageNeverCoversANoteTheUserOpened)
{
    use_folders(false);
    TForm2 &f = create(dialogs);
    test::write_sql(f.store, QStringLiteral("insert into Section(px,classId,caption) values(100,1,'甲类')"));
    test::write_sql(f.store, QStringLiteral("insert into notes(id,content) values(3,'正文')"));
    test::write_sql(f.store,
                    QStringLiteral("insert into title(px,classId,sectionId,noteId,caption) values(100,1,1,3,'笔记')"));
    f.load_class();
    f.selection = CatalogueSelection();
    f.catalogue_pane()->major_list()->setCurrentRow(0);
    f.open_major_category();
    f.catalogue_pane()->minor_list()->setCurrentRow(0);
    f.open_minor_category();
    test::choose_note(f, 0); // opens it
    ASSERT_EQ(f.note.noteId, 3);
    type_at_end(f.editor_pane()->editor(), QStringLiteral("刚打的"));
    run_worker(f);
    EXPECT_EQ(f.editor_pane()->editor()->toPlainText(), QStringLiteral("正文刚打的"));
    EXPECT_TRUE(f.save_enabled());
    EXPECT_EQ(f.note.body_mark, ChangeMark::Changed);
}

TEST_F(LifecycleTest, AutosaveLinkPlantedByOthersIsNotLoaded)
{
    use_folders(false);
    {
        TForm2 &f = create(dialogs);
        test::write_sql(f.store, QStringLiteral("update set_table set value1='7' where key1='tmp_file1'"));
        form.reset();
    }
    TempFolder::write(dir.file(QStringLiteral("planted.rtf")), QByteArray("{\\rtf1 planted}"));
    ASSERT_TRUE(QFile::link(dir.file(QStringLiteral("planted.rtf")), dir.file(QStringLiteral("tmp/7.rtf"))));
    TForm2 &f = create(dialogs);
    run_worker(f);
    EXPECT_EQ(f.editor_pane()->editor()->document()->blockCount(), 13); // still the start page
    EXPECT_EQ(f.note.noteId, -1);
}

TEST_F(LifecycleTest, StartPageLeavesSaveCommandsDisabled)
{
    use_folders(false);
    TForm2 &f = create(dialogs);
    run_worker(f);
    const QTextDocument &doc = *f.editor_pane()->editor()->document();
    EXPECT_EQ(doc.blockCount(), 13);
    EXPECT_EQ(doc.firstBlock().text(), start_page_lines().first());
    EXPECT_EQ(f.panel(4), QStringLiteral("RTF"));
    EXPECT_FALSE(f.save_enabled());
    EXPECT_FALSE(f.commands().button("SpeedButton2")->isEnabled());
    EXPECT_FALSE(f.commands().button("ToolButtonSave")->isEnabled());
    EXPECT_EQ(f.editor_pane()->editor()->textCursor().position(), 0);
    EXPECT_EQ(f.note.title_mark, ChangeMark::Unchanged);
}

TEST_F(LifecycleTest, ManualUpdateCheckDoesNotShowTheStartPageAgain)
{
    use_folders(false);
    TForm2 &f = create(dialogs);
    run_worker(f);
    f.editor_pane()->editor()->setPlainText(QStringLiteral("typed"));
    dialogs.expect_message(update_no_server_text());
    f.check_for_update(); // starts a worker for the manual check
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !f.worker_running() && f.updates().run == UpdateCheckRun::StartUp; }, 5000));
    EXPECT_EQ(f.editor_pane()->editor()->toPlainText(), QStringLiteral("typed"));
}

// Two workers at once (start-up and "检查更新"); the window goes away while both wait for the
// server. Both are stopped and waited for, and neither touches the window afterwards (run this
// under AddressSanitizer: a worker outliving the window reads freed memory).
TEST_F(LifecycleTest, DestroyingTheWindowEndsEveryWorker)
{
    std::atomic<int> waiting{0};
    std::atomic<bool> answer{false};
    TForm2 &f = create(dialogs);
    f.updates().check = [&waiting, &answer] {
        ++waiting;
        for (int i = 0; i < 500 && !answer; ++i)
            QThread::msleep(2); // a server that answers late
        return VersionReply{};
    };
    f.start_worker(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return waiting == 1; }, 5000));
    f.check_for_update();
    ASSERT_TRUE(QTest::qWaitFor([&] { return waiting == 2; }, 5000));
    const QList<QPointer<TMyThread>> workers = f.workers();
    ASSERT_EQ(workers.size(), 2);
    QSignalSpy settings_requested(&f, &TForm2::settingsRequested);
    answer = true;
    form.reset();
    for (const QPointer<TMyThread> &w : workers)
        EXPECT_TRUE(w.isNull()); // ended and gone with the window
    EXPECT_EQ(settings_requested.count(), 0);
}

// Once the close is allowed, a procedure a worker hands over (the deferred settings step here)
// no longer runs.
TEST_F(LifecycleTest, StepsHandedOverAfterTheCloseAreDropped)
{
    std::atomic<bool> checking{false};
    std::atomic<bool> answer{false};
    TForm2 &f = create(dialogs);
    f.updates().check = [&checking, &answer] {
        checking = true;
        for (int i = 0; i < 2500 && !answer; ++i)
            QThread::msleep(2);
        return VersionReply{};
    };
    QSignalSpy settings_requested(&f, &TForm2::settingsRequested);
    f.start_worker(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return bool(checking); }, 5000));
    answer = true;
    QThread::msleep(20); // the worker hands over the deferred step; no event runs it yet
    ASSERT_TRUE(request_close(f));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !f.worker_running(); }, 5000));
    QCoreApplication::processEvents();
    EXPECT_EQ(settings_requested.count(), 0);
}

TEST_F(LifecycleTest, ProgramFolderDatabaseWins)
{
    {
        NoteStore s(QStringLiteral("other"));
        QString z = program, b;
        ScriptedDialogs quiet;
        s.Connect_to_db(z, b, quiet);
    }
    use_folders();
    TForm2 &f = create(dialogs);
    EXPECT_EQ(f.panel(0), QStringLiteral("EXE根目录"));
    EXPECT_FALSE(f.store.backup_connected());
    EXPECT_FALSE(f.store.owns_mark());
    EXPECT_FALSE(QFile::exists(database_file_in(zhu)));
    EXPECT_TRUE(f.run.zhu_db.isEmpty());
    EXPECT_EQ(settings->value(QStringLiteral("zhu_db")), zhu); // the settings keep their values
}

TEST_F(LifecycleTest, SecondInstanceIsReadOnly)
{
    use_folders();
    TForm2 &first = create(dialogs);
    ASSERT_TRUE(first.store.owns_mark());

    ScriptedDialogs second_dialogs;
    second_dialogs.expect_message(kReadOnly);
    TForm2 second(second_dialogs);
    second.FormCreate(*settings);
    second_dialogs.verify_done();
    EXPECT_TRUE(second.windowTitle().endsWith(QStringLiteral(" 只读")));
    EXPECT_FALSE(second.commands().button("ToolButton1")->isEnabled());
    EXPECT_FALSE(second.title_field()->isEnabled());
    EXPECT_FALSE(second.findChild<QToolButton *>(QStringLiteral("SpeedButton4"))->isEnabled());
    EXPECT_FALSE(first.windowTitle().endsWith(QStringLiteral(" 只读")));
    EXPECT_TRUE(first.commands().button("ToolButton1")->isEnabled());

    // The first keeps writing; the second reads what it wrote.
    test::write_sql(first.store, QStringLiteral("insert into Class(px,caption) values(1,'新')"));
    EXPECT_EQ(second.store.get_first_integer(QStringLiteral("select count(*) from Class")), 2);
    test::expect_mirror_identical(first.store);

    // The second leaves the autosave key alone at exit.
    test::write_sql(first.store, QStringLiteral("update set_table set value1='5' where key1='tmp_file1'"));
    EXPECT_TRUE(request_close(second));
    EXPECT_EQ(first.store.get_first_string(QStringLiteral("select value1 from set_table where key1='tmp_file1'")),
              QStringLiteral("5"));
}

// Root writes whatever the mode says: there a file or folder made read-only is not.
bool writes_despite_mode(const QString &file)
{
    QFile f(file);
    return f.open(QIODevice::Append);
}

// A main file that cannot be written: read-only mode with the store's reason, not the words for
// another running instance; the editor and the fields take no typing.
TEST_F(LifecycleTest, UnwritableMainFolderOpensReadOnlyWithItsReason)
{
    use_folders(false);
    create(dialogs);
    form.reset();
    const QString main_file = database_file_in(zhu);
    const QFileDevice::Permissions before = QFile::permissions(zhu);
    ASSERT_TRUE(QFile::setPermissions(zhu, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    const auto restore = qScopeGuard([&] { QFile::setPermissions(zhu, before); });
    if (writes_despite_mode(zhu + QStringLiteral("/probe")))
        GTEST_SKIP() << "this user writes into read-only folders";

    dialogs.expect_message(
        QStringLiteral("主数据库文件“%1”或它所在的文件夹是只读的，现在以只读开启，只能查看不能保存。").arg(main_file));
    TForm2 &f = create(dialogs);
    dialogs.verify_done();
    EXPECT_TRUE(f.read_only());
    EXPECT_TRUE(f.windowTitle().endsWith(QStringLiteral(" 只读")));
    EXPECT_TRUE(f.editor_pane()->editor()->isReadOnly());
    EXPECT_FALSE(f.commands().button("ToolButton6")->isEnabled());
    EXPECT_EQ(f.catalogue_pane()->major_list()->count(), 1); // the notes are there to read
}

// The same for a read-only file beside the program, which the store opens without asking who
// else holds it.
TEST_F(LifecycleTest, ReadOnlyFileBesideTheProgramOpensReadOnly)
{
    const QString file = database_file_in(program);
    {
        NoteStore s(QStringLiteral("other"));
        QString z = program, b;
        ScriptedDialogs quiet;
        s.Connect_to_db(z, b, quiet);
    }
    const QFileDevice::Permissions before = QFile::permissions(file);
    ASSERT_TRUE(QFile::setPermissions(file, QFileDevice::ReadOwner));
    const auto restore = qScopeGuard([&] { QFile::setPermissions(file, before); });
    if (writes_despite_mode(file))
        GTEST_SKIP() << "this user writes into read-only files";

    dialogs.expect_message(QStringLiteral("数据库文件“%1”是只读的，现在以只读开启，只能查看不能保存。").arg(file));
    TForm2 &f = create(dialogs);
    dialogs.verify_done();
    EXPECT_EQ(f.panel(0), QStringLiteral("EXE根目录"));
    EXPECT_TRUE(f.read_only());
    EXPECT_TRUE(f.editor_pane()->editor()->isReadOnly());
    EXPECT_FALSE(f.commands().button("ToolButton1")->isEnabled());
}

TEST_F(LifecycleTest, OldFilesAreUpgradedAtStartAndASecondStartChangesNothing)
{
    test::make_old_database(database_file_in(zhu));
    test::make_old_database(database_file_in(bei));
    use_folders();
    create(dialogs);
    test::expect_mirror_identical(form->store);
    const QString after_first = test::dump_database(form->store.main());
    EXPECT_TRUE(after_first.contains(QStringLiteral("beiyong_table")));
    ASSERT_TRUE(request_close(*form));
    form.reset();

    create(dialogs);
    EXPECT_EQ(test::dump_database(form->store.main()), after_first);
}

TEST_F(LifecycleTest, CloseWithUnsavedNoteCancelKeepsWindow)
{
    use_folders();
    TForm2 &f = create(dialogs);
    f.set_save_enabled(true);
    dialogs.expect_question3(QStringLiteral("笔记没保存，是否保存或者取消退出？"), Dialogs::Answer::Cancel);
    EXPECT_FALSE(request_close(f));
    EXPECT_TRUE(f.store.main_connected());
}

TEST_F(LifecycleTest, CloseAnsweringNoRemovesAutosaveAndWritesNoStamp)
{
    use_folders();
    TForm2 &f = create(dialogs);
    f.note.noteId_bei = 3;
    TempFolder::write(autosave_path(f.run.tmp_save, 3), "{\\rtf1 x}");
    f.set_save_enabled(true);
    dialogs.expect_question3(QStringLiteral("笔记没保存，是否保存或者取消退出？"), Dialogs::Answer::No);
    EXPECT_TRUE(request_close(f));
    EXPECT_FALSE(QFile::exists(autosave_path(f.run.tmp_save, 3)));
    EXPECT_EQ(f.store.get_first_integer(QStringLiteral("select count(*) from set_table where key1='last_time'")), 0);
}

TEST_F(LifecycleTest, ExitMenusDecideTheStamp)
{
    use_folders();
    {
        TForm2 &f = create(dialogs);
        f.show();
        f.exit_without_backup(); // 退出(不备份)
        EXPECT_FALSE(f.isVisible());
        EXPECT_EQ(f.store.get_first_integer(QStringLiteral("select count(*) from set_table where key1='last_time'")),
                  0);
        form.reset();
    }
    TForm2 &f = create(dialogs);
    f.show();
    f.exit_with_backup(); // 退出(强制备份)
    EXPECT_FALSE(f.isVisible());
    EXPECT_TRUE(f.store.changed());
    const qint64 stamp =
        f.store.get_first_string(QStringLiteral("select value1 from set_table where key1='last_time'")).toLongLong();
    EXPECT_LE(std::abs(stamp - unix_now()), 5);
    test::expect_mirror_identical(f.store);
}

TEST_F(LifecycleTest, DestroyClosesDatabasesAndReleasesTheMark)
{
    use_folders();
    create(dialogs);
    form.reset();
    OwnerLock lock(QStringLiteral("yunshan_note"));
    EXPECT_TRUE(lock.acquire());
    test::expect_files_identical(database_file_in(zhu), database_file_in(bei));
}

TEST_F(LifecycleTest, BadFontSizeIsReportedAndStartUpGoesOn)
{
    use_folders(false);
    settings->set_value(QStringLiteral("font_name"), QStringLiteral("楷体"));
    settings->set_value(QStringLiteral("font_size"), QStringLiteral("大"));
    dialogs.expect_error(QStringLiteral("'大' is not a valid integer value"));
    TForm2 &f = create(dialogs);
    EXPECT_EQ(f.panel(0), QStringLiteral("主数据库就绪"));
}

TEST_F(LifecycleTest, EditorFontFromSettings)
{
    settings->set_value(QStringLiteral("font_name"), QStringLiteral("楷体"));
    settings->set_value(QStringLiteral("font_size"), QStringLiteral("12"));
    TForm2 &f = create(dialogs);
    EXPECT_EQ(f.editor_pane()->editor()->font().family(), QStringLiteral("楷体"));
    EXPECT_EQ(f.editor_pane()->editor()->font().pointSize(), 12);
}

TEST_F(LifecycleTest, UnopenableMainFolderShowsEngineErrorAndWindowStillOpens)
{
    settings->set_value(QStringLiteral("zhu_db"), dir.file(QStringLiteral("missing/folder")));
    const QString error =
        QStringLiteral("数据库文件“%1”无法打开：文件不存在，或所在文件夹无法访问。（unable to open database file）")
            .arg(dir.file(QStringLiteral("missing/folder/notedb.sl3")));
    dialogs.expect_error(error);
    TForm2 &f = create(dialogs);
    EXPECT_FALSE(f.store.main_connected());
    EXPECT_EQ(f.catalogue_pane()->major_list()->count(), 0);
    EXPECT_EQ(f.panel(0), QStringLiteral("数据库未连接：") + error);
}

// An exported database chosen as the main folder's file: the window opens on it, the missing
// settings table is made in both files, and later starts go on working.
TEST_F(LifecycleTest, ExportedDatabaseAsMainFileOpensAtEveryStart)
{
    {
        Connection c;
        c.open(database_file_in(zhu));
        for (const QString &sql : creation_statements())
            if (!sql.contains(QLatin1String("set_table")))
                c.execute(sql);
        c.execute(QStringLiteral("insert into Section(px,classId,caption) values(100,1,'导出的小类')"));
    }
    use_folders();
    for (int start = 0; start < 2; ++start) {
        SCOPED_TRACE(start);
        TForm2 &f = create(dialogs);
        EXPECT_EQ(f.panel(0), QStringLiteral("主备就绪"));
        ASSERT_EQ(f.catalogue_pane()->minor_list()->count(), 1);
        EXPECT_EQ(f.catalogue_pane()->minor_list()->item(0)->text(), QStringLiteral("导出的小类"));
        run_worker(f); // the deferred step reads and writes set_table
        test::expect_mirror_identical(f.store);
        ASSERT_TRUE(request_close(f));
        form.reset();
        dialogs.verify_done();
    }
}

// The main file gone, its backup sound: the window asks before anything is made or copied.
TEST_F(LifecycleTest, MissingMainFileIsRestoredFromTheBackupOnlyWhenTheUserSaysSo)
{
    use_folders();
    {
        TForm2 &f = create(dialogs);
        test::write_sql(f.store,
                        QStringLiteral("insert into Section(px,classId,caption) values(100,1,'备份里的小类')"));
        ASSERT_TRUE(request_close(f));
        form.reset();
    }
    QFile::remove(database_file_in(zhu));
    const QByteArray backup = TempFolder::read(database_file_in(bei));
    const QString question_start = QStringLiteral("主数据库文件“%1”不存在。").arg(database_file_in(zhu));

    dialogs.expect_containing(ScriptedDialogs::Kind::YesNo, question_start, Dialogs::Answer::No);
    {
        TForm2 &f = create(dialogs);
        dialogs.verify_done();
        EXPECT_EQ(f.panel(0),
                  QStringLiteral("数据库未连接：主数据库文件“%1”不存在，没有打开数据库").arg(database_file_in(zhu)));
        EXPECT_EQ(f.catalogue_pane()->major_list()->count(), 0);
        EXPECT_FALSE(QFileInfo::exists(database_file_in(zhu)));
        EXPECT_EQ(TempFolder::read(database_file_in(bei)), backup);
        ASSERT_TRUE(request_close(f));
        form.reset();
    }
    dialogs.expect_containing(ScriptedDialogs::Kind::YesNo, question_start, Dialogs::Answer::Yes);
    TForm2 &f = create(dialogs);
    dialogs.verify_done();
    EXPECT_EQ(f.panel(0), QStringLiteral("主备就绪"));
    ASSERT_EQ(f.catalogue_pane()->minor_list()->count(), 1);
    EXPECT_EQ(f.catalogue_pane()->minor_list()->item(0)->text(), QStringLiteral("备份里的小类"));
    EXPECT_EQ(TempFolder::read(database_file_in(bei)), backup);
}

} // namespace
} // namespace yunshan
