// Find in a body and the search highlight: what the marks change and give back.
#include "editor/find.h"
#include "editor/rtf/rtf.h"

#include <gtest/gtest.h>

#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

namespace yunshan {
namespace {

QTextCharFormat format_at(const QTextDocument &doc, int pos)
{
    QTextCursor c(const_cast<QTextDocument *>(&doc));
    c.setPosition(pos + 1);
    return c.charFormat();
}

bool is_red(const QTextCharFormat &f)
{
    return f.foreground().style() != Qt::NoBrush && f.foreground().color() == QColor(255, 0, 0);
}
bool is_bold(const QTextCharFormat &f)
{
    return f.fontWeight() >= QFont::Bold;
}

void format_range(QTextDocument &doc, int from, int to, const QTextCharFormat &f)
{
    QTextCursor c(&doc);
    c.setPosition(from);
    c.setPosition(to, QTextCursor::KeepAnchor);
    c.mergeCharFormat(f);
}

struct FindCase {
    const char *name;
    QString body;
    int from;    // caret position
    int sel_end; // -1: no selection, else the selection runs from `from` to here
    QString text;
    FindOptions options;
    int found_at; // -1: not found
};

TEST(FindForward, Table)
{
    const std::vector<FindCase> cases = {
        {"ignores case by default", QStringLiteral("Alpha beta ALPHA"), 0, -1, QStringLiteral("alpha"), {}, 0},
        {"starts after the selection", QStringLiteral("Alpha beta ALPHA"), 0, 5, QStringLiteral("alpha"), {}, 11},
        {"no wrap after the last", QStringLiteral("Alpha beta ALPHA"), 12, -1, QStringLiteral("alpha"), {}, -1},
        {"match case", QStringLiteral("Alpha beta ALPHA alpha"), 0, -1, QStringLiteral("alpha"), {true, false}, 17},
        {"match case misses", QStringLiteral("Alpha ALPHA"), 0, -1, QStringLiteral("alpha"), {true, false}, -1},
        {"whole word", QStringLiteral("cats cat"), 0, -1, QStringLiteral("cat"), {false, true}, 5},
        {"Chinese", QStringLiteral("云杉札记，札记"), 3, -1, QStringLiteral("札记"), {}, 5},
        {"empty text", QStringLiteral("abc"), 0, -1, QString(), {}, -1},
    };
    for (const FindCase &c : cases) {
        SCOPED_TRACE(c.name);
        QTextDocument doc;
        doc.setPlainText(c.body);
        QTextCursor cursor(&doc);
        cursor.setPosition(c.from);
        if (c.sel_end >= 0)
            cursor.setPosition(c.sel_end, QTextCursor::KeepAnchor);
        const QTextCursor before = cursor;
        const bool found = find_forward(doc, cursor, c.text, c.options);
        EXPECT_EQ(found, c.found_at >= 0);
        if (found) {
            EXPECT_EQ(cursor.selectionStart(), c.found_at);
            EXPECT_EQ(cursor.selectedText().size(), c.text.size());
        } else {
            EXPECT_EQ(cursor, before); // the selection does not change
        }
    }
}

TEST(SearchHighlight, MarksEveryOccurrenceIncludingTheFirstCharacter)
{
    QTextDocument doc;
    doc.setPlainText(QStringLiteral("Key at the start, key in the middle, KEY"));
    int end = -1;
    EXPECT_EQ(apply_search_highlight(doc, QStringLiteral("key"), &end), 3);
    EXPECT_EQ(end, doc.characterCount() - 1);
    for (int pos : {0, 2, 18, 37, 39}) {
        EXPECT_TRUE(is_red(format_at(doc, pos))) << pos;
        EXPECT_TRUE(is_bold(format_at(doc, pos))) << pos;
    }
    EXPECT_FALSE(is_red(format_at(doc, 3)));
    EXPECT_TRUE(has_search_highlight(doc));
}

TEST(SearchHighlight, NothingFoundLeavesTheBodyAlone)
{
    QTextDocument doc;
    doc.setPlainText(QStringLiteral("abc"));
    int end = -1;
    EXPECT_EQ(apply_search_highlight(doc, QStringLiteral("x"), &end), 0);
    EXPECT_EQ(end, 0);
    EXPECT_FALSE(has_search_highlight(doc));
    EXPECT_FALSE(remove_search_highlight(doc));
}

TEST(SearchHighlight, RemovingGivesBackTheFormatsTheMarksCovered)
{
    // "红字" is red, "粗体" bold, "蓝" blue before the highlight; all contain or are the key.
    QTextDocument doc;
    doc.setPlainText(QStringLiteral("红字 key 粗体key 蓝key 普通key"));
    QTextCharFormat red;
    red.setForeground(QColor(255, 0, 0));
    QTextCharFormat bold;
    bold.setFontWeight(QFont::Bold);
    QTextCharFormat blue;
    blue.setForeground(QColor(0, 0, 255));
    format_range(doc, 0, 6, red);    // 红字 key
    format_range(doc, 7, 12, bold);  // 粗体key
    format_range(doc, 13, 17, blue); // 蓝key
    const QByteArray before = write_rtf(doc);

    EXPECT_EQ(apply_search_highlight(doc, QStringLiteral("KEY")), 4);
    EXPECT_NE(write_rtf(doc), before);
    // Applying again (the button pressed twice by a script) keeps the first remembered formats.
    apply_search_highlight(doc, QStringLiteral("key"));
    EXPECT_TRUE(remove_search_highlight(doc));

    EXPECT_EQ(write_rtf(doc), before);
    EXPECT_TRUE(is_red(format_at(doc, 3)));  // was red: stays red
    EXPECT_TRUE(is_bold(format_at(doc, 9))); // was bold: stays bold
    EXPECT_EQ(format_at(doc, 14).foreground().color(), QColor(0, 0, 255));
    EXPECT_FALSE(is_red(format_at(doc, 21)));
    EXPECT_FALSE(is_bold(format_at(doc, 21)));
    EXPECT_FALSE(format_at(doc, 21).hasProperty(QTextFormat::ForegroundBrush));
    EXPECT_FALSE(has_search_highlight(doc));
}

TEST(SearchHighlight, MarksFollowTheTextThroughEdits)
{
    QTextDocument doc;
    doc.setPlainText(QStringLiteral("one key two"));
    apply_search_highlight(doc, QStringLiteral("key"));
    QTextCursor c(&doc);
    c.setPosition(0);
    c.insertText(QStringLiteral("新的一行\n"));
    remove_search_highlight(doc);
    EXPECT_FALSE(has_search_highlight(doc));
    for (int pos = 0; pos < doc.characterCount() - 1; ++pos) {
        EXPECT_FALSE(is_red(format_at(doc, pos))) << pos;
        EXPECT_FALSE(is_bold(format_at(doc, pos))) << pos;
    }
}

TEST(SearchHighlight, TheStoredCopyCarriesNoMarksAndTheShownBodyKeepsThem)
{
    QTextDocument doc;
    doc.setPlainText(QStringLiteral("保存 关键字 之后 关键字"));
    const QByteArray plain = write_rtf(doc);
    EXPECT_EQ(copy_without_highlight(doc), nullptr); // nothing to take off: store the body itself

    apply_search_highlight(doc, QStringLiteral("关键字"));
    const std::unique_ptr<QTextDocument> stored = copy_without_highlight(doc);
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(write_rtf(*stored), plain);
    EXPECT_EQ(stored->toPlainText(), doc.toPlainText());
    EXPECT_TRUE(has_search_highlight(doc));

    // Read back as a reopened note would be: no red, no bold.
    QTextDocument reopened;
    read_rtf(write_rtf(*stored), reopened);
    for (int pos = 0; pos < reopened.characterCount() - 1; ++pos) {
        EXPECT_FALSE(is_red(format_at(reopened, pos))) << pos;
        EXPECT_FALSE(is_bold(format_at(reopened, pos))) << pos;
    }
}

} // namespace
} // namespace yunshan
