// Headings, links, status counters, the editor font as stored, and printing to a PDF file.
#include "editor/editor_tools.h"
#include "editor/headings.h"
#include "editor/links.h"
#include "editor/print.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <QFont>
#include <QPdfWriter>
#include <QProcess>
#include <QTextCursor>
#include <QTextDocument>

namespace yunshan {
namespace {

TEST(Headings, LinesStartingWithHashAfterTrimming)
{
    const QString body = QStringLiteral("  # 第一章  \n"
                                        "正文 #不是\n"
                                        "\t#二\r\n"
                                        "x#no\n"
                                        "##  \n"
                                        "段落\u2028# 换行后\n"
                                        "#");
    EXPECT_EQ(heading_lines(body), (QStringList{QStringLiteral("# 第一章"), QStringLiteral("#二"), QStringLiteral("##"),
                                                QStringLiteral("# 换行后"), QStringLiteral("#")}));
    EXPECT_TRUE(heading_lines(QString()).isEmpty());
}

TEST(Headings, SearchKeyIsTheTextAfterTheFirstBlank)
{
    struct Case {
        QString heading, key;
    };
    const std::vector<Case> cases = {
        {QStringLiteral("# word"), QStringLiteral("word")},
        {QStringLiteral("#无空格"), QStringLiteral("#无空格")},
        {QStringLiteral("# two words here"), QStringLiteral("two words here")},
        {QStringLiteral("# ") + QString(300, QLatin1Char('a')), QString(255, QLatin1Char('a'))},
        {QString(300, QLatin1Char('#')), QString(255, QLatin1Char('#'))},
    };
    for (const Case &c : cases)
        EXPECT_EQ(heading_search_key(c.heading), c.key) << c.heading.toStdString();
    EXPECT_EQ(heading_entry_text(0, QStringLiteral("# 一")), QStringLiteral("1 # 一"));
}

TEST(Headings, RedOnlyWithTheHighlightAndTheExactText)
{
    EXPECT_TRUE(heading_in_red(QStringLiteral("# Plan A"), QStringLiteral("Plan"), true));
    EXPECT_FALSE(heading_in_red(QStringLiteral("# Plan A"), QStringLiteral("plan"), true));
    EXPECT_FALSE(heading_in_red(QStringLiteral("# Plan A"), QStringLiteral("Plan"), false));
    EXPECT_FALSE(heading_in_red(QStringLiteral("# Plan A"), QString(), true));
}

TEST(Links, OnlyWebAndMailAddressesOpen)
{
    struct Case {
        QString link;
        QString opened; // empty: refused
    };
    const std::vector<Case> cases = {
        {QStringLiteral("http://example.org/a?b=1"), QStringLiteral("http://example.org/a?b=1")},
        {QStringLiteral("HTTPS://example.org"), QStringLiteral("https://example.org")},
        {QStringLiteral("www.example.org"), QStringLiteral("http://www.example.org")},
        {QStringLiteral("mailto:someone@example.org"), QStringLiteral("mailto:someone@example.org")},
        {QStringLiteral("file:///usr/bin/xterm"), {}},
        {QStringLiteral("file://C:/Windows/system32/calc.exe"), {}},
        {QStringLiteral("ftp://example.org/x"), {}},
        {QStringLiteral("telnet://example.org"), {}},
        {QStringLiteral("http://"), {}},
        {QStringLiteral("mailto:"), {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.link.toStdString());
        const auto url = openable_link(c.link);
        EXPECT_EQ(url.has_value(), !c.opened.isEmpty());
        if (url) {
            EXPECT_EQ(url->toString(), c.opened);
        }
    }
    EXPECT_EQ(link_refused_text(QStringLiteral("file:///x")),
              QStringLiteral("只能打开网页和邮件地址，此链接没有打开：file:///x"));
}

TEST(Links, TheLinkUnderAPosition)
{
    const QString line = QStringLiteral("见 https://example.org/页 和 file:///etc/passwd 还有 www.a.cn。");
    EXPECT_EQ(link_at(line, 2), QStringLiteral("https://example.org/页"));
    EXPECT_EQ(link_at(line, 10), QStringLiteral("https://example.org/页"));
    EXPECT_EQ(link_at(line, 0), QString());
    EXPECT_EQ(link_at(line, static_cast<int>(line.indexOf(QStringLiteral("passwd")))),
              QStringLiteral("file:///etc/passwd"));
    EXPECT_EQ(link_at(line, static_cast<int>(line.indexOf(QStringLiteral("www")))), QStringLiteral("www.a.cn。"));
}

TEST(StatusCounters, LengthCaretAndSelection)
{
    QTextDocument doc;
    doc.setPlainText(QStringLiteral("第一行\n第二行abc\n"));
    EXPECT_EQ(body_length_text(doc), QStringLiteral("字数:11"));
    QTextCursor c(&doc);
    c.setPosition(4); // start of the second line
    EXPECT_EQ(caret_position_text(c), QStringLiteral("行:2 列:0"));
    c.setPosition(9);
    EXPECT_EQ(caret_position_text(c), QStringLiteral("行:2 列:5"));
    c.setPosition(0);
    EXPECT_EQ(caret_position_text(c), QStringLiteral("行:1 列:0"));
    c.setPosition(11);
    EXPECT_EQ(caret_position_text(c), QStringLiteral("行:3 列:0"));
    c.setPosition(1);
    c.setPosition(6, QTextCursor::KeepAnchor);
    EXPECT_EQ(selection_length_text(c), QStringLiteral("选中:5"));
}

TEST(EditorFont, StoredAsNameAndPoints)
{
    QFont points(QStringLiteral("WenQuanYi Micro Hei"));
    points.setPointSize(14);
    EXPECT_EQ(stored_editor_font(points).name, QStringLiteral("WenQuanYi Micro Hei"));
    EXPECT_EQ(stored_editor_font(points).size, QStringLiteral("14"));
    QFont pixels(QStringLiteral("WenQuanYi Micro Hei"));
    pixels.setPixelSize(16);
    EXPECT_EQ(stored_editor_font(pixels).size, QStringLiteral("12"));
}

TEST(SelectionFont, AppliedOnlyToASelection)
{
    QTextDocument doc;
    doc.setPlainText(QStringLiteral("字体测试"));
    QFont f(QStringLiteral("DejaVu Serif"));
    f.setPointSize(20);
    f.setItalic(true);
    QTextCursor c(&doc);
    EXPECT_FALSE(apply_selection_font(c, f, Qt::blue));
    c.setPosition(1);
    c.setPosition(3, QTextCursor::KeepAnchor);
    EXPECT_TRUE(apply_selection_font(c, f, Qt::blue));
    QTextCursor probe(&doc);
    probe.setPosition(2);
    EXPECT_EQ(probe.charFormat().fontFamilies().toStringList().value(0), QStringLiteral("DejaVu Serif"));
    EXPECT_EQ(probe.charFormat().fontPointSize(), 20);
    EXPECT_TRUE(probe.charFormat().fontItalic());
    EXPECT_EQ(probe.charFormat().foreground().color(), QColor(Qt::blue));
    probe.setPosition(4);
    EXPECT_FALSE(probe.charFormat().fontItalic());
}

QString pdf_text(const QString &pdf)
{
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-enc"), QStringLiteral("UTF-8"), pdf, QStringLiteral("-")});
    EXPECT_TRUE(p.waitForFinished(60000));
    return QString::fromUtf8(p.readAllStandardOutput());
}

TEST(Printing, ThePdfGivesTheTextBackChineseIncludedOnEveryPage)
{
    test::TempFolder dir;
    const QString file = dir.file(QStringLiteral("note.pdf"));
    QTextDocument doc;
    QString body = QStringLiteral("打印测试 Print test 云杉札记\n");
    for (int i = 0; i < 120; ++i)
        body += QStringLiteral("第%1行 line %1\n").arg(i);
    body += QStringLiteral("最后一行");
    doc.setPlainText(body);
    {
        QPdfWriter pdf(file);
        pdf.setTitle(print_document_name(QStringLiteral("我的笔记")));
        QFont font(QStringLiteral("WenQuanYi Micro Hei"));
        font.setPointSize(12);
        print_note(doc, font, pdf);
    }
    const QString text = pdf_text(file);
    EXPECT_TRUE(text.contains(QStringLiteral("打印测试 Print test 云杉札记"))) << text.left(200).toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("第119行")));
    EXPECT_TRUE(text.contains(QStringLiteral("最后一行")));
    EXPECT_GE(text.count(QLatin1Char('\f')), 2);                 // more than one page
    EXPECT_EQ(doc.defaultFont(), QTextDocument().defaultFont()); // the shown body is untouched
}

} // namespace
} // namespace yunshan
