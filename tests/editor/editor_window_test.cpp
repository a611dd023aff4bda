// Find and highlight, the find dialog, headings, fonts, links, printing and moving a note,
// driven through the main window against real database files.
#include "app/ui/catalogue_pane.h"
#include "app/ui/editor_pane.h"
#include "app/ui/find_dialog.h"
#include "app/ui/move_panel.h"
#include "app/ui/tform2.h"
#include "editor/find.h"
#include "editor/rtf/rtf.h"
#include "platform/paths.h"
#include "platform/settings_store.h"
#include "store/note_store.h"
#include "support/db_check.h"
#include "support/main_window_fixture.h"
#include "support/note_list_entries.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QClipboard>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <QTextLayout>
#include <QToolButton>

namespace yunshan {
namespace {

using test::ScriptedDialogs;
using test::TempFolder;

const QString kNotFound = QStringLiteral("内容没有找到");
const QString kEnterText = QStringLiteral("请先输入要查找的内容");

class EditorWindowTest : public test::MainWindowFixture {
  protected:
    void SetUp() override
    {
        start();
        exec(QStringLiteral("insert into Class(px,caption) values(102,'二')"));
        exec(QStringLiteral("insert into Section(px,classId,caption) values(100,1,'甲类')"));
        exec(QStringLiteral("insert into Section(px,classId,caption) values(200,2,'乙类')"));
    }
    void start()
    {
        start_connected();
        form->print_dialog = [](QPrinter &) {
            ADD_FAILURE() << "print dialog";
            return false;
        };
        form->open_url = [this](const QUrl &url) {
            opened << url.toString();
            return true;
        };
    }

    // A note in minor category `section` with an RTF body made from `doc`.
    int add_note(int section, const QString &caption, const QTextDocument &doc)
    {
        exec(QStringLiteral("insert into notes(label,content,cuanjian,put) values('',:a,'2023-11-02 "
                            "08:09:10','2023-11-02 08:09:10')"),
             {doc.toPlainText()});
        const int id = static_cast<int>(form->store.main().last_insert_rowid());
        exec(QStringLiteral("insert into title(px,classId,sectionId,noteId,caption) values(100,?,?,?,?)"),
             {section, section, id, caption});
        exec(QStringLiteral("insert into rtffile(noteId,rtf) values(?,?)"), {id, write_rtf(doc)});
        return id;
    }
    int add_note(int section, const QString &caption, const QString &body)
    {
        QTextDocument doc;
        doc.setPlainText(body);
        return add_note(section, caption, doc);
    }
    // Selects the minor category as the user does and opens entry `row`.
    void show_section(int row)
    {
        form->catalogue_pane()->minor_list()->clear();
        form->catalogue_pane()->minor_list()->addItems({QStringLiteral("甲类"), QStringLiteral("乙类")});
        form->selection.section_index = -1;
        form->catalogue_pane()->minor_list()->setCurrentRow(row);
        form->open_minor_category();
    }
    void open_entry(int row)
    {
        test::choose_note(*form, row);
        ASSERT_EQ(form->note.noteId, form->note_list_model()->note_ids().at(row));
    }
    QTextCharFormat format_at(int pos) const
    {
        QTextCursor c(form->editor_pane()->editor()->document());
        c.setPosition(pos + 1);
        return c.charFormat();
    }
    bool marked(int pos) const
    {
        const QTextCharFormat f = format_at(pos);
        return f.fontWeight() >= QFont::Bold && f.foreground().style() != Qt::NoBrush &&
               f.foreground().color() == QColor(255, 0, 0);
    }
    void select(int from, int to)
    {
        QTextCursor c = form->editor_pane()->editor()->textCursor();
        c.setPosition(from);
        c.setPosition(to, QTextCursor::KeepAnchor);
        form->editor_pane()->editor()->setTextCursor(c);
    }

    QStringList opened;
};

TEST_F(EditorWindowTest, FindNextWalksDownIgnoringCaseAndStopsAtTheEnd)
{
    add_note(1, QStringLiteral("笔记"), QStringLiteral("Plan one\nplan two\nPLAN three"));
    show_section(0);
    open_entry(0);
    dialogs.expect_message(kEnterText);
    form->commands().button("Button3")->click();
    dialogs.verify_done();

    form->search_box()->setText(QStringLiteral("plan"));
    QStringList found;
    for (int i = 0; i < 3; ++i) {
        form->commands().button("Button3")->click();
        found << QString::number(form->editor_pane()->editor()->textCursor().selectionStart());
    }
    EXPECT_EQ(found, (QStringList{QStringLiteral("0"), QStringLiteral("9"), QStringLiteral("18")}));
    dialogs.expect_message(kNotFound);
    form->findChild<QAction *>(QStringLiteral("MenuFindNext"))->trigger();
    dialogs.verify_done();
    EXPECT_EQ(form->editor_pane()->editor()->textCursor().selectionStart(), 18); // the selection stays
}

TEST_F(EditorWindowTest, HighlightIsNoEditAndNeverStored)
{
    QTextDocument doc;
    doc.setPlainText(QStringLiteral("关键字开头，粗体关键字，再一个关键字"));
    QTextCursor bold(&doc);
    bold.setPosition(6);
    bold.setPosition(11, QTextCursor::KeepAnchor);
    QTextCharFormat b;
    b.setFontWeight(QFont::Bold);
    bold.mergeCharFormat(b);
    const int id = add_note(1, QStringLiteral("高亮"), doc);
    add_note(1, QStringLiteral("另一篇"), QStringLiteral("关键字"));
    show_section(0);
    open_entry(0);
    form->note.is_rtf = BodyKind::Plain; // as a plain note would be: the marks do not change the kind
    form->search_box()->setText(QStringLiteral("关键字"));
    form->note.title_mark = ChangeMark::Suspended; // the field is filled as the program fills it, not typed
    form->title_field()->setText(QStringLiteral("改过的标题"));
    form->note.title_mark = ChangeMark::Changed; // the title counts as edited; the highlight must leave that alone

    form->commands().button("Button2")->click();
    EXPECT_EQ(form->commands().button("Button2")->text(), QStringLiteral("取消"));
    EXPECT_TRUE(form->note.search_marks);
    for (int pos : {0, 2, 8, 10, 15, 17})
        EXPECT_TRUE(marked(pos)) << pos;
    EXPECT_FALSE(marked(3));
    EXPECT_EQ(form->note.title_mark, ChangeMark::Changed);
    EXPECT_EQ(form->note.is_rtf, BodyKind::Plain);
    EXPECT_FALSE(form->save_enabled());

    // What a save stores: the body without the marks; reopened it shows none.
    const std::unique_ptr<QTextDocument> stored = copy_without_highlight(*form->editor_pane()->editor()->document());
    ASSERT_NE(stored, nullptr);
    exec(QStringLiteral("update rtffile set rtf=? where noteId=?"), {write_rtf(*stored), id});
    test::expect_mirror_identical(form->store);

    // Off: the formats from before come back (the bold word stays bold).
    form->commands().button("Button2")->click();
    EXPECT_EQ(form->commands().button("Button2")->text(), QStringLiteral("高亮"));
    EXPECT_FALSE(has_search_highlight(*form->editor_pane()->editor()->document()));
    EXPECT_GE(format_at(9).fontWeight(), QFont::Bold);
    EXPECT_LT(format_at(1).fontWeight(), QFont::Bold);

    // On again, then another note is opened: the caption and the flag start afresh.
    form->commands().button("Button2")->click();
    open_entry(1);
    EXPECT_EQ(form->commands().button("Button2")->text(), QStringLiteral("高亮"));
    EXPECT_FALSE(form->note.search_marks);
    open_entry(0);
    EXPECT_FALSE(has_search_highlight(*form->editor_pane()->editor()->document()));
    EXPECT_GE(format_at(9).fontWeight(), QFont::Bold);
    for (int pos : {0, 15})
        EXPECT_FALSE(marked(pos)) << pos;

    // An empty search box: a message, the caption stays.
    form->search_box()->clear();
    dialogs.expect_message(kEnterText);
    form->commands().button("Button2")->click();
    EXPECT_EQ(form->commands().button("Button2")->text(), QStringLiteral("高亮"));
}

TEST_F(EditorWindowTest, FindDialogWithMatchCaseAndWholeWord)
{
    add_note(1, QStringLiteral("笔记"), QStringLiteral("cats Cat cat"));
    show_section(0);
    open_entry(0);
    form->commands().action("N36")->trigger();
    FindDialog *d = form->FindDialog1;
    ASSERT_TRUE(d);
    EXPECT_TRUE(d->isVisible());
    EXPECT_FALSE(d->isModal());
    EXPECT_FALSE(d->FindNext->isEnabled());
    d->FindText->setText(QStringLiteral("cat"));
    d->FindNext->click();
    EXPECT_EQ(form->editor_pane()->editor()->textCursor().selectionStart(), 0); // "cats", case ignored
    d->WholeWord->setChecked(true);
    d->FindNext->click();
    EXPECT_EQ(form->editor_pane()->editor()->textCursor().selectionStart(), 5); // "Cat"
    d->MatchCase->setChecked(true);
    d->FindNext->click();
    EXPECT_EQ(form->editor_pane()->editor()->textCursor().selectionStart(), 9);
    dialogs.expect_message(kNotFound);
    d->FindNext->click();
    dialogs.verify_done();
    d->CancelButton->click();
    EXPECT_FALSE(d->isVisible());
}

TEST_F(EditorWindowTest, HeadingsAreListedAndJumpToTheirLine)
{
    add_note(1, QStringLiteral("章节"),
             QStringLiteral("前言里提到 word 一次\n  # word  \n正文\n x# 不是标题\n#无空格\n# 不存在的 标题"));
    show_section(0);
    open_entry(0);
    form->note_list_pane()->tabs()->setCurrentIndex(1);
    ASSERT_EQ(form->editor_pane()->headings_list()->count(), 3);
    EXPECT_EQ(form->editor_pane()->headings_list()->item(0)->text(), QStringLiteral("# word"));
    EXPECT_EQ(form->editor_pane()->headings_list()->item(1)->text(), QStringLiteral("#无空格"));

    // The first occurrence of the word after the blank is selected (here: in the preface).
    QListWidget *l = form->editor_pane()->headings_list();
    QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, l->visualItemRect(l->item(0)).center());
    EXPECT_EQ(form->editor_pane()->editor()->textCursor().selectionStart(), 6);
    QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, l->visualItemRect(l->item(1)).center());
    EXPECT_EQ(form->editor_pane()->editor()->textCursor().selectedText(), QStringLiteral("#无空格"));
    // Everything after the first blank is searched.
    QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, l->visualItemRect(l->item(2)).center());
    EXPECT_EQ(form->editor_pane()->editor()->textCursor().selectedText(), QStringLiteral("不存在的 标题"));

    // Unchanged note: the list stays; unsaved changes rebuild it at every showing.
    form->note.body_mark = ChangeMark::Suspended; // a change the tracking does not count
    form->editor_pane()->editor()->append(QStringLiteral("# 新标题"));
    form->note_list_pane()->tabs()->setCurrentIndex(0);
    form->note_list_pane()->tabs()->setCurrentIndex(1);
    EXPECT_EQ(form->editor_pane()->headings_list()->count(), 3);
    form->set_save_enabled(true);
    form->note_list_pane()->tabs()->setCurrentIndex(0);
    form->note_list_pane()->tabs()->setCurrentIndex(1);
    EXPECT_EQ(form->editor_pane()->headings_list()->count(), 4);
    form->set_save_enabled(false);
}

TEST_F(EditorWindowTest, PrintingToPdfNamesTheJobAfterTheTitle)
{
    add_note(1, QStringLiteral("打印的笔记"), QStringLiteral("云杉札记打印内容 Printed body\n第二段"));
    show_section(0);
    open_entry(0);
    const QString pdf = dir.file(QStringLiteral("out.pdf"));
    form->print_dialog = [&pdf](QPrinter &p) {
        p.setOutputFormat(QPrinter::PdfFormat);
        p.setOutputFileName(pdf);
        return true;
    };
    form->findChild<QAction *>(QStringLiteral("Popup2Print"))->trigger();
    QProcess text;
    text.start(QStringLiteral("pdftotext"),
               {QStringLiteral("-enc"), QStringLiteral("UTF-8"), pdf, QStringLiteral("-")});
    ASSERT_TRUE(text.waitForFinished(60000));
    const QString out = QString::fromUtf8(text.readAllStandardOutput());
    EXPECT_TRUE(out.contains(QStringLiteral("云杉札记打印内容 Printed body"))) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("第二段")));
    QProcess info;
    info.start(QStringLiteral("pdfinfo"), {pdf});
    ASSERT_TRUE(info.waitForFinished(60000));
    EXPECT_TRUE(QString::fromUtf8(info.readAllStandardOutput()).contains(QStringLiteral("打印的笔记")));

    // Cancelled: nothing printed.
    QFile::remove(pdf);
    form->print_dialog = [](QPrinter &) { return false; };
    form->commands().action("N44")->trigger();
    EXPECT_FALSE(QFile::exists(pdf));
}

TEST_F(EditorWindowTest, SelectionFontAndDefaultFontKeptForTheNextStart)
{
    add_note(1, QStringLiteral("字体"), QStringLiteral("字体测试文字"));
    show_section(0);
    open_entry(0);
    form->note.is_rtf = BodyKind::Plain;
    QFont chosen(QStringLiteral("DejaVu Serif"));
    chosen.setPointSize(18);
    // Without a selection the dialog shows, the choice is not applied.
    dialogs.expect_font(chosen, Qt::blue);
    form->commands().button("SpeedButton10")->click();
    EXPECT_EQ(form->note.is_rtf, BodyKind::Plain);
    select(0, 2);
    dialogs.expect_font(chosen, Qt::blue);
    form->commands().button("SpeedButton10")->click();
    EXPECT_EQ(form->note.is_rtf, BodyKind::Rtf);
    EXPECT_EQ(form->panel(4), QStringLiteral("RTF"));
    EXPECT_EQ(format_at(0).fontPointSize(), 18);
    EXPECT_EQ(format_at(0).foreground().color(), QColor(Qt::blue));
    EXPECT_NE(format_at(3).fontPointSize(), 18);
    // The dialog starts with the selection's attributes.
    select(0, 2);
    dialogs.expect_font(chosen, Qt::blue, Dialogs::Answer::Cancel);
    form->commands().button("SpeedButton10")->click();
    EXPECT_EQ(dialogs.offered_font().pointSize(), 18);

    QFont editor(QStringLiteral("DejaVu Sans"));
    editor.setPointSize(15);
    dialogs.expect_font(editor, Qt::black);
    form->commands().action("Popup1DefaultFont")->trigger();
    EXPECT_EQ(settings->font_name(), QStringLiteral("DejaVu Sans"));
    EXPECT_EQ(settings->font_size(), QStringLiteral("15"));
    EXPECT_EQ(form->editor_pane()->editor()->font().pointSize(), 15);

    dialogs.verify_done();
    start();
    EXPECT_EQ(form->editor_pane()->editor()->font().family(), QStringLiteral("DejaVu Sans"));
    EXPECT_EQ(form->editor_pane()->editor()->font().pointSize(), 15);
}

TEST_F(EditorWindowTest, PastingABitmapPutsAPictureIntoTheBody)
{
    add_note(1, QStringLiteral("图"), QStringLiteral("前后"));
    show_section(0);
    open_entry(0);
    form->note.is_rtf = BodyKind::Plain;
    QGuiApplication::clipboard()->setText(QStringLiteral("只是文字"));
    form->commands().button("SpeedButton12")->click();
    EXPECT_EQ(form->note.is_rtf, BodyKind::Plain);
    EXPECT_EQ(form->editor_pane()->editor()->toPlainText(), QStringLiteral("前后"));

    QImage shot(30, 20, QImage::Format_RGB32);
    shot.fill(Qt::green);
    QGuiApplication::clipboard()->setImage(shot);
    QTextCursor c = form->editor_pane()->editor()->textCursor();
    c.setPosition(1);
    form->editor_pane()->editor()->setTextCursor(c);
    form->commands().button("SpeedButton12")->click();
    EXPECT_EQ(form->note.is_rtf, BodyKind::Rtf);
    EXPECT_EQ(form->panel(4), QStringLiteral("RTF"));
    const QString text = form->editor_pane()->editor()->toPlainText();
    EXPECT_EQ(text, QStringLiteral("前") + QChar(QChar::ObjectReplacementCharacter) + QStringLiteral("后"));
    EXPECT_TRUE(write_rtf(*form->editor_pane()->editor()->document()).contains("\\pict"));

    // Ctrl+V in the editor does the same.
    form->editor_pane()->editor()->setFocus();
    QTest::keyClick(form->editor_pane()->editor(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(form->editor_pane()->editor()->toPlainText().count(QChar(QChar::ObjectReplacementCharacter)), 2);
    QGuiApplication::clipboard()->clear();
}

TEST_F(EditorWindowTest, StatusCountersAndLinks)
{
    add_note(1, QStringLiteral("链接"), QStringLiteral("https://example.org/x\nfile:///usr/bin/xterm\n第三行"));
    show_section(0);
    QTextEdit *e = form->editor_pane()->editor();
    QSignalSpy edits(e, &QTextEdit::textChanged);
    open_entry(0);
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    // Links show as links in the opened note; that look is no edit of the body.
    const qsizetype edits_on_opening = edits.count();
    QCoreApplication::processEvents();
    EXPECT_EQ(edits.count(), edits_on_opening);
    EXPECT_FALSE(e->document()->firstBlock().layout()->formats().isEmpty());
    EXPECT_FALSE(write_rtf(*e->document()).contains("\\ul"));
    e->moveCursor(QTextCursor::End);
    e->insertPlainText(QStringLiteral("a"));
    EXPECT_EQ(form->panel(1), QStringLiteral("字数:") + QString::number(e->document()->characterCount() - 1));

    const auto point_of = [e](int block, int offset) {
        QTextCursor c(e->document()->findBlockByNumber(block));
        c.setPosition(c.position() + offset);
        const QRect r = e->cursorRect(c);
        return QPoint(r.left() + 3, r.center().y());
    };
    QTest::mouseClick(e->viewport(), Qt::LeftButton, {}, point_of(2, 0));
    EXPECT_EQ(form->panel(2), QStringLiteral("行:3 列:0"));
    select(1, 4);
    EXPECT_EQ(form->panel(3), QStringLiteral("选中:3"));

    QTest::mouseClick(e->viewport(), Qt::LeftButton, {}, point_of(0, 10));
    EXPECT_EQ(opened, QStringList{QStringLiteral("https://example.org/x")});
    dialogs.expect_message(QStringLiteral("只能打开网页和邮件地址，此链接没有打开：file:///usr/bin/xterm"));
    QTest::mouseClick(e->viewport(), Qt::LeftButton, {}, point_of(1, 10));
    dialogs.verify_done();
    EXPECT_EQ(opened.size(), 1);
    QTest::mouseClick(e->viewport(), Qt::LeftButton, {}, point_of(2, 1));
    EXPECT_EQ(opened.size(), 1);
}

// A long note opens with only its top laid out and given the link look: no pass over the whole
// body. Blocks get the look when they come into view and again when they are edited, and none of
// it is an edit of the note.
TEST_F(EditorWindowTest, LongNoteShowsLinksAsTheyComeIntoViewAndAsTheyAreEdited)
{
    QStringList lines;
    for (int i = 0; i < 600; ++i)
        lines << QStringLiteral("第%1行，会议记录和讨论的内容。").arg(i);
    lines.first() = QStringLiteral("开头 https://example.org/top 之后");
    lines.last() = QStringLiteral("结尾 www.example.com/end 之后");
    add_note(1, QStringLiteral("长笔记"), lines.join(QLatin1Char('\n')));
    add_note(1, QStringLiteral("短笔记"), QStringLiteral("短"));
    form->resize(900, 600);
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    show_section(0);
    open_entry(0);
    QTextEdit *e = form->editor_pane()->editor();
    e->viewport()->repaint();
    QTextDocument *doc = e->document();
    const QTextBlock top = doc->firstBlock();
    const QTextBlock end = doc->lastBlock();
    const auto link_ranges = [](const QTextBlock &b) {
        QList<std::pair<int, int>> out;
        for (const QTextLayout::FormatRange &r : b.layout()->formats())
            if (r.format.fontUnderline())
                out.append({r.start, r.length});
        return out;
    };
    using Ranges = QList<std::pair<int, int>>;
    EXPECT_EQ(link_ranges(top), (Ranges{{3, 23}}));
    EXPECT_EQ(end.layout()->lineCount(), 0); // not laid out yet
    EXPECT_TRUE(link_ranges(end).isEmpty());
    EXPECT_FALSE(form->save_enabled());

    // The end comes into view: its link gets the look; the caret and the text stay as they were.
    e->moveCursor(QTextCursor::End);
    e->viewport()->repaint();
    EXPECT_EQ(link_ranges(end), (Ranges{{3, 19}}));
    EXPECT_FALSE(form->save_enabled());

    // Edited, the link's look follows the text at once.
    QTextCursor c(end);
    c.setPosition(end.position() + 10);
    c.insertText(QStringLiteral(" "));
    EXPECT_EQ(link_ranges(end), (Ranges{{3, 7}}));
    EXPECT_TRUE(form->save_enabled());
    doc->undo();
    EXPECT_EQ(link_ranges(end), (Ranges{{3, 19}}));
    EXPECT_FALSE(write_rtf(*doc).contains("\\ul"));

    // Another note and back: the long one opens afresh, its top with its look.
    form->note.title_mark = ChangeMark::Unchanged;
    form->note.body_mark = ChangeMark::Unchanged;
    form->set_save_enabled(false);
    open_entry(1);
    open_entry(0);
    e->viewport()->repaint();
    EXPECT_EQ(link_ranges(e->document()->firstBlock()), (Ranges{{3, 23}}));
    EXPECT_FALSE(form->save_enabled());
}

TEST_F(EditorWindowTest, MovingANoteThroughThePanel)
{
    const auto button = [this](const char *name) { return form->findChild<QToolButton *>(QString::fromLatin1(name)); };
    const int id = add_note(1, QStringLiteral("要移动的"), QStringLiteral("正文"));
    add_note(1, QStringLiteral("别的"), QStringLiteral("正文"));
    show_section(0);

    dialogs.expect_message(QStringLiteral("请先选中一个要移动的笔记。"));
    form->commands().action("N71")->trigger();
    dialogs.verify_done();
    EXPECT_FALSE(form->move_panel()->isVisibleTo(form.get()));

    open_entry(0);
    form->findChild<QAction *>(QStringLiteral("Popup2Move"))->trigger();
    EXPECT_TRUE(form->move_panel()->isVisibleTo(form.get()));
    EXPECT_EQ(form->move_panel()->note_text(), QStringLiteral("要移动的"));
    EXPECT_EQ(form->move_panel()->source(), QStringLiteral("甲类"));

    dialogs.expect_message(QStringLiteral("当前大类与小类没有变化，无需移动。"));
    button("Button4")->click();
    dialogs.verify_done();
    // Opening another note does not change which note moves.
    open_entry(1);
    // The target is picked in the ordinary lists.
    form->catalogue_pane()->minor_list()->setCurrentRow(1);
    form->open_minor_category();
    button("Button4")->click();
    EXPECT_FALSE(form->move_panel()->isVisibleTo(form.get()));
    ASSERT_EQ(form->note_list_model()->note_ids(), QList<int>{id});
    EXPECT_EQ(form->store.get_first_string(QStringLiteral("select classId||'/'||sectionId from title where noteId=") +
                                           QString::number(id)),
              QStringLiteral("2/2"));
    test::expect_mirror_identical(form->store);
    EXPECT_TRUE(form->store.changed());

    // A target deleted meanwhile is refused and nothing is written.
    show_section(1);
    open_entry(0);
    form->commands().action("N71")->trigger();
    form->catalogue_pane()->minor_list()->clear();
    form->catalogue_pane()->minor_list()->addItems({QStringLiteral("甲类"), QStringLiteral("已删除")});
    form->catalogue_pane()->minor_list()->setCurrentRow(1);
    dialogs.expect_message(QStringLiteral("目的小类已不存在，请重新选择。"));
    button("Button4")->click();
    EXPECT_TRUE(form->move_panel()->isVisibleTo(form.get()));
    button("Button5")->click();
    EXPECT_FALSE(form->move_panel()->isVisibleTo(form.get()));
    EXPECT_EQ(form->store.get_first_string(QStringLiteral("select classId||'/'||sectionId from title where noteId=") +
                                           QString::number(id)),
              QStringLiteral("2/2"));
}

} // namespace
} // namespace yunshan
