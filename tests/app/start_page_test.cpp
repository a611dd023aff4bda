#include "app/start_page.h"
#include "editor/editor_tools.h"

#include <gtest/gtest.h>

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

using namespace yunshan;

namespace {
QTextCharFormat format_at(QTextDocument &doc, int pos)
{
    QTextCursor c(&doc);
    c.setPosition(pos + 1); // the format of the character before the cursor
    return c.charFormat();
}
QString text_of(QTextDocument &doc, int from, int to_inclusive)
{
    QTextCursor c(&doc);
    c.setPosition(from);
    c.setPosition(to_inclusive + 1, QTextCursor::KeepAnchor);
    return c.selectedText();
}
} // namespace

TEST(StartPage, ThirteenLinesWithThreeFormattedRanges)
{
    QTextDocument doc;
    doc.setPlainText(QStringLiteral("old content"));
    fill_start_page(doc);
    EXPECT_EQ(doc.blockCount(), 13);
    EXPECT_EQ(doc.firstBlock().text(), QStringLiteral("欢迎使用云杉札记"));
    EXPECT_TRUE(doc.findBlockByNumber(4).text().startsWith(QStringLiteral("  防止")));
    EXPECT_TRUE(doc.findBlockByNumber(6).text().startsWith(QStringLiteral("    一份")));
    EXPECT_TRUE(doc.findBlockByNumber(9).text().startsWith(QStringLiteral("   “加密")));
    EXPECT_TRUE(doc.lastBlock().text().startsWith(QStringLiteral("有任何意见建议可以发邮件：")));
    EXPECT_TRUE(doc.lastBlock().text().contains(QLatin1Char('@')));

    EXPECT_EQ(text_of(doc, 4, 7), QStringLiteral("云杉札记"));
    EXPECT_EQ(text_of(doc, 40, 43), QStringLiteral("图文混排"));
    EXPECT_EQ(text_of(doc, 216, 217), QStringLiteral("加密"));

    struct Expect {
        int pos;
        bool bold;
        bool red;
        double size;
    };
    const Expect cases[] = {
        {3, false, false, 0},   {4, true, false, 14}, {7, true, false, 14}, {8, false, false, 0},
        {39, false, false, 0},  {40, false, true, 0}, {43, false, true, 0}, {44, false, false, 0},
        {215, false, false, 0}, {216, true, true, 0}, {217, true, true, 0}, {218, false, false, 0},
    };
    for (const auto &e : cases) {
        const QTextCharFormat f = format_at(doc, e.pos);
        EXPECT_EQ(f.fontWeight() >= QFont::Bold, e.bold) << e.pos;
        EXPECT_EQ(f.foreground().style() != Qt::NoBrush && f.foreground().color() == QColor(255, 0, 0), e.red) << e.pos;
        if (e.size > 0) {
            EXPECT_EQ(f.fontPointSize(), e.size) << e.pos;
        }
    }
    // The first "加密" of line 9 is the one formatted.
    EXPECT_EQ(doc.findBlockByNumber(8).position() + doc.findBlockByNumber(8).text().indexOf(QStringLiteral("加密")),
              216);
}

TEST(EditorTools, TogglesNeedASelectionAndFlipBack)
{
    QTextDocument doc;
    doc.setPlainText(QStringLiteral("abc"));
    QTextCursor none(&doc);
    EXPECT_FALSE(toggle_bold(none));
    EXPECT_FALSE(toggle_red(none));

    QTextCursor sel(&doc);
    sel.setPosition(0);
    sel.setPosition(2, QTextCursor::KeepAnchor);
    ASSERT_TRUE(toggle_bold(sel));
    EXPECT_EQ(format_at(doc, 1).fontWeight(), QFont::Bold);
    EXPECT_NE(format_at(doc, 2).fontWeight(), QFont::Bold);
    ASSERT_TRUE(toggle_bold(sel));
    EXPECT_NE(format_at(doc, 0).fontWeight(), QFont::Bold);

    ASSERT_TRUE(toggle_red(sel));
    EXPECT_EQ(format_at(doc, 0).foreground().color(), QColor(255, 0, 0));
    ASSERT_TRUE(toggle_red(sel));
    EXPECT_EQ(format_at(doc, 0).foreground().color(), QColor(0, 0, 0));
}
