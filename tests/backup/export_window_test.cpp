// The export and promotion commands of the main window: wiring, notice label, lists.
#include "app/ui/catalogue_pane.h"
#include "app/ui/tform2.h"
#include "backup/export.h"
#include "platform/paths.h"
#include "platform/settings_store.h"
#include "store/connection.h"
#include "support/db_check.h"
#include "support/event_loop_watch.h"
#include "support/main_window_fixture.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <QAction>
#include <QDir>
#include <QEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QTimer>
#include <QToolBar>

namespace yunshan {
namespace {

using test::ScriptedDialogs;
using test::TempFolder;
using Kind = ScriptedDialogs::Kind;

class ExportWindowTest : public test::MainWindowFixture {
  protected:
    void SetUp() override
    {
        out = dir.mkdir(QStringLiteral("out"));
        start();
        ASSERT_EQ(form->store.status(), kMainAndBackup);
    }

    QString out;
};

TEST_F(ExportWindowTest, MenuExportsTheSelectedCategoryAndClearsTheNotice)
{
    NoteStore &store = form->store;
    test::write_sql(store, QStringLiteral("insert into Section(classId,caption) values(1,'小类')"));
    test::write_sql(store, QStringLiteral("insert into notes(label,content,cuanjian,put) values('签','文','2023-11-02 "
                                          "08:09:10','2023-11-02 08:09:10')"));
    test::write_sql(store,
                    QStringLiteral("insert into title(classId,sectionId,noteId,caption,fast) values(1,1,1,'笔记',1)"));
    ASSERT_EQ(form->catalogue_pane()->major_list()->count(), 1);
    form->catalogue_pane()->major_list()->setCurrentRow(0);
    const QString target = QDir(out).filePath(QStringLiteral("导出.sl3"));

    dialogs.expect_question(export_text::ask(), Dialogs::Answer::Yes)
        .expect_message(export_text::same_names())
        .expect(Kind::SaveFile, export_text::dialog_title(), Dialogs::Answer::Yes, target)
        .expect_message(export_text::done());
    form->commands().action("N23")->trigger();
    dialogs.verify_done();
    EXPECT_TRUE(form->notice_label()->text().isEmpty());
    EXPECT_EQ(form->notice_label()->palette().color(QPalette::WindowText), QColor(Qt::red));
    Connection db;
    db.open(target, false);
    EXPECT_EQ(db.query(QStringLiteral(
                  "select c.caption,s.caption,t.caption,t.fast,n.label from title t join Class c on c.id=t.classId "
                  "join Section s on s.id=t.sectionId join notes n on n.id=t.noteId")),
              (QList<QList<SqlValue>>{{QStringLiteral("默认大类"), QStringLiteral("小类"), QStringLiteral("笔记"),
                                       qint64(1), QStringLiteral("签")}}));

    // An engine error is shown with its message; the window goes on with both databases.
    const QString junk = QDir(out).filePath(QStringLiteral("junk.sl3"));
    TempFolder::write(junk, QByteArray("no database here").repeated(100));
    dialogs.expect_question(export_text::ask(), Dialogs::Answer::Yes)
        .expect_message(export_text::same_names())
        .expect(Kind::SaveFile, export_text::dialog_title(), Dialogs::Answer::Yes, junk)
        .expect_containing(Kind::Error, QStringLiteral("file is not a database"));
    form->export_category_database();
    dialogs.verify_done();
    EXPECT_TRUE(form->notice_label()->text().isEmpty());
    EXPECT_EQ(store.backup_file(), database_file_in(bei));
    test::expect_mirror_identical(store);

    form->catalogue_pane()->major_list()->setCurrentRow(-1);
    dialogs.expect_message(export_text::no_selection());
    form->export_category_database();
    dialogs.verify_done();
}

// The copy runs on a worker thread: the notice label keeps painting and the window's 10 ms timer
// keeps ticking while the notes are copied (no gap of 100 ms or more in which this thread was
// busy; a gap while the machine's other work held the processor says nothing about the program),
// the commands that write wait, and the menu command does not start a second export.
TEST_F(ExportWindowTest, WindowStaysLiveAndWritingWaitsWhileTheCategoryIsCopied)
{
    TForm2 &f = *form;
    f.show();
    // 3,000 notes of the default category, each with an RTF body and a picture of 20 KB, written
    // straight into the main file in one transaction.
    constexpr int kNotes = 3000;
    Connection &db = f.store.main();
    db.execute(QStringLiteral("BEGIN"));
    db.execute(QStringLiteral("insert into Section(classId,caption) values(1,'小类')"));
    db.execute(QStringLiteral("with recursive n(i) as (select 1 union all select i+1 from n where i<%1) "
                              "insert into notes(label,content,cuanjian,put) select 'l'||i,'c'||i,'2024-01-01 "
                              "00:00:00','2024-01-01 00:00:00' from n")
                   .arg(kNotes));
    db.execute(QStringLiteral("insert into title(px,classId,sectionId,noteId,caption) select id,1,1,id,'t'||id from "
                              "notes"));
    db.execute(QStringLiteral("insert into rtffile(noteId,rtf) select id,randomblob(20000) from notes"));
    db.execute(QStringLiteral("insert into picture(articleId,img) select id,randomblob(20000) from notes"));
    db.execute(QStringLiteral("COMMIT"));
    f.catalogue_pane()->major_list()->setCurrentRow(0);
    const QString target = QDir(out).filePath(QStringLiteral("大类.sl3"));

    QStringList notices;
    bool writing_possible = false;
    // Counted from the notes on: holding the window repaints all of it once at the start.
    test::EventLoopWatch watch(
        [&] { return f.transfers().running() && f.notice_label()->text().contains(QStringLiteral("导入")); },
        f.notice_label());
    watch.on_tick = [&](bool first) {
        if (first) {
            // Unanswered: the scripted dialogs would report the question of a second export.
            f.commands().action("N23")->trigger();
        }
        if (notices.isEmpty() || notices.constLast() != f.notice_label()->text())
            notices << f.notice_label()->text();
        writing_possible = writing_possible || f.commands().tool_bar()->isEnabled() || f.menuBar()->isEnabled() ||
                           f.catalogue_pane()->major_list()->isEnabled() || f.Timer1->isActive();
    };
    watch.start();
    dialogs.expect_question(export_text::ask(), Dialogs::Answer::Yes)
        .expect_message(export_text::same_names())
        .expect(Kind::SaveFile, export_text::dialog_title(), Dialogs::Answer::Yes, target)
        .expect_message(export_text::done());
    f.commands().action("N23")->trigger();
    watch.stop();
    dialogs.verify_done();

    EXPECT_GE(watch.ticks(), 5);
    EXPECT_TRUE(watch.busy_gaps().isEmpty()) << watch.report() << " while copying";
    EXPECT_GE(watch.paints(), 2);
    EXPECT_FALSE(notices.filter(QStringLiteral("已导入")).isEmpty()) << notices.join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(writing_possible);
    // Over, the window takes input again and the notice is gone.
    EXPECT_TRUE(f.commands().tool_bar()->isEnabled());
    EXPECT_TRUE(f.menuBar()->isEnabled());
    EXPECT_TRUE(f.catalogue_pane()->major_list()->isEnabled());
    EXPECT_FALSE(f.transfers().running());
    EXPECT_TRUE(f.notice_label()->text().isEmpty());
    Connection exported;
    exported.open_read_only(target);
    EXPECT_EQ(exported.query(QStringLiteral("select count(*),sum(length(img)) from picture")),
              (QList<QList<SqlValue>>{{qint64(kNotes), qint64(kNotes) * 20000}}));
    EXPECT_EQ(exported.query(QStringLiteral("select count(*),sum(length(rtf)) from rtffile")),
              (QList<QList<SqlValue>>{{qint64(kNotes), qint64(kNotes) * 20000}}));
    EXPECT_EQ(
        exported.query_first(QStringLiteral("select count(*) from title where noteId>0 and sectionId=1"))->toLongLong(),
        kNotes);
}

TEST_F(ExportWindowTest, PromotionSettlesAndForgetsTheOpenNoteAndReloadsTheLists)
{
    const QString dated = QDir(bei).filePath(QStringLiteral("buckup__20250102.sl3"));
    {
        Connection c;
        c.open(dated);
        c.execute(QStringLiteral(
            "CREATE TABLE Class (id INTEGER PRIMARY KEY AUTOINCREMENT,px INTEGER DEFAULT (100),caption TEXT);"));
        c.execute(QStringLiteral("CREATE TABLE Section (id INTEGER PRIMARY KEY AUTOINCREMENT,px INTEGER DEFAULT "
                                 "(100),classId INTEGER NOT NULL,caption TEXT);"));
        c.execute(QStringLiteral("CREATE TABLE title (id INTEGER PRIMARY KEY AUTOINCREMENT,classId INTEGER,sectionId "
                                 "INTEGER,noteId INTEGER,caption TEXT);"));
        c.execute(QStringLiteral("CREATE TABLE notes (id INTEGER PRIMARY KEY AUTOINCREMENT,label TEXT,content TEXT);"));
        c.execute(QStringLiteral("insert into Class(px,caption) values(1,'备份大类')"));
    }
    form->note.noteId = 5;
    form->note.noteId_bei = 5;
    // Unsaved changes of the open note are settled once the replacement is agreed; Cancel stops
    // the command before anything is replaced.
    form->set_save_enabled(true);
    const QByteArray zhu_before = TempFolder::read(database_file_in(zhu));
    dialogs.expect(Kind::OpenFile, promote_text::dialog_title(), Dialogs::Answer::Yes, dated)
        .expect_question(promote_text::ask(), Dialogs::Answer::Yes)
        .expect_question3(QStringLiteral("笔记没保存，是否保存或者取消当前操作？"), Dialogs::Answer::Cancel);
    form->commands().action("N24")->trigger();
    dialogs.verify_done();
    EXPECT_EQ(form->note.noteId, 5);
    EXPECT_TRUE(form->save_enabled());
    EXPECT_EQ(TempFolder::read(database_file_in(zhu)), zhu_before);

    dialogs.expect(Kind::OpenFile, promote_text::dialog_title(), Dialogs::Answer::Yes, dated)
        .expect_question(promote_text::ask(), Dialogs::Answer::Yes)
        .expect_question3(QStringLiteral("笔记没保存，是否保存或者取消当前操作？"), Dialogs::Answer::No)
        .expect_message(promote_text::done());
    form->commands().action("N24")->trigger();
    dialogs.verify_done();
    EXPECT_EQ(form->panel(0), QStringLiteral("主备就绪"));
    ASSERT_EQ(form->catalogue_pane()->major_list()->count(), 1);
    EXPECT_EQ(form->catalogue_pane()->major_list()->item(0)->text(), QStringLiteral("备份大类"));
    EXPECT_EQ(form->catalogue_pane()->major_list()->currentRow(), 0);
    EXPECT_EQ(form->note.noteId, -1);
    EXPECT_EQ(form->note.noteId_bei, -1);
    EXPECT_FALSE(form->save_enabled());
    // Both are the dated copy, completed with the tables it lacked.
    EXPECT_EQ(TempFolder::read(database_file_in(zhu)), TempFolder::read(database_file_in(bei)));
    EXPECT_EQ(form->store.get_first_integer(
                  QStringLiteral("select count(*) from sqlite_master where name in ('picture','rtffile','set_table')")),
              3);
}

} // namespace
} // namespace yunshan
