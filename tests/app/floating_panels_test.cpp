// The main window's floating panels on their own, without the window.
#include "app/ui/move_panel.h"
#include "app/ui/progress_panel.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

namespace yunshan {
namespace {

TEST(MovePanelTest, ShowsTheNoteAndItsSourceAndSignalsItsButtons)
{
    QWidget window;
    MovePanel panel(&window);
    window.show();
    EXPECT_FALSE(panel.isVisible());
    EXPECT_EQ(panel.title(), QStringLiteral("移动笔记到"));
    EXPECT_EQ(panel.findChild<QLabel *>(QStringLiteral("LabelMovePrompt"))->text(),
              QStringLiteral("请选择一个目的大类和小类后点击确定"));

    panel.show_for(QStringLiteral("要移动的"), QStringLiteral("甲类"));
    EXPECT_TRUE(panel.isVisible());
    EXPECT_EQ(panel.note_text(), QStringLiteral("要移动的"));
    EXPECT_EQ(panel.source(), QStringLiteral("甲类"));
    EXPECT_EQ(panel.findChild<QLabel *>(QStringLiteral("LabelMoveNote"))->text(), QStringLiteral("要移动的"));
    EXPECT_EQ(panel.findChild<QLabel *>(QStringLiteral("LabelMoveSource"))->text(), QStringLiteral("甲类"));

    QSignalSpy confirmed(&panel, &MovePanel::confirmed);
    QSignalSpy cancelled(&panel, &MovePanel::cancelled);
    auto *ok = panel.findChild<QToolButton *>(QStringLiteral("Button4"));
    auto *cancel = panel.findChild<QToolButton *>(QStringLiteral("Button5"));
    ASSERT_TRUE(ok && cancel);
    EXPECT_EQ(ok->text(), QStringLiteral("确定"));
    EXPECT_EQ(cancel->text(), QStringLiteral("取消"));
    ok->click();
    EXPECT_EQ(confirmed.count(), 1);
    EXPECT_EQ(cancelled.count(), 0);
    cancel->click();
    EXPECT_EQ(confirmed.count(), 1);
    EXPECT_EQ(cancelled.count(), 1);
    // Hiding is the window's answer to the signals, not the panel's own.
    EXPECT_TRUE(panel.isVisible());
}

TEST(ProgressPanelTest, ShowsItsLinesAndItsXAsksToClose)
{
    QWidget window;
    ProgressPanel panel(&window);
    window.show();
    EXPECT_FALSE(panel.isVisible());
    EXPECT_EQ(panel.title(), QStringLiteral("进度 可按 ESC 键退出"));
    EXPECT_EQ(panel.speed_line(), QStringLiteral("速度"));

    panel.show_line(QStringLiteral("正在压缩数据……"));
    EXPECT_TRUE(panel.isVisible());
    EXPECT_EQ(panel.line(), QStringLiteral("正在压缩数据……"));
    EXPECT_EQ(panel.findChild<QLabel *>(QStringLiteral("Label8"))->text(), QStringLiteral("正在压缩数据……"));
    panel.set_speed_line(QStringLiteral("传输速度：1.00MB/秒"));
    EXPECT_EQ(panel.findChild<QLabel *>(QStringLiteral("Label10"))->text(), QStringLiteral("传输速度：1.00MB/秒"));

    const QString why = QStringLiteral("从网盘下载失败：连接不上服务器。");
    panel.set_reason(why);
    auto *speed = panel.findChild<QLabel *>(QStringLiteral("Label10"));
    EXPECT_EQ(speed->text(), why);
    EXPECT_EQ(speed->toolTip(), why);
    EXPECT_TRUE(speed->wordWrap());

    QSignalSpy close(&panel, &ProgressPanel::closeRequested);
    auto *x = panel.findChild<QLabel *>(QStringLiteral("Label9"));
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(x->text(), QStringLiteral("X"));
    EXPECT_EQ(x->accessibleName(), QStringLiteral("关闭进度面板"));
    QTest::mouseClick(x, Qt::LeftButton);
    EXPECT_EQ(close.count(), 1);
    // A press alone is no click.
    QTest::mousePress(x, Qt::LeftButton);
    EXPECT_EQ(close.count(), 1);
    QTest::mouseRelease(x, Qt::LeftButton);
    EXPECT_EQ(close.count(), 2);
    EXPECT_TRUE(panel.isVisible());
}

} // namespace
} // namespace yunshan
