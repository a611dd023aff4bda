// Saving, creating and deleting notes, change tracking and autosave, driven through the main
// window against real main and backup database files.
#include "app/ui/catalogue_pane.h"
#include "app/ui/editor_pane.h"
#include "app/ui/tform2.h"
#include "platform/paths.h"
#include "platform/settings_store.h"
#include "store/connection.h"
#include "store/note_store.h"
#include "support/db_check.h"
#include "support/main_window_fixture.h"
#include "support/note_list_entries.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>

namespace yunshan {
namespace {

using test::ScriptedDialogs;
using test::TempFolder;
using Kind = ScriptedDialogs::Kind;

const QString kOldTime = QStringLiteral("2023-11-02 08:09:10");

class NoteSaveWindowTest : public test::MainWindowFixture {
  protected:
    void SetUp() override
    {
        start();
        ASSERT_TRUE(form->store.backup_connected());
        write_without_sync();
        exec(QStringLiteral("insert into Section(px,classId,caption) values(100,1,'甲类')"));
        exec(QStringLiteral("insert into Section(px,classId,caption) values(200,1,'乙类')"));
        form->catalogue_pane()->major_list()->setCurrentRow(-1);
        form->selection = CatalogueSelection();
        select_class();
    }

    QVariant main_value(const QString &sql) { return form->store.main().query_first(sql).value_or(QVariant()); }

    int add_plain(const QString &caption, const QString &body, const QString &label = {}, int px = 100)
    {
        exec(QStringLiteral("insert into notes(label,cuanjian,put,content) values(:a,:b,:b,:c)"),
             {label, kOldTime, QString(QChar(0xFEFF) + body)});
        const int id = static_cast<int>(form->store.main().last_insert_rowid());
        exec(QStringLiteral("insert into title(px,classId,sectionId,noteId,caption) values(?,1,1,?,?)"),
             {px, id, caption});
        return id;
    }
    void select_class()
    {
        form->catalogue_pane()->major_list()->setCurrentRow(0);
        form->open_major_category();
    }
    void show_section(int row)
    {
        form->catalogue_pane()->minor_list()->setCurrentRow(row);
        form->open_minor_category();
    }
    void open_entry(int row)
    {
        test::choose_note(*form, row); // the selection opens it
        ASSERT_EQ(form->selection.note_index, row);
    }
    // Text as an input method commits it at the caret.
    static void type(QWidget *w, const QString &text)
    {
        QInputMethodEvent e;
        e.setCommitString(text);
        QApplication::sendEvent(w, &e);
    }
    void save() { form->commands().button("SpeedButton2")->click(); }
    QString dump() { return test::dump_database(form->store.main()); }
};

TEST_F(NoteSaveWindowTest, TitleWithQuotesAndPercentStaysExactOverRepeatedSaves)
{
    add_plain(QStringLiteral("旧"), QStringLiteral("正文"));
    show_section(0);
    open_entry(0);
    const QString title = QStringLiteral("It's \"50%\" 完成'';");
    form->title_field()->setText(title);
    EXPECT_TRUE(form->save_enabled());
    EXPECT_TRUE(form->commands().button("ToolButtonSave")->isEnabled());
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        type(form->editor_pane()->editor(), QStringLiteral("x"));
        save();
        EXPECT_FALSE(form->save_enabled());
        EXPECT_EQ(main_value(QStringLiteral("select caption from title where noteId=1")).toString(), title);
        EXPECT_EQ(test::note_text(*form, 0), title);
        test::expect_mirror_identical(form->store);
        form->title_field()->setText(form->title_field()->text()); // unchanged text: no change event
        form->note.title_mark = ChangeMark::Changed;               // save the title row again
    }
    test::choose_note(*form, -1);
    form->selection.note_index = -1;
    form->clear_note_view();
    open_entry(0);
    EXPECT_EQ(form->title_field()->text(), title);
}

TEST_F(NoteSaveWindowTest, TagLineOnlyEditKeepsUpdateTimeAndBodyEditSetsOneTimeOnBoth)
{
    add_plain(QStringLiteral("笔记"), QStringLiteral("正文"), QStringLiteral("旧标签"));
    show_section(0);
    open_entry(0);
    form->tag_field()->setText(QStringLiteral("新标签"));
    save();
    EXPECT_EQ(main_value(QStringLiteral("select label from notes where id=1")).toString(), QStringLiteral("新标签"));
    EXPECT_EQ(main_value(QStringLiteral("select put from notes where id=1")).toString(), kOldTime);
    EXPECT_FALSE(QFile::exists(tmp + QStringLiteral("/1.rtf")));
    EXPECT_FALSE(form->Timer1->isActive()); // a title change starts no autosave
    test::expect_mirror_identical(form->store);

    type(form->editor_pane()->editor(), QStringLiteral("加"));
    EXPECT_TRUE(form->Timer1->isActive());
    save();
    EXPECT_NE(main_value(QStringLiteral("select put from notes where id=1")).toString(), kOldTime);
    // Wide text led by the byte-order mark (U+FEFF).
    EXPECT_EQ(main_value(QStringLiteral("select hex(content) from notes where id=1")).toString(),
              QString::fromLatin1((QStringLiteral("\uFEFF加正文")).toUtf8().toHex().toUpper()));
    EXPECT_FALSE(form->Timer1->isActive());
    test::expect_mirror_identical(form->store);
}

TEST_F(NoteSaveWindowTest, PlainNoteGetsRtfRowOnlyAfterBoldAndSave)
{
    add_plain(QStringLiteral("笔记"), QStringLiteral("正文"));
    show_section(0);
    open_entry(0);
    EXPECT_EQ(form->panel(4), QStringLiteral("TXT"));
    type(form->editor_pane()->editor(), QStringLiteral("普通"));
    save();
    EXPECT_EQ(main_value(QStringLiteral("select count(*) from rtffile")).toInt(), 0);

    QTextCursor c = form->editor_pane()->editor()->textCursor();
    c.setPosition(0);
    c.setPosition(2, QTextCursor::KeepAnchor);
    form->editor_pane()->editor()->setTextCursor(c);
    form->commands().button("SpeedButton8")->click();
    EXPECT_TRUE(form->save_enabled());
    save();
    EXPECT_EQ(main_value(QStringLiteral("select count(*) from rtffile where noteId=1")).toInt(), 1);
    test::expect_mirror_identical(form->store);

    test::choose_note(*form, -1);
    form->selection.note_index = -1;
    form->clear_note_view();
    open_entry(0);
    EXPECT_EQ(form->panel(4), QStringLiteral("RTF"));
    QTextCursor probe(form->editor_pane()->editor()->document());
    probe.setPosition(1);
    EXPECT_EQ(probe.charFormat().fontWeight(), QFont::Bold);
}

TEST_F(NoteSaveWindowTest, CtrlSWithoutChangesWritesNothing)
{
    add_plain(QStringLiteral("笔记"), QStringLiteral("正文"));
    show_section(0);
    open_entry(0);
    const QString before = dump();
    form->commands().action("N65")->trigger();
    EXPECT_EQ(dump(), before);
    form->title_field()->setText(QStringLiteral("改"));
    form->commands().action("N65")->trigger();
    EXPECT_EQ(main_value(QStringLiteral("select caption from title where noteId=1")).toString(), QStringLiteral("改"));
}

TEST_F(NoteSaveWindowTest, NothingOpenMeansNothingSavedIntoTheLastNote)
{
    add_plain(QStringLiteral("笔记"), QStringLiteral("正文"));
    show_section(0);
    open_entry(0);
    test::choose_note(*form, -1);
    form->selection.note_index = -1;
    form->clear_note_view(); // another category chosen: the view is empty, noteId_bei stays 1
    form->note.body_mark = ChangeMark::Changed;
    form->set_save_enabled(true);
    const QString before = dump();
    dialogs.expect_message(QStringLiteral("请先新建笔记。"));
    save();
    EXPECT_EQ(dump(), before);
}

TEST_F(NoteSaveWindowTest, NewNotesAreAppendedTwoApartAndMirrored)
{
    show_section(1);
    form->commands().button("ToolButton6")->click();
    form->commands().button("SpeedButtonNew")->click();
    ASSERT_EQ(form->note_list_model()->count(), 2);
    const QString caption = test::note_text(*form, 0);
    EXPECT_TRUE(caption.startsWith(QStringLiteral("新的笔记")));
    EXPECT_EQ(form->title_field()->text(), caption);
    const auto rows = form->store.main().query(QStringLiteral("select px,sectionId,noteId from title order by id"));
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows.at(0).at(0).toInt(), 100);
    EXPECT_EQ(rows.at(1).at(0).toInt(), 102);
    EXPECT_EQ(rows.at(1).at(1).toInt(), 2);
    EXPECT_EQ(form->note.noteId, rows.at(1).at(2).toInt());
    EXPECT_EQ(form->note_list_model()->note_ids(), (QList<int>{rows.at(0).at(2).toInt(), rows.at(1).at(2).toInt()}));
    EXPECT_EQ(form->note_list_pane()->current_row(), 1);
    EXPECT_EQ(form->selection.note_index, 1);
    EXPECT_FALSE(form->save_enabled());
    EXPECT_EQ(form->note.is_rtf, BodyKind::Plain);
    EXPECT_EQ(main_value(QStringLiteral("select count(*) from rtffile")).toInt(), 0);
    test::expect_mirror_identical(form->store);

    // Reopened, the order is the order of creation.
    form->selection.section_index = -1;
    show_section(1);
    EXPECT_EQ(form->note_list_model()->note_ids(), (QList<int>{rows.at(0).at(2).toInt(), rows.at(1).at(2).toInt()}));
}

TEST_F(NoteSaveWindowTest, NewNoteAsksAboutUnsavedChanges)
{
    add_plain(QStringLiteral("笔记"), QStringLiteral("正文"));
    show_section(0);
    open_entry(0);
    type(form->editor_pane()->editor(), QStringLiteral("改"));
    dialogs.expect_question3(QStringLiteral("笔记没保存，是否保存或者取消当前操作？"), Dialogs::Answer::Cancel);
    form->commands().button("ToolButton6")->click();
    EXPECT_EQ(form->note_list_model()->count(), 1);
    dialogs.expect_question3(QStringLiteral("笔记没保存，是否保存或者取消当前操作？"), Dialogs::Answer::Yes);
    form->commands().button("ToolButton6")->click();
    EXPECT_EQ(form->note_list_model()->count(), 2);
    // Wide text led by the byte-order mark (U+FEFF).
    EXPECT_EQ(main_value(QStringLiteral("select hex(content) from notes where id=1")).toString(),
              QString::fromLatin1((QStringLiteral("\uFEFF改正文")).toUtf8().toHex().toUpper()));
    test::expect_mirror_identical(form->store);
}

// A size, colour or weight in force at the caret belongs to the note it was typed in: a new note
// and a cleared view start with the editor's own font, and so does what is typed there.
TEST_F(NoteSaveWindowTest, NewNoteAndClearedViewStartWithTheEditorsFont)
{
    add_plain(QStringLiteral("笔记"), QStringLiteral("正文"));
    show_section(0);
    open_entry(0);
    QTextEdit *editor = form->editor_pane()->editor();
    const auto type_big_red = [&] {
        QTextCharFormat big_red;
        big_red.setFontPointSize(30);
        big_red.setForeground(QColor(255, 0, 0));
        big_red.setFontWeight(QFont::Bold);
        QTextCursor c = editor->textCursor();
        c.movePosition(QTextCursor::End);
        editor->setTextCursor(c);
        editor->setCurrentCharFormat(big_red);
        type(editor, QStringLiteral("大红"));
        ASSERT_EQ(editor->currentCharFormat().foreground().color(), QColor(255, 0, 0));
        save();
    };
    const auto expect_editor_font = [&](const QTextCharFormat &f) {
        EXPECT_EQ(f.foreground().style(), Qt::NoBrush);
        EXPECT_NE(f.fontWeight(), QFont::Bold);
        const QFont shown = f.font().resolve(editor->document()->defaultFont());
        EXPECT_EQ(shown.family(), editor->font().family());
        EXPECT_EQ(shown.pointSizeF(), editor->font().pointSizeF());
        EXPECT_EQ(shown.pixelSize(), editor->font().pixelSize());
    };

    type_big_red();
    form->new_note();
    expect_editor_font(editor->currentCharFormat());
    type(editor, QStringLiteral("新"));
    QTextCursor at_new(editor->document());
    at_new.setPosition(1);
    expect_editor_font(at_new.charFormat());

    type_big_red();
    form->clear_note_view();
    expect_editor_font(editor->currentCharFormat());
}

TEST_F(NoteSaveWindowTest, NewNoteNeedsASelectedMinorCategory)
{
    dialogs.expect_message(QStringLiteral("请先选择一个小类，以备在其下创建笔记。"));
    form->commands().button("ToolButton6")->click();
    EXPECT_EQ(main_value(QStringLiteral("select count(*) from notes")).toInt(), 0);
}

TEST_F(NoteSaveWindowTest, DeleteRemovesRowsOnBothKeepsPicturesAndRefills)
{
    add_plain(QStringLiteral("留下"), QStringLiteral("a"), {}, 100);
    const int id = add_plain(QStringLiteral("删掉"), QStringLiteral("b"), {}, 102);
    exec(QStringLiteral("insert into rtffile(noteId,rtf) values(?,?)"), {id, QByteArray("{\\rtf1 b}")});
    exec(QStringLiteral("insert into picture(articleId,img) values(?,?)"), {id, QByteArray("jpeg")});
    show_section(0);
    dialogs.expect_message(QStringLiteral("请先选择一个要删除的笔记。"));
    form->commands().button("ToolButton7")->click();
    open_entry(1);
    dialogs.expect_question(QStringLiteral("是否删除笔记“删掉”?"), Dialogs::Answer::No);
    form->commands().button("ToolButton7")->click();
    EXPECT_EQ(form->note_list_model()->count(), 2);
    dialogs.expect_question(QStringLiteral("是否删除笔记“删掉”?"), Dialogs::Answer::Yes);
    dialogs.expect_message(QStringLiteral("删除成功。"));
    form->commands().button("ToolButton7")->click();
    ASSERT_EQ(form->note_list_model()->count(), 1);
    EXPECT_EQ(test::note_text(*form, 0), QStringLiteral("留下"));
    EXPECT_EQ(form->note.noteId, -1);
    for (const char *table : {"title where noteId=2", "notes where id=2", "rtffile where noteId=2"})
        EXPECT_EQ(main_value(QStringLiteral("select count(*) from ") + QString::fromLatin1(table)).toInt(), 0) << table;
    EXPECT_EQ(main_value(QStringLiteral("select count(*) from picture where articleId=2")).toInt(), 1);
    test::expect_mirror_identical(form->store);
}

TEST_F(NoteSaveWindowTest, DeleteFromSearchListRemovesTheEntryAndClosesTheNote)
{
    add_plain(QStringLiteral("苹果一"), QStringLiteral("a"));
    add_plain(QStringLiteral("苹果二"), QStringLiteral("b"));
    form->search_box()->setText(QStringLiteral("苹果"));
    form->commands().button("Button1")->click(); // search: opens the first entry
    ASSERT_EQ(form->note_list_model()->count(), 2);
    ASSERT_EQ(form->note.noteId, 1);
    dialogs.expect_question(QStringLiteral("是否删除笔记“苹果一”?"), Dialogs::Answer::Yes);
    dialogs.expect_message(QStringLiteral("删除成功。"));
    form->commands().button("ToolButton7")->click();
    ASSERT_EQ(form->note_list_model()->count(), 1);
    EXPECT_EQ(test::note_text(*form, 0), QStringLiteral("苹果二"));
    EXPECT_EQ(form->note_list_model()->note_ids(), QList<int>{2});
    EXPECT_EQ(form->note_list_pane()->current_row(), -1);
    EXPECT_EQ(form->note.noteId, -1);
    EXPECT_TRUE(form->title_field()->text().isEmpty());
    // Nothing acts on the deleted note any more.
    dialogs.expect_message(QStringLiteral("请先新建或者打开一个笔记以添加。"));
    form->commands().action("N73")->trigger();
    dialogs.expect_message(QStringLiteral("请先选择一个要删除的笔记。"));
    form->commands().button("ToolButton7")->click();
}

TEST_F(NoteSaveWindowTest, AutosaveAfterTheCycleAndTheSaveEndsIt)
{
    add_plain(QStringLiteral("笔记"), QStringLiteral("正文"));
    show_section(0);
    open_entry(0);
    const QString file = tmp + QStringLiteral("/1.rtf");
    type(form->editor_pane()->editor(), QStringLiteral("一"));
    EXPECT_TRUE(form->save_enabled());
    EXPECT_TRUE(form->commands().button("ToolButtonSave")->isEnabled());
    ASSERT_TRUE(form->Timer1->isActive());
    EXPECT_EQ(form->Timer1->interval(), 1000);
    for (int i = 1; i < 300; ++i)
        form->autosave_timer_tick();
    EXPECT_FALSE(QFile::exists(file));
    form->autosave_timer_tick();
    EXPECT_TRUE(QFile::exists(file));
    EXPECT_EQ(QFile::permissions(file) & (QFileDevice::ReadGroup | QFileDevice::ReadOther), QFileDevice::Permissions());
    EXPECT_FALSE(form->Timer1->isActive());
    EXPECT_EQ(form->store.get_first_string(QStringLiteral("select value1 from set_table where key1='tmp_file1'")),
              QStringLiteral("1"));
    test::expect_mirror_identical(form->store);

    save();
    EXPECT_FALSE(QFile::exists(file));
    EXPECT_EQ(form->store.get_first_string(QStringLiteral("select value1 from set_table where key1='tmp_file1'")),
              QStringLiteral("000"));
    EXPECT_EQ(form->autosave.time_count, 0);
    test::expect_mirror_identical(form->store);
}

TEST_F(NoteSaveWindowTest, EncryptedModeWithoutPasswordIsSavedPlainWithItsTitleRow)
{
    exec(QStringLiteral(
        "insert into notes(label,content,cuanjian,put) values('l','x','2023-11-02 08:09:10','2023-11-02 08:09:10')"));
    exec(QStringLiteral("insert into title(px,classId,sectionId,noteId,isDel,caption) values(100,1,1,1,2,'旧')"));
    show_section(0);
    form->select_note_entry(0);
    form->selection.note_index = 0;
    form->note.noteId = 1;
    form->crypt.is_crypt = 2; // the password is not in memory
    form->note.title_mark = ChangeMark::Suspended;
    form->title_field()->setText(QStringLiteral("标题"));
    form->note.title_mark = ChangeMark::Unchanged;
    type(form->editor_pane()->editor(), QStringLiteral("正文"));
    save();
    EXPECT_EQ(main_value(QStringLiteral("select isDel from title where noteId=1")).toInt(), 0);
    EXPECT_EQ(main_value(QStringLiteral("select caption from title where noteId=1")).toString(),
              QStringLiteral("标题"));
    EXPECT_EQ(form->crypt.is_crypt, 0);
    EXPECT_EQ(test::note_modes(*form).value(0), 0);
    test::expect_mirror_identical(form->store);
}

TEST_F(NoteSaveWindowTest, FailingBackupIsReportedOnceAndSavingGoesOnInTheMainDatabase)
{
    add_plain(QStringLiteral("笔记"), QStringLiteral("正文"));
    show_section(0);
    open_entry(0);
    form->store.main().execute(QStringLiteral("drop table bei.rtffile")); // the backup breaks
    form->note.is_rtf = BodyKind::Rtf;
    type(form->editor_pane()->editor(), QStringLiteral("一"));
    dialogs.expect_error(
        QStringLiteral("备份数据库“%1”写入失败：缺少笔记的数据表或列，不是完整的笔记数据库（no such "
                       "table: bei.rtffile）\n已断开备份数据库，笔记继续保存到主数据库；下次启动时会从主数据库"
                       "重新复制备份。")
            .arg(database_file_in(bei)));
    save();
    EXPECT_FALSE(form->save_enabled());
    EXPECT_FALSE(form->store.backup_connected());
    EXPECT_EQ(form->panel(0), QStringLiteral("主数据库就绪"));
    EXPECT_EQ(main_value(QStringLiteral("select count(*) from rtffile where noteId=1")).toInt(), 1);
    type(form->editor_pane()->editor(), QStringLiteral("二"));
    save(); // no second error
    EXPECT_FALSE(form->save_enabled());
}

TEST_F(NoteSaveWindowTest, ClickIntoEmptyEditorOfEmptyMinorCategoryCreatesANote)
{
    form->catalogue_pane()->minor_list()->setCurrentRow(-1);
    ASSERT_EQ(form->note_list_model()->count(), 0);
    QFocusEvent focus(QEvent::FocusIn, Qt::MouseFocusReason);
    QApplication::sendEvent(form->editor_pane()->editor(), &focus);
    // The first minor category was chosen and a note created in it.
    EXPECT_EQ(form->catalogue_pane()->minor_list()->currentRow(), 0);
    ASSERT_EQ(form->note_list_model()->count(), 1);
    EXPECT_GE(form->note.noteId, 1);
    EXPECT_EQ(main_value(QStringLiteral("select sectionId from title")).toInt(), 1);
    // The first change of the body counts.
    type(form->editor_pane()->editor(), QStringLiteral("字"));
    EXPECT_TRUE(form->save_enabled());
    EXPECT_EQ(form->panel(1), QStringLiteral("字数:1"));
}

TEST_F(NoteSaveWindowTest, EnteringOpensTheFirstNoteAndItsFirstBodyChangeCounts)
{
    add_plain(QStringLiteral("笔记"), QStringLiteral("正文"));
    show_section(0);
    QFocusEvent focus(QEvent::FocusIn, Qt::TabFocusReason);
    QApplication::sendEvent(form->title_field(), &focus);
    EXPECT_EQ(form->note.noteId, 1);
    EXPECT_EQ(form->note.body_mark, ChangeMark::Unchanged);
    type(form->editor_pane()->editor(), QStringLiteral("贴"));
    EXPECT_TRUE(form->save_enabled());
}

TEST_F(NoteSaveWindowTest, EnterInTitleMovesToTheBodyInsertingNothing)
{
    add_plain(QStringLiteral("笔记"), QStringLiteral("正文"));
    show_section(0);
    open_entry(0);
    form->show();
    form->title_field()->setFocus();
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    QApplication::sendEvent(form->title_field(), &enter);
    EXPECT_EQ(form->title_field()->text(), QStringLiteral("笔记"));
    EXPECT_EQ(form->editor_pane()->editor()->toPlainText(), QStringLiteral("正文"));
    EXPECT_FALSE(form->save_enabled());
    EXPECT_EQ(form->focusWidget(), form->editor_pane()->editor());
}

TEST_F(NoteSaveWindowTest, ReadOnlyModeWritesNothing)
{
    add_plain(QStringLiteral("笔记"), QStringLiteral("正文"));
    show_section(0);
    open_entry(0);
    form->enter_read_only_mode();
    const QString before = dump();
    // Typing, a key that deletes, a command that formats: the note stays as it was shown, with no
    // change mark.
    form->show();
    form->editor_pane()->editor()->setFocus();
    form->editor_pane()->editor()->selectAll();
    QTest::keyClicks(form->editor_pane()->editor(), QStringLiteral("abc"));
    QTest::keyClick(form->editor_pane()->editor(), Qt::Key_Backspace);
    type(form->editor_pane()->editor(), QStringLiteral("改"));
    form->commands().action("MenuBold")->trigger();
    form->commands().action("MenuRed")->trigger();
    form->commands().action("Popup1Undo")->trigger();
    EXPECT_EQ(form->editor_pane()->editor()->toPlainText(), QStringLiteral("正文"));
    EXPECT_EQ(form->note.body_mark, ChangeMark::Unchanged);
    for (QLineEdit *field : {form->title_field(), form->tag_field()})
        QTest::keyClicks(field, QStringLiteral("x"));
    EXPECT_EQ(form->title_field()->text(), QStringLiteral("笔记"));
    EXPECT_EQ(form->tag_field()->text(), QString());
    EXPECT_EQ(form->note.title_mark, ChangeMark::Unchanged);
    EXPECT_FALSE(form->save_enabled());
    EXPECT_FALSE(form->Timer1->isActive());
    form->note.body_mark = ChangeMark::Changed;
    form->save_open_note();
    form->commands().action("MenuNewNote")->trigger();
    form->delete_selected_note();
    EXPECT_EQ(dump(), before);
}

TEST_F(NoteSaveWindowTest, SaveAsProposesTheCleanedTitleAndKeepsTheChangeState)
{
    add_plain(QStringLiteral("笔记"), QStringLiteral("正文"));
    show_section(0);
    open_entry(0);
    form->title_field()->setText(QStringLiteral("周报: 第3周?"));
    const QString target = dir.file(QStringLiteral("周报.txt"));
    dialogs.expect_file(Kind::SaveFile, target);
    form->commands().action("MenuSaveAs")->trigger();
    EXPECT_TRUE(dialogs.last_start().endsWith(QStringLiteral("周报 第3周.rtf"))) << dialogs.last_start().toStdString();
    const QByteArray bytes = TempFolder::read(target);
    EXPECT_TRUE(bytes.startsWith("\xFF\xFE"));
    EXPECT_TRUE(form->save_enabled()); // the title change is still unsaved
}

} // namespace
} // namespace yunshan
