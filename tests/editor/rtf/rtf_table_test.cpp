// Tables: read from what the Windows rich-text control and LibreOffice write, written back as RTF
// rows, and read again the same.
#include "editor/rtf/rtf.h"

#include "rtf_test_util.h"

#include <gtest/gtest.h>

#include <QStringDecoder>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextTable>

using namespace yunshan;
using namespace rtftest;

namespace {

// Read, written and read again: the same tables, paragraphs and runs, and a second save gives
// the bytes of the first.
void expect_round_trip(const QTextDocument &doc)
{
    const QByteArray rtf = write_rtf(doc);
    EXPECT_EQ(rtf.count('{'), rtf.count('}'));
    QTextDocument again;
    const RtfReadResult result = read_rtf(rtf, again);
    EXPECT_TRUE(result.warnings.isEmpty()) << result.warnings.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(describe_tables(again).toStdString(), describe_tables(doc).toStdString());
    EXPECT_EQ(again.toPlainText(), doc.toPlainText());
    EXPECT_EQ(again.blockCount(), doc.blockCount());
    expect_same_runs(doc, again);
    EXPECT_EQ(write_rtf(again), rtf);
}

QString top_level_text(const QTextDocument &doc)
{
    QStringList out;
    const QTextFrame *root = doc.rootFrame();
    for (auto it = root->begin(); !it.atEnd(); ++it)
        out << (it.currentFrame() ? QStringLiteral("<table>") : it.currentBlock().text());
    return out.join(QLatin1Char('|'));
}

} // namespace

TEST(RtfTable, RichEditFixture)
{
    QTextDocument doc;
    const RtfReadResult result = read_rtf(fixture(QStringLiteral("richedit_table.rtf")), doc);
    EXPECT_TRUE(result.warnings.isEmpty()) << result.warnings.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(top_level_text(doc), QStringLiteral("表前|<table>|表后|<table>|"));
    // Widths from \trleft-108 and \cellx (1908, 1800, 1800 twips), padding from \trgaph108, borders
    // of 10 twips; a table inside a cell becomes that cell's text, with its \nonesttables paragraph.
    const QString b = QStringLiteral(" borders 0.6667 solid #000000\n");
    EXPECT_EQ(describe_tables(doc),
              QStringLiteral("table 2x3 widths 127.2 120 120 padding 7.2\n") + QStringLiteral("[0,0] \"姓名\"") + b +
                  QStringLiteral("[0,1] \"日期\"") + b + QStringLiteral("[0,2] \"备注\"") + b +
                  QStringLiteral("[1,0] \"张三\"") + b + QStringLiteral("[1,1] \"2024\"") + b +
                  QStringLiteral("[1,2] \"第一行|第二行\"") + b +
                  QStringLiteral("table 2x3 widths 140.5 133.3 133.3 padding 7.2\n") +
                  QStringLiteral("[0,0] 1x2 \"合并\"") + b + QStringLiteral("[0,2] 2x1 \"竖\"") + b +
                  QStringLiteral("[1,0] \"左\"") + b + QStringLiteral("[1,1] \"内一\t内二\t|\"") + b);
    EXPECT_TRUE(run_with(doc, QStringLiteral("姓名")).bold);
    EXPECT_FALSE(run_with(doc, QStringLiteral("日期")).bold);
    EXPECT_EQ(run_with(doc, QStringLiteral("张三")).family, QStringLiteral("宋体"));
    expect_round_trip(doc);
}

TEST(RtfTable, LibreOfficeFixture)
{
    QTextDocument doc;
    const RtfReadResult result = read_rtf(fixture(QStringLiteral("lo_table.rtf")), doc);
    EXPECT_TRUE(result.warnings.isEmpty()) << result.warnings.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(top_level_text(doc), QStringLiteral("表前|<table>|表后"));
    // LibreOffice writes a cell spanning columns as one wide cell: the columns come from the edges
    // of all rows (0, 875, 1256, 2132 twips).
    const QString hair = QStringLiteral("0.06667 solid #808080");
    const QString line = QStringLiteral("1 solid #808080");
    const auto sides = [](const QString &t, const QString &l, const QString &b, const QString &r) {
        return QStringLiteral(" top %1 left %2 bottom %3 right %4").arg(t, l, b, r);
    };
    const QString none = QStringLiteral("none");
    EXPECT_EQ(
        describe_tables(doc),
        QStringLiteral("table 3x3 widths 58.33 25.4 58.4 padding 0\n") + QStringLiteral("[0,0] 1x2 \"合并标题\"") +
            sides(line, line, hair, line) + QStringLiteral(" middle\n") + QStringLiteral("[0,2] \"第三列\"") +
            sides(line, hair, hair, line) + QStringLiteral(" middle\n") + QStringLiteral("[1,0] 2x1 \"竖合并\"") +
            sides(none, line, line, line) + QStringLiteral(" middle\n") + QStringLiteral("[1,1] \"甲\"") +
            sides(none, hair, hair, line) + QStringLiteral(" middle\n") + QStringLiteral("[1,2] \"乙\"") +
            sides(none, hair, hair, line) + QStringLiteral(" background #ffff00 middle\n") +
            QStringLiteral("[2,1] \"丙\"") + sides(none, hair, line, line) + QStringLiteral(" middle\n") +
            QStringLiteral("[2,2] \"丁\u2028第二行\"") + sides(none, hair, line, line) + QStringLiteral(" middle\n"));
    EXPECT_TRUE(run_with(doc, QStringLiteral("合并标题")).bold);
    expect_round_trip(doc);
}

namespace {

struct TableCase {
    const char *name;
    QByteArray rtf;
    QString top;    // top_level_text
    QString tables; // describe_tables
};

class RtfTableRead : public ::testing::TestWithParam<TableCase> {};

const QString kTwoCells = QStringLiteral("table 1x2 widths 96 96 padding 0\n[0,0] \"a\" borders none\n"
                                         "[0,1] \"b\" borders none\n");

} // namespace

TEST_P(RtfTableRead, Structure)
{
    QTextDocument doc;
    read_rtf(GetParam().rtf, doc);
    EXPECT_EQ(top_level_text(doc), GetParam().top);
    EXPECT_EQ(describe_tables(doc), GetParam().tables);
    expect_round_trip(doc);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RtfTableRead,
    ::testing::Values(
        // Cells without \cellx are an inch wide.
        TableCase{"RowWithoutIntbl", R"({\rtf1\trowd a\cell b\cell\row c})", QStringLiteral("|<table>|c"), kTwoCells},
        TableCase{"IntblWithoutTrowd", R"({\rtf1\pard\intbl a\cell b\cell\row\pard c})", QStringLiteral("|<table>|c"),
                  kTwoCells},
        TableCase{"TextBeforeTable", R"({\rtf1 x\par\trowd a\cell b\cell\row\pard\par})", QStringLiteral("x|<table>|"),
                  kTwoCells},
        TableCase{"TextAfterLastCellIsACell", R"({\rtf1\trowd a\cell b\row})", QStringLiteral("|<table>|"), kTwoCells},
        TableCase{"RowNotEnded", R"({\rtf1\trowd\cellx1440\cellx2880\pard\intbl a\cell b})",
                  QStringLiteral("|<table>|"), kTwoCells},
        // Word writes the row's definition again just before \row, in a group.
        TableCase{"DefinitionAtRowEnd",
                  R"({\rtf1\pard\intbl{a\cell}{b\cell}{\trowd\trgaph30\cellx1500\cellx3000\row}\pard c})",
                  QStringLiteral("|<table>|c"),
                  QStringLiteral("table 1x2 widths 100 100 padding 2\n[0,0] \"a\" borders none\n"
                                 "[0,1] \"b\" borders none\n")},
        TableCase{"ColumnsFromTheEdgesOfAllRows",
                  R"({\rtf1\trowd\cellx1500\cellx3000\pard\intbl a\cell b\cell\row)"
                  R"(\trowd\cellx750\cellx3000\pard\intbl c\cell d\cell\row})",
                  QStringLiteral("|<table>|"),
                  QStringLiteral("table 2x3 widths 50 50 100 padding 0\n[0,0] 1x2 \"a\" borders none\n"
                                 "[0,2] \"b\" borders none\n[1,0] \"c\" borders none\n[1,1] 1x2 \"d\" borders none\n")},
        TableCase{"NearlyEqualEdgesAreOne",
                  R"({\rtf1\trowd\cellx1500\cellx3000\pard\intbl a\cell b\cell\row)"
                  R"(\trowd\cellx1510\cellx3005\pard\intbl c\cell d\cell\row})",
                  QStringLiteral("|<table>|"),
                  QStringLiteral("table 2x2 widths 100 100 padding 0\n[0,0] \"a\" borders none\n"
                                 "[0,1] \"b\" borders none\n[1,0] \"c\" borders none\n[1,1] \"d\" borders none\n")},
        // Edges that go backwards: one cell a column, widths where they make sense.
        TableCase{"DecreasingEdges", R"({\rtf1\trowd\cellx3000\cellx1500\pard\intbl a\cell b\cell\row})",
                  QStringLiteral("|<table>|"),
                  QStringLiteral("table 1x2 widths 200 96 padding 0\n[0,0] \"a\" borders none\n"
                                 "[0,1] \"b\" borders none\n")},
        TableCase{"MergeFlagsWithNothingToJoin",
                  R"({\rtf1\trowd\clmrg\clvmrg\cellx1440\clvmrg\cellx2880\pard\intbl a\cell b\cell\row})",
                  QStringLiteral("|<table>|"), kTwoCells},
        // Row borders stand for missing cell borders: top and bottom of the table, between rows,
        // and the sides and between cells.
        TableCase{
            "RowBorders",
            R"({\rtf1{\colortbl;\red255\green0\blue0;}\trowd\trbrdrt\brdrdb\brdrw30\trbrdrb\brdrs\brdrw15)"
            R"(\trbrdrh\brdrdot\brdrw15\brdrcf1\trbrdrl\brdrs\brdrw15\trbrdrv\brdrdash\brdrw15\trbrdrr\brdrs\brdrw15)"
            R"(\clbrdrl\brdrnone\cellx1440\cellx2880\pard\intbl a\cell b\cell\row\pard\intbl c\cell d\cell\row})",
            QStringLiteral("|<table>|"),
            QStringLiteral("table 2x2 widths 96 96 padding 0\n"
                           "[0,0] \"a\" top 2 double #000000 left 1 solid #000000 bottom 1 dotted #ff0000 "
                           "right 1 dashed #000000\n"
                           "[0,1] \"b\" top 2 double #000000 left 1 dashed #000000 bottom 1 dotted #ff0000 "
                           "right 1 solid #000000\n"
                           "[1,0] \"c\" top 1 dotted #ff0000 left 1 solid #000000 bottom 1 solid #000000 "
                           "right 1 dashed #000000\n"
                           "[1,1] \"d\" top 1 dotted #ff0000 left 1 dashed #000000 bottom 1 solid #000000 "
                           "right 1 solid #000000\n")},
        TableCase{
            "CellShadingAndAlignment",
            R"({\rtf1{\colortbl;\red0\green128\blue0;}\trowd\trqc\clcbpat1\clvertalb\cellx1440\clvertalc\cellx2880)"
            R"(\pard\intbl a\cell b\cell\row})",
            QStringLiteral("|<table>|"),
            QStringLiteral("table 1x2 widths 96 96 padding 0 centre\n[0,0] \"a\" borders none background #008000 "
                           "bottom\n[0,1] \"b\" borders none middle\n")},
        TableCase{"TwoTables", R"({\rtf1\trowd a\cell b\cell\row\pard\par\trowd\cellx3000 c\cell\row\pard d\par})",
                  QStringLiteral("|<table>||<table>|d"),
                  kTwoCells + QStringLiteral("table 1x1 widths 200 padding 0\n[0,0] \"c\" borders none\n")},
        TableCase{"CellOutsideTableIsATab", R"({\rtf1 a\cell b\row c})", QStringLiteral("a\tb|c"), QString()}),
    [](const auto &p) { return std::string(p.param.name); });

namespace {

QTextTableCellFormat bordered(qreal width, QTextFrameFormat::BorderStyle style, QColor colour)
{
    QTextTableCellFormat f;
    f.setBorder(width);
    f.setBorderStyle(style);
    f.setBorderBrush(colour);
    return f;
}

// 前, a 3x3 table with merged cells, borders, shading, a bold run, a link, a picture and a cell of
// two paragraphs, then 后.
void build_table_note(QTextDocument &doc)
{
    QTextCursor c(&doc);
    const QTextCharFormat plain;
    c.insertText(QStringLiteral("前"));
    QTextTableFormat tf;
    tf.setColumnWidthConstraints({QTextLength(QTextLength::FixedLength, 100), QTextLength(QTextLength::FixedLength, 50),
                                  QTextLength(QTextLength::FixedLength, 80)});
    tf.setCellPadding(5);
    tf.setCellSpacing(0);
    tf.setBorder(0);
    tf.setBorderCollapse(true);
    QTextTable *t = c.insertTable(3, 3, tf);
    t->mergeCells(0, 0, 1, 2);
    t->mergeCells(1, 2, 2, 1);
    const QTextTableCellFormat solid = bordered(1, QTextFrameFormat::BorderStyle_Solid, Qt::black);
    for (int r = 0; r < 3; ++r)
        for (int col = 0; col < 3; ++col)
            t->cellAt(r, col).setFormat(solid);
    QTextTableCellFormat red = bordered(2, QTextFrameFormat::BorderStyle_Double, QColor(255, 0, 0));
    red.setBackground(QColor(255, 255, 0));
    red.setVerticalAlignment(QTextCharFormat::AlignMiddle);
    t->cellAt(1, 2).setFormat(red);

    QTextCharFormat bold;
    bold.setFontWeight(QFont::Bold);
    QTextCursor cell = t->cellAt(0, 0).firstCursorPosition();
    cell.insertText(QStringLiteral("合并标题"), bold);
    cell = t->cellAt(0, 2).firstCursorPosition();
    QTextCharFormat link;
    link.setAnchor(true);
    link.setAnchorHref(QStringLiteral("https://example.com/"));
    cell.insertText(QStringLiteral("链接"), link);
    cell = t->cellAt(1, 0).firstCursorPosition();
    cell.insertText(QStringLiteral("第一段"), plain);
    QTextBlockFormat centred;
    centred.setAlignment(Qt::AlignHCenter);
    cell.insertBlock(centred);
    cell.insertText(QStringLiteral("第二段 {\\}"), plain);
    cell = t->cellAt(1, 1).firstCursorPosition();
    cell.insertImage(add_picture(doc, image_bytes(solid_image(6, 4, Qt::red), "PNG")));
    cell = t->cellAt(1, 2).firstCursorPosition();
    cell.insertText(QStringLiteral("竖"), plain);
    cell = t->cellAt(2, 1).firstCursorPosition();
    cell.insertText(QStringLiteral("末"), plain);
    c.setPosition(t->lastPosition() + 1);
    c.insertText(QStringLiteral("后"), plain);
}

} // namespace

TEST(RtfTable, WrittenAsRows)
{
    QTextDocument doc;
    build_table_note(doc);
    const QByteArray rtf = write_rtf(doc);
    // Every place of the grid is a cell; merged ones are flagged, and a merged cell's borders are
    // on the places at its edges. Widths are twips from \trleft.
    const QByteArray t = "\\clbrdrt\\brdrs\\brdrw15", l = "\\clbrdrl\\brdrs\\brdrw15";
    const QByteArray b = "\\clbrdrb\\brdrs\\brdrw15", r = "\\clbrdrr\\brdrs\\brdrw15";
    EXPECT_TRUE(rtf.contains("\\trowd\\trgaph75\\trleft-75\\clmgf" + t + l + b + "\\cellx1425\\clmrg" + t + b + r +
                             "\\cellx2175" + t + l + b + r + "\\cellx3375\r\n"))
        << rtf.toStdString();
    const QByteArray red = "\\brdrdb\\brdrw30\\brdrcf1";
    EXPECT_TRUE(rtf.contains("\\clvmgf\\clvertalc\\clbrdrt" + red + "\\clbrdrl" + red + "\\clbrdrr" + red +
                             "\\clcbpat2\\cellx3375\r\n"));
    EXPECT_TRUE(rtf.contains("\\clvmrg\\clvertalc\\clbrdrl" + red + "\\clbrdrb" + red + "\\clbrdrr" + red +
                             "\\clcbpat2\\cellx3375\r\n"));
    EXPECT_TRUE(rtf.contains("{\\colortbl ;\\red255\\green0\\blue0;\\red255\\green255\\blue0;}"));
    EXPECT_TRUE(rtf.contains("\\pard\\intbl "));
    EXPECT_TRUE(rtf.contains("\\cell \\row\r\n"));
    EXPECT_EQ(rtf.count("\\row"), 3);
    EXPECT_EQ(rtf.count("\\cell "), 9);
    EXPECT_TRUE(rtf.contains("\\row\r\n\\pard "));
    expect_round_trip(doc);
    QTextDocument read;
    read_rtf(rtf, read);
    EXPECT_EQ(top_level_text(read), QStringLiteral("前|<table>|后"));
    EXPECT_EQ(describe_tables(read), describe_tables(doc));
}

TEST(RtfTable, BodyBeginningWithTable)
{
    // Qt keeps an empty paragraph before a table that begins a document; it is not written, and
    // reading makes it again.
    QTextDocument doc;
    QTextCursor c(&doc);
    QTextTable *t = c.insertTable(1, 2);
    t->cellAt(0, 1).firstCursorPosition().insertText(QStringLiteral("x"));
    const QByteArray rtf = write_rtf(doc);
    EXPECT_TRUE(rtf.contains("\\viewkind4\\uc1 \r\n\\trowd")) << rtf.toStdString();
    QTextDocument read;
    read_rtf(rtf, read);
    EXPECT_EQ(top_level_text(read), QStringLiteral("|<table>|"));
    // Qt's own table: relative widths share the text width, the table's grey border is every cell's.
    EXPECT_EQ(describe_tables(read), QStringLiteral("table 1x2 widths 288 288 padding 0\n"
                                                    "[0,0] \"\" borders 1 solid #808080\n"
                                                    "[0,1] \"x\" borders 1 solid #808080\n"));
    expect_round_trip(read);
}

TEST(RtfTable, PastedWebTable)
{
    // A table from a web page has its border on the table (Qt's grey): every cell gets it.
    QTextDocument doc;
    doc.setHtml(
        QStringLiteral("<p>x</p><table border=\"1\" cellpadding=\"3\" width=\"50%\"><tr><td>a</td><td>b</td></tr>"
                       "<tr><td colspan=\"2\"><table><tr><td>内</td><td>层</td></tr></table></td></tr></table>"));
    QTextDocument read;
    read_rtf(write_rtf(doc), read);
    // The table inside a cell becomes paragraphs of it, with the empty ones Qt keeps around a table.
    EXPECT_EQ(describe_tables(read), QStringLiteral("table 2x2 widths 144 144 padding 3\n"
                                                    "[0,0] \"a\" borders 1 solid #808080\n"
                                                    "[0,1] \"b\" borders 1 solid #808080\n"
                                                    "[1,0] 1x2 \"|内|层|\" borders 1 solid #808080\n"));
    expect_round_trip(read);
}

TEST(RtfTable, PlainTextCopyHasARowALine)
{
    QTextDocument doc;
    build_table_note(doc);
    const QByteArray copy = plain_text_copy(doc);
    const QString text = QStringDecoder(QStringConverter::Utf16LE).decode(copy.mid(2));
    // The picture in the second row's middle cell leaves no text.
    EXPECT_EQ(text, QStringLiteral("前\r\n合并标题\t\t链接\r\n第一段\r\n第二段 {\\}\t\t竖\r\n\t末\t\r\n后"));
}

TEST(RtfTable, PastedIntoText)
{
    QTextDocument doc;
    doc.setPlainText(QStringLiteral("前后"));
    QTextCursor cursor(&doc);
    cursor.setPosition(1);
    const RtfReadResult result =
        insert_rtf(cursor, R"({\rtf1\trowd\cellx1440\cellx2880\pard\intbl a\cell b\cell\row\pard})");
    EXPECT_TRUE(result.warnings.isEmpty());
    EXPECT_EQ(top_level_text(doc), QStringLiteral("前|<table>|后"));
    EXPECT_EQ(describe_tables(doc), kTwoCells);
    // One undo step takes it out again.
    doc.undo();
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("前后"));
    EXPECT_EQ(doc.rootFrame()->childFrames().size(), 0);
}
