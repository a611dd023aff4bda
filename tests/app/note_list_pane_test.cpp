// The note-list pane on its own, over a model it does not own: no main window, no store.
#include "app/ui/note_list_pane.h"
#include "session/note_list_model.h"

#include "support/red_pixels.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QHelpEvent>
#include <QLabel>
#include <QLayout>
#include <QListView>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QToolTip>

namespace yunshan {
namespace {

QFont list_font()
{
    QFont f;
    f.setPixelSize(16);
    return f;
}

class NoteListPaneTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        pane.set_model(&model);
        pane.set_metrics(20, 26);
        pane.resize(320, 400);
        model.set_rows({{11, 0, 0, QStringLiteral("年度预算")},
                        {12, 0, 0, QStringLiteral("读书")},
                        {13, 0, 1, QStringLiteral("周报")}},
                       QStringLiteral("预算"));
        pane.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&pane));
    }
    QListView *view() const { return pane.note_list_view(); }
    QRect entry(int row) const { return view()->visualRect(model.index(row)); }
    // Pixels of entry `row` drawn in the search mark's red.
    int red_pixels(int row) const { return test::red_pixels(view()->viewport(), entry(row)); }

    NoteListModel model;
    NoteListPane pane{list_font()};
};

TEST_F(NoteListPaneTest, BuildsTheGroupWithItsNamesAndShowsTheModel)
{
    EXPECT_EQ(pane.objectName(), QStringLiteral("GroupBox3"));
    EXPECT_EQ(pane.accessibleName(), QStringLiteral("笔记列表"));
    EXPECT_EQ(pane.findChild<QListView *>(QStringLiteral("ListBox3")), view());
    EXPECT_EQ(view()->accessibleName(), QStringLiteral("笔记列表"));
    EXPECT_EQ(pane.findChild<QTabWidget *>(QStringLiteral("PageControl1")), pane.tabs());
    EXPECT_EQ(pane.tabs()->widget(0), pane.findChild<QWidget *>(QStringLiteral("TabSheet1")));
    EXPECT_EQ(pane.tabs()->widget(1), pane.findChild<QWidget *>(QStringLiteral("TabSheet2")));
    EXPECT_EQ(pane.tabs()->tabText(0), QStringLiteral("笔记列表"));
    EXPECT_EQ(pane.tabs()->tabText(1), QStringLiteral("小标题"));
    for (const char *name : {"Button6", "Button7", "ButtonFavourites"})
        EXPECT_EQ(pane.findChild<QAbstractButton *>(QLatin1String(name))->parentWidget(), pane.notes_page()) << name;
    // The headings list is not the pane's: it shows the one it is given.
    EXPECT_EQ(pane.findChild<QWidget *>(QStringLiteral("ListBox4")), nullptr);
    auto *headings = new QLabel(QStringLiteral("小标题列表"));
    pane.set_headings_page(headings);
    EXPECT_EQ(headings->parentWidget(), pane.headings_page());
    EXPECT_EQ(pane.headings_page()->layout()->indexOf(headings), 0);

    ASSERT_EQ(view()->model()->rowCount(), 3);
    EXPECT_EQ(entry(1).height(), 26);
    EXPECT_EQ(view()->model()->index(2, 0).data(Qt::AccessibleDescriptionRole).toString(),
              QStringLiteral("第3条，已收藏"));
    EXPECT_EQ(pane.current_row(), -1);
}

TEST_F(NoteListPaneTest, UserSelectionIsSignalledTheProgramsIsNot)
{
    QSignalSpy activated(&pane, &NoteListPane::noteActivated);
    QTest::mouseClick(view()->viewport(), Qt::LeftButton, {}, entry(1).center());
    ASSERT_EQ(activated.size(), 1);
    EXPECT_EQ(activated.at(0).at(0).toInt(), 1);
    EXPECT_EQ(pane.selected_row(), 1);

    view()->setFocus();
    QTest::keyClick(view(), Qt::Key_Down);
    ASSERT_EQ(activated.size(), 2);
    EXPECT_EQ(activated.at(1).at(0).toInt(), 2);

    pane.set_current_row(0);
    pane.set_current_row(-1);
    EXPECT_EQ(activated.size(), 2);
    EXPECT_EQ(pane.current_row(), -1);
    EXPECT_EQ(pane.selected_row(), -1);
    pane.set_current_row(2);
    EXPECT_EQ(pane.selected_row(), 2);
    EXPECT_EQ(activated.size(), 2);
}

TEST_F(NoteListPaneTest, ButtonsTabsAndPointerAreSignalled)
{
    const struct {
        const char *button;
        void (NoteListPane::*signal)();
    } buttons[] = {
        {"Button6", &NoteListPane::previousPageClicked},
        {"Button7", &NoteListPane::nextPageClicked},
        {"ButtonFavourites", &NoteListPane::favouritesClicked},
    };
    for (const auto &b : buttons) {
        QSignalSpy spy(&pane, b.signal);
        pane.findChild<QAbstractButton *>(QLatin1String(b.button))->click();
        EXPECT_EQ(spy.size(), 1) << b.button;
    }

    QSignalSpy headings(&pane, &NoteListPane::headingsShown);
    pane.show_tab(1);
    EXPECT_EQ(headings.size(), 1);
    EXPECT_EQ(pane.current_tab(), 1);
    pane.show_tab(0);

    QSignalSpy hint(&pane, &NoteListPane::tabHint);
    QTabBar *bar = pane.tabs()->tabBar();
    QTest::mouseMove(bar, bar->tabRect(1).center());
    ASSERT_FALSE(hint.isEmpty());
    EXPECT_EQ(hint.last().at(0).toString(), QStringLiteral("显示当前笔记内的章节小标题，某行#开头即可自动创建小标题"));

    QSignalSpy moved(&pane, &NoteListPane::mouseMoved);
    QSignalSpy left(&pane, &NoteListPane::mouseLeft);
    QTest::mouseMove(view()->viewport(), entry(2).center());
    ASSERT_FALSE(moved.isEmpty());
    EXPECT_EQ(moved.last().at(0).toPoint(), entry(2).center());
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(view()->viewport(), &leave);
    EXPECT_EQ(left.size(), 1);
}

TEST_F(NoteListPaneTest, HintOnlyForTheArmedEntry)
{
    const auto ask = [this](int row) {
        QHelpEvent help(QEvent::ToolTip, entry(row).center(), view()->viewport()->mapToGlobal(entry(row).center()));
        QCoreApplication::sendEvent(view()->viewport(), &help);
    };
    // A hint goes away a moment after it was taken back.
    const auto none = [] { return QTest::qWaitFor([] { return !QToolTip::isVisible(); }, 3000); };
    ask(0);
    EXPECT_TRUE(none()); // nothing armed
    pane.arm_hint(0, QStringLiteral("年度预算"));
    ask(0);
    ASSERT_TRUE(QToolTip::isVisible());
    EXPECT_EQ(QToolTip::text(), QStringLiteral("年度预算"));
    ask(1);
    EXPECT_TRUE(none());
    ask(0);
    ASSERT_TRUE(QToolTip::isVisible());
    pane.arm_hint(-1, {});
    ask(0);
    EXPECT_TRUE(none());
}

TEST_F(NoteListPaneTest, RedMarkFollowsTheMatchRole)
{
    EXPECT_GT(red_pixels(0), 10); // "预算" in "年度预算"
    EXPECT_EQ(red_pixels(1), 0);
    model.set_match(QStringLiteral("读书"));
    EXPECT_EQ(red_pixels(0), 0);
    EXPECT_GT(red_pixels(1), 10);
    model.set_match({});
    EXPECT_EQ(red_pixels(1), 0);
}

} // namespace
} // namespace yunshan
