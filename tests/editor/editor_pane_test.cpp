// The editor pane on its own, without the main window: find next, the headings list and the
// jump to a heading, the hint of a long heading, and the signals for links, the caret, the
// selection and changes of the body; the headings list's height, red mark and hint.
#include "app/ui/editor_pane.h"

#include "support/red_pixels.h"

#include <gtest/gtest.h>

#include <QHelpEvent>
#include <QListWidget>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QToolTip>

namespace yunshan {
namespace {

QFont pane_font()
{
    QFont f;
    f.setPixelSize(16);
    return f;
}

// A point inside character `offset` of paragraph `block` of the editor's viewport.
QPoint point_of(QTextEdit *e, int block, int offset)
{
    QTextCursor c(e->document()->findBlockByNumber(block));
    c.setPosition(c.position() + offset);
    const QRect r = e->cursorRect(c);
    return QPoint(r.left() + 3, r.center().y());
}

TEST(EditorPaneAlone, NamesItsWidgets)
{
    EditorPane pane(pane_font());
    EXPECT_EQ(pane.findChild<QTextEdit *>(QStringLiteral("RichEdit1")), pane.editor());
    EXPECT_EQ(pane.editor()->accessibleName(), QStringLiteral("笔记内容"));
    EXPECT_EQ(pane.headings_list()->objectName(), QStringLiteral("ListBox4"));
    EXPECT_EQ(pane.headings_list()->accessibleName(), QStringLiteral("小标题列表"));
}

TEST(EditorPaneAlone, FindNextSelectsEachFurtherMatchAndStopsAtTheEnd)
{
    EditorPane pane(pane_font());
    pane.editor()->setPlainText(QStringLiteral("Alpha beta\nALPHA 阿尔法 alpha"));
    struct Step {
        bool found;
        int start; // selection start afterwards
    };
    for (const Step &s : {Step{true, 0}, Step{true, 11}, Step{true, 21}, Step{false, 21}}) {
        EXPECT_EQ(pane.find_next(QStringLiteral("alpha")), s.found);
        EXPECT_EQ(pane.editor()->textCursor().selectionStart(), s.start);
    }
    EXPECT_EQ(pane.editor()->textCursor().selectedText(), QStringLiteral("alpha"));
    EXPECT_FALSE(pane.find_next(QString()));
    EXPECT_FALSE(pane.find_next(QStringLiteral("gamma")));
}

TEST(EditorPaneAlone, HeadingsAreFilledFromTheBodyAndAClickJumpsToTheLine)
{
    EditorPane pane(pane_font());
    pane.resize(400, 300);
    pane.show();
    QListWidget *l = pane.headings_list();
    l->resize(200, 200);
    l->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(l));
    QSignalSpy clicked(&pane, &EditorPane::headingClicked);
    pane.editor()->setPlainText(QStringLiteral("前言里提到 word 一次\n  # word  \n正文\n x# 不是标题\n#无空格"));
    EXPECT_FALSE(pane.headings_filled());
    pane.fill_headings();
    ASSERT_EQ(l->count(), 2);
    EXPECT_EQ(l->item(0)->text(), QStringLiteral("# word"));
    EXPECT_EQ(l->item(1)->text(), QStringLiteral("#无空格"));
    EXPECT_TRUE(pane.jump_to_selected_heading()); // nothing selected: nothing moves

    QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, l->visualItemRect(l->item(1)).center());
    EXPECT_EQ(clicked.count(), 1);
    EXPECT_TRUE(pane.jump_to_selected_heading());
    EXPECT_EQ(pane.editor()->textCursor().selectedText(), QStringLiteral("#无空格"));
    // The first occurrence of the word after the blank, here in the preface.
    l->setCurrentRow(0);
    EXPECT_TRUE(pane.jump_to_selected_heading());
    EXPECT_EQ(pane.editor()->textCursor().selectionStart(), 6);

    // A heading no longer in the body: the caret goes to the top.
    pane.editor()->setPlainText(QStringLiteral("别的内容"));
    EXPECT_FALSE(pane.jump_to_selected_heading());
    EXPECT_EQ(pane.editor()->textCursor().position(), 0);
    EXPECT_FALSE(pane.editor()->textCursor().hasSelection());
    pane.clear_headings();
    EXPECT_FALSE(pane.headings_filled());
}

TEST(EditorPaneAlone, HintOnlyForAHeadingWiderThanTheList)
{
    EditorPane pane(pane_font());
    pane.resize(400, 300);
    pane.show();
    QListWidget *l = pane.headings_list();
    l->resize(120, 200);
    l->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(l));
    const QString long_heading = QStringLiteral("# 这是一个很长很长很长很长很长的小标题");
    l->addItems({QStringLiteral("# 短"), long_heading});
    const QPoint on_short = l->visualItemRect(l->item(0)).center();
    const QPoint on_long = l->visualItemRect(l->item(1)).center();
    int hint_row = -1;
    pane.track_heading_hint(on_long, hint_row);
    EXPECT_EQ(hint_row, 1);
    EXPECT_EQ(pane.heading_hint(), long_heading);
    pane.track_heading_hint(on_short, hint_row);
    EXPECT_EQ(hint_row, 0);
    EXPECT_EQ(pane.heading_hint(), QString());
    pane.track_heading_hint(on_long, hint_row);
    pane.track_heading_hint(QPoint(-1, -1), hint_row); // the pointer left
    EXPECT_EQ(pane.heading_hint(), QString());
    // Back on the armed row: the hint is not armed again.
    pane.track_heading_hint(on_long, hint_row);
    EXPECT_EQ(pane.heading_hint(), QString());

    QSignalSpy moved(&pane, &EditorPane::headingsPointerMoved);
    QMouseEvent move(QEvent::MouseMove, on_short, l->viewport()->mapToGlobal(on_short), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(l->viewport(), &move);
    ASSERT_FALSE(moved.isEmpty());
    EXPECT_EQ(moved.last().at(0).toPoint(), on_short);
}

TEST(EditorPaneAlone, ClicksAndEditsAreReportedAsSignals)
{
    EditorPane pane(pane_font());
    pane.resize(500, 300);
    pane.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&pane));
    QTextEdit *e = pane.editor();
    QSignalSpy changed(&pane, &EditorPane::bodyChanged);
    QSignalSpy links(&pane, &EditorPane::linkClicked);
    QSignalSpy caret(&pane, &EditorPane::caretPressed);
    QSignalSpy selection(&pane, &EditorPane::selectionLengthChanged);

    e->setPlainText(QStringLiteral("https://example.org/x\n普通文字\n第三行"));
    EXPECT_EQ(changed.count(), 1);
    QCoreApplication::processEvents(); // the link look is drawn: no change of the body
    EXPECT_EQ(changed.count(), 1);

    QTest::mouseClick(e->viewport(), Qt::LeftButton, {}, point_of(e, 0, 10));
    ASSERT_EQ(links.count(), 1);
    EXPECT_EQ(links.at(0).at(0).toString(), QStringLiteral("https://example.org/x"));
    ASSERT_EQ(caret.count(), 1);
    EXPECT_EQ(caret.at(0).at(0).toString(), QStringLiteral("行:1 列:10"));
    QTest::mouseClick(e->viewport(), Qt::LeftButton, {}, point_of(e, 2, 1));
    EXPECT_EQ(caret.last().at(0).toString(), QStringLiteral("行:3 列:1"));
    EXPECT_EQ(links.count(), 1); // no link there
    // A drag over the link selects text and opens nothing.
    QTest::mousePress(e->viewport(), Qt::LeftButton, {}, point_of(e, 0, 2));
    QTest::mouseMove(e->viewport(), point_of(e, 0, 15));
    QTest::mouseRelease(e->viewport(), Qt::LeftButton, {}, point_of(e, 0, 15));
    EXPECT_EQ(links.count(), 1);

    QTextCursor c(e->document()->findBlockByNumber(1));
    c.movePosition(QTextCursor::Right, QTextCursor::KeepAnchor, 2);
    e->setTextCursor(c);
    ASSERT_FALSE(selection.isEmpty());
    EXPECT_EQ(selection.last().at(0).toString(), QStringLiteral("选中:2"));

    changed.clear();
    e->moveCursor(QTextCursor::End);
    QTest::keyClicks(e, QStringLiteral("ab"));
    EXPECT_EQ(changed.count(), 2);
    EXPECT_TRUE(e->toPlainText().endsWith(QStringLiteral("第三行ab")));
}

TEST(EditorPaneAlone, BoldAndRedChangeOnlyASelection)
{
    EditorPane pane(pane_font());
    QTextEdit *e = pane.editor();
    e->setPlainText(QStringLiteral("粗体和红色"));
    EXPECT_FALSE(pane.toggle_bold());
    EXPECT_FALSE(pane.toggle_red());
    QTextCursor c(e->document());
    c.movePosition(QTextCursor::Right, QTextCursor::KeepAnchor, 2);
    e->setTextCursor(c);
    EXPECT_TRUE(pane.toggle_bold());
    EXPECT_TRUE(pane.toggle_red());
    QTextCursor probe(e->document());
    probe.setPosition(1);
    EXPECT_EQ(probe.charFormat().fontWeight(), QFont::Bold);
    EXPECT_EQ(probe.charFormat().foreground().color(), QColor(255, 0, 0));
}

// The headings list drawn and hinted by the pane's own delegate.
class EditorPaneHeadings : public ::testing::Test {
  protected:
    void SetUp() override
    {
        pane.set_list_metrics(20, 26);
        pane.resize(400, 300);
        pane.show();
        list()->resize(140, 200);
        list()->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(list()));
        list()->addItems({QStringLiteral("# 预算 word"), long_heading});
    }
    QListWidget *list() const { return pane.headings_list(); }
    QRect entry(int row) const { return list()->visualItemRect(list()->item(row)); }
    // Pixels of entry `row` drawn in the search mark's red.
    int red_pixels(int row) const { return test::red_pixels(list()->viewport(), entry(row)); }
    // Asks the list for the hint of entry `row`, as the pointer resting there does.
    void ask_hint(int row) const
    {
        QHelpEvent help(QEvent::ToolTip, entry(row).center(), list()->viewport()->mapToGlobal(entry(row).center()));
        QCoreApplication::sendEvent(list()->viewport(), &help);
    }

    const QString long_heading = QStringLiteral("# 很长很长很长很长很长很长很长的小标题");
    EditorPane pane{pane_font()};
};

TEST_F(EditorPaneHeadings, EntriesTakeTheListHeight)
{
    EXPECT_EQ(entry(0).height(), 26);
    EXPECT_EQ(entry(1).top(), 26);
}

TEST_F(EditorPaneHeadings, AHeadingHoldingTheMatchIsDrawnRed)
{
    const struct {
        const char *match;
        bool first_red;
        bool second_red;
    } cases[] = {
        {"", false, false},    {"word", true, false},        {"WORD", false, false}, // letter case counts
        {"很长", false, true}, {"小标题以外", false, false},
    };
    for (const auto &c : cases) {
        pane.set_match(QString::fromUtf8(c.match));
        EXPECT_EQ(red_pixels(0) > 10, c.first_red) << c.match;
        EXPECT_EQ(red_pixels(1) > 10, c.second_red) << c.match;
    }
}

TEST_F(EditorPaneHeadings, HintOnlyForTheArmedHeading)
{
    // A hint goes away a moment after it was taken back.
    const auto none = [] { return QTest::qWaitFor([] { return !QToolTip::isVisible(); }, 3000); };
    int hint_row = -1;
    ask_hint(1);
    EXPECT_TRUE(none()); // nothing armed
    pane.track_heading_hint(entry(1).center(), hint_row);
    ask_hint(1);
    ASSERT_TRUE(QToolTip::isVisible());
    EXPECT_EQ(QToolTip::text(), long_heading);
    ask_hint(0);
    EXPECT_TRUE(none());
    // The short heading armed: no hint anywhere.
    pane.track_heading_hint(entry(0).center(), hint_row);
    ask_hint(0);
    EXPECT_TRUE(none());
    ask_hint(1);
    EXPECT_TRUE(none());
}

} // namespace
} // namespace yunshan
