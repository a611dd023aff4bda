// Writing bodies: what we write reads back the same, stays the same over repeated saves, and
// opens with the same text in an independent reader where one is installed.
#include "editor/rtf/rtf.h"

#include "rtf_test_util.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QGuiApplication>
#include <QHash>
#include <QProcess>
#include <QStandardPaths>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextTable>
#include <QUrl>
#include <QXmlStreamReader>

#include <functional>

using namespace yunshan;
using namespace rtftest;

namespace {

void add(QTextCursor &c, const QString &text, const std::function<void(QTextCharFormat &)> &style = {})
{
    QTextCharFormat f;
    if (style)
        style(f);
    c.insertText(text, f);
}

struct DocCase {
    const char *name;
    std::function<void(QTextDocument &)> build;
};

const QByteArray &png_picture()
{
    static const QByteArray bytes = image_bytes(solid_image(6, 4, Qt::red), "PNG");
    return bytes;
}
const QByteArray &jpeg_picture()
{
    static const QByteArray bytes = image_bytes(solid_image(16, 8, Qt::green), "JPEG");
    return bytes;
}

const DocCase kDocs[] = {
    {"Empty", [](QTextDocument &) {}},
    {"ChineseAndAscii",
     [](QTextDocument &d) {
         QTextCursor c(&d);
         add(c, QStringLiteral("中文 and ASCII, 标点：“引号”…… 镕堃喆 € © 😀 \\{braces}\tTab"));
         c.insertBlock();
         add(c, QStringLiteral("第二段"));
         c.insertText(QString(QChar::LineSeparator));
         add(c, QStringLiteral("soft break\u00A0nbsp, optional hy\u00ADphen"));
     }},
    {"Attributes",
     [](QTextDocument &d) {
         QTextCursor c(&d);
         add(c, QStringLiteral("粗体"), [](QTextCharFormat &f) { f.setFontWeight(QFont::Bold); });
         add(c, QStringLiteral("红色"), [](QTextCharFormat &f) { f.setForeground(QColor(255, 0, 0)); });
         add(c, QStringLiteral("大字"), [](QTextCharFormat &f) { f.setFontPointSize(18); });
         add(c, QStringLiteral("小五"), [](QTextCharFormat &f) { f.setFontPointSize(10.5); });
         add(c, QStringLiteral("雅黑"), [](QTextCharFormat &f) { f.setFontFamilies({QStringLiteral("微软雅黑")}); });
         add(c, QStringLiteral("Arial"), [](QTextCharFormat &f) { f.setFontFamilies({QStringLiteral("Arial")}); });
         add(c, QStringLiteral("斜下删"), [](QTextCharFormat &f) {
             f.setFontItalic(true);
             f.setFontUnderline(true);
             f.setFontStrikeOut(true);
         });
         add(c, QStringLiteral("plain"));
     }},
    {"Links",
     [](QTextDocument &d) {
         QTextCursor c(&d);
         add(c, QStringLiteral("见"));
         add(c, QStringLiteral("链接"), [](QTextCharFormat &f) {
             f.setAnchor(true);
             f.setAnchorHref(QStringLiteral("https://example.com/路径?a=1&b=\"2\""));
             f.setFontUnderline(true);
         });
         add(c, QStringLiteral("粗链"), [](QTextCharFormat &f) {
             f.setAnchor(true);
             f.setAnchorHref(QStringLiteral("https://example.com/路径?a=1&b=\"2\""));
             f.setFontWeight(QFont::Bold);
         });
         add(c, QStringLiteral("后"));
         add(c, QStringLiteral("文件"), [](QTextCharFormat &f) {
             f.setAnchor(true);
             f.setAnchorHref(QStringLiteral("C:\\notes\\a b.txt"));
         });
     }},
    {"Pictures",
     [](QTextDocument &d) {
         QTextCursor c(&d);
         add(c, QStringLiteral("前"));
         c.insertImage(add_picture(d, png_picture()));
         add(c, QStringLiteral("中"));
         QTextImageFormat jpeg = add_picture(d, jpeg_picture());
         jpeg.setWidth(32);
         jpeg.setHeight(16);
         c.insertImage(jpeg);
         add(c, QStringLiteral("后"));
     }},
    {"TenThousandParagraphs",
     [](QTextDocument &d) {
         QTextCursor c(&d);
         for (int i = 0; i < 10000; ++i) {
             if (i)
                 c.insertBlock();
             add(c, QStringLiteral("第%1段 paragraph").arg(i), [i](QTextCharFormat &f) {
                 if (i % 7 == 0)
                     f.setFontWeight(QFont::Bold);
             });
         }
     }},
};

class RtfRoundTrip : public ::testing::TestWithParam<DocCase> {};

} // namespace

TEST_P(RtfRoundTrip, SameTextAndAttributes)
{
    QTextDocument original;
    GetParam().build(original);
    const QByteArray rtf = write_rtf(original);
    QTextDocument read;
    const RtfReadResult result = read_rtf(rtf, read);
    EXPECT_TRUE(result.warnings.isEmpty()) << result.warnings.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(read.toPlainText(), original.toPlainText());
    EXPECT_EQ(read.blockCount(), original.blockCount());
    expect_same_runs(original, read);
    // Saving what was read gives the same bytes: nothing grows or drifts from save to save.
    EXPECT_EQ(write_rtf(read), rtf);
}

INSTANTIATE_TEST_SUITE_P(Docs, RtfRoundTrip, ::testing::ValuesIn(kDocs),
                         [](const auto &p) { return std::string(p.param.name); });

TEST(RtfWriter, FormOfTheOutput)
{
    QTextDocument doc;
    doc.setDefaultFont(QFont(QStringLiteral("宋体"), 11));
    QTextCursor c(&doc);
    add(c, QStringLiteral("中A{}\\"));
    add(c, QStringLiteral("€"));
    add(c, QStringLiteral("😀"));
    c.insertImage(add_picture(doc, png_picture()));
    const QByteArray rtf = write_rtf(doc);
    EXPECT_TRUE(rtf.startsWith("{\\rtf1\\ansi\\ansicpg936\\deff0"));
    EXPECT_TRUE(rtf.contains("{\\f0\\fnil\\fcharset134 \\'cb\\'ce\\'cc\\'e5;}")); // 宋体 in GBK
    EXPECT_TRUE(rtf.contains("\\pard \\hich\\af0\\dbch\\af0\\loch\\f0\\fs22 \\uc2 \\u20013\\'d6\\'d0A\\{\\}\\\\\\uc1 "
                             "\\u8364\\'80\\u-10179?\\u-8704?"));
    EXPECT_TRUE(QByteArray(rtf)
                    .replace("\r\n", "")
                    .contains("\\pngblip\\picw6\\pich4\\picwgoal90\\pichgoal60" + png_picture().toHex()));
    EXPECT_TRUE(rtf.endsWith("\\par\r\n}\r\n"));
    EXPECT_EQ(rtf.count('{'), rtf.count('}'));
}

// \f0 is the note's own default font, never this computer's fallback; Chinese text carries a
// Chinese font for double-byte text also where the run's font is Western.
TEST(RtfWriter, FontTableNamesTheNotesFont)
{
    const QByteArray songti = "{\\f0\\fnil\\fcharset134 \\'cb\\'ce\\'cc\\'e5;}";
    struct Case {
        const char *name;
        QFont default_font; // family unset: the document has no default font of its own
        QByteArray fonts;   // the font table
        QByteArray run;     // the font words before the first run
    };
    const Case cases[] = {
        {"NoDefaultFont", QFont(), "{\\fonttbl" + songti + "}", "\\hich\\af0\\dbch\\af0\\loch\\f0"},
        {"ChineseDefault", QFont(QStringLiteral("微软雅黑"), 11),
         "{\\fonttbl{\\f0\\fnil\\fcharset134 \\'ce\\'a2\\'c8\\'ed\\'d1\\'c5\\'ba\\'da;}}",
         "\\hich\\af0\\dbch\\af0\\loch\\f0"},
        {"WesternDefault", QFont(QStringLiteral("Arial"), 11),
         "{\\fonttbl{\\f0\\fnil\\fcharset0 Arial;}{\\f1\\fnil\\fcharset134 \\'cb\\'ce\\'cc\\'e5;}}",
         "\\hich\\af0\\dbch\\af1\\loch\\f0"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QTextDocument doc;
        if (c.default_font.resolveMask() & QFont::FamiliesResolved)
            doc.setDefaultFont(c.default_font);
        QTextCursor cursor(&doc);
        add(cursor, QStringLiteral("中文"));
        const QByteArray rtf = write_rtf(doc);
        EXPECT_TRUE(rtf.startsWith("{\\rtf1\\ansi\\ansicpg936\\deff0\\nouicompat\\deflang1033\\deflangfe2052" +
                                   c.fonts + "\r\n"))
            << rtf.toStdString();
        EXPECT_TRUE(rtf.contains("\\pard " + c.run + "\\fs")) << rtf.toStdString();
    }

    // A Western run in a Chinese note: its own font for \f, the note's Chinese font for \dbch\af.
    QTextDocument doc;
    QTextCursor cursor(&doc);
    add(cursor, QStringLiteral("中"));
    add(cursor, QStringLiteral("Arial 中文"), [](QTextCharFormat &f) { f.setFontFamilies({QStringLiteral("Arial")}); });
    const QByteArray rtf = write_rtf(doc);
    EXPECT_TRUE(rtf.contains("{\\f1\\fnil\\fcharset0 Arial;}")) << rtf.toStdString();
    EXPECT_TRUE(rtf.contains("\\hich\\af1\\dbch\\af0\\loch\\f1 Arial \\uc1 \\u20013?")) << rtf.toStdString();
    QTextDocument read;
    read_rtf(rtf, read);
    EXPECT_EQ(run_with(read, QStringLiteral("Arial")).family, QStringLiteral("Arial"));
    EXPECT_EQ(run_with(read, QStringLiteral("中")).family, QStringLiteral("宋体"));
}

// The editor's document has the program's interface font as its default; where 宋体 is missing
// that is a Linux font, which must not become the note's font.
TEST(RtfWriter, InterfaceFontIsNotTheNotesFont)
{
    const QFont saved = QGuiApplication::font();
    const QFont fallback(QStringLiteral("WenQuanYi Micro Hei"), 10);
    QGuiApplication::setFont(fallback);
    QTextDocument doc;
    doc.setDefaultFont(fallback);
    QTextCursor cursor(&doc);
    add(cursor, QStringLiteral("中文"));
    const QByteArray rtf = write_rtf(doc);
    QGuiApplication::setFont(saved);
    EXPECT_TRUE(rtf.contains("{\\fonttbl{\\f0\\fnil\\fcharset134 \\'cb\\'ce\\'cc\\'e5;}}")) << rtf.toStdString();
    EXPECT_FALSE(rtf.contains("WenQuanYi"));
}

TEST(RtfWriter, PlainTextCopy)
{
    QTextDocument doc;
    QTextCursor c(&doc);
    add(c, QStringLiteral("第一行"));
    c.insertBlock();
    add(c, QStringLiteral("A\u00AD"));
    c.insertText(QString(QChar::LineSeparator));
    c.insertImage(add_picture(doc, png_picture()));
    add(c, QStringLiteral("B"));
    const QByteArray copy = plain_text_copy(doc);
    const QString expected = QStringLiteral("第一行\r\nA\u00AD\r\nB");
    QByteArray bytes("\xFF\xFE", 2);
    for (QChar ch : expected) {
        bytes.append(char(ch.unicode() & 0xFF));
        bytes.append(char(ch.unicode() >> 8));
    }
    EXPECT_EQ(copy, bytes);
    EXPECT_EQ(plain_text_copy(QTextDocument()), QByteArray("\xFF\xFE", 2));
}

// An independent reader: LibreOffice converts what we write. Empty when soffice is missing (the
// test then skips) or the conversion failed (a failure is recorded).
QByteArray convert_with_libreoffice(const QByteArray &rtf, const QString &filter, const QString &extension)
{
    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (soffice.isEmpty())
        return {};
    yunshan::test::TempFolder folder;
    const QString in = folder.file(QStringLiteral("note.rtf"));
    yunshan::test::TempFolder::write(in, rtf);
    QProcess lo;
    lo.start(soffice, {QStringLiteral("-env:UserInstallation=file://") + folder.path() + QStringLiteral("/profile"),
                       QStringLiteral("--headless"), QStringLiteral("--convert-to"), filter, QStringLiteral("--outdir"),
                       folder.path() + QStringLiteral("/out"), in});
    EXPECT_TRUE(lo.waitForFinished(120000));
    // soffice ends with 0 also when it could not convert: the output file tells.
    QFile out(folder.path() + QStringLiteral("/out/note.") + extension);
    EXPECT_TRUE(out.open(QIODevice::ReadOnly))
        << "LibreOffice did not convert: " << lo.readAllStandardError().toStdString();
    return out.readAll();
}

bool libreoffice_installed()
{
    return !QStandardPaths::findExecutable(QStringLiteral("soffice")).isEmpty();
}

const char *const kNoLibreOffice =
    "LibreOffice (soffice) is not installed; apt-get install libreoffice-writer-nogui to run this check";

TEST(RtfWriter, LibreOfficeReadsTheSameText)
{
    if (!libreoffice_installed())
        GTEST_SKIP() << kNoLibreOffice;
    QTextDocument doc;
    QTextCursor c(&doc);
    add(c, QStringLiteral("普通 粗体 镕堃喆 € © 😀"), [](QTextCharFormat &f) { f.setFontWeight(QFont::Bold); });
    c.insertBlock();
    add(c, QStringLiteral("链接"), [](QTextCharFormat &f) {
        f.setAnchor(true);
        f.setAnchorHref(QStringLiteral("https://example.com/"));
    });
    add(c, QStringLiteral(" \\{} tab\tend"));
    c.insertBlock();
    c.insertImage(add_picture(doc, png_picture()));
    add(c, QStringLiteral("图后"), [](QTextCharFormat &f) { f.setFontFamilies({QStringLiteral("Arial")}); });

    QString text = QString::fromUtf8(
        convert_with_libreoffice(write_rtf(doc), QStringLiteral("txt:Text (encoded):UTF8"), QStringLiteral("txt")));
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    while (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    QString expected = doc.toPlainText();
    expected.remove(QChar::ObjectReplacementCharacter);
    EXPECT_EQ(text, expected);
}

namespace {

// What LibreOffice made of a body, from its flat document XML: the tables (one line a row, the
// cells as "text" with " RxC" when they span, separated by " | ") and the East Asian font of every
// run of text.
struct LibreOfficeView {
    QStringList tables;
    QHash<QString, QString> asian_font; // run text -> family
};

LibreOfficeView view_of_flat_odt(const QByteArray &xml)
{
    LibreOfficeView view;
    QHash<QString, QString> faces;       // font face name -> family
    QHash<QString, QString> style_fonts; // text style name -> font face for Asian text
    QXmlStreamReader r(xml);
    QString style;
    QString table;
    QStringList row;
    QString cell;      // the cell's text, its paragraphs separated by "|"
    QString cell_span; // " RxC" for a spanning cell
    bool in_cell = false;
    int paragraphs = 0;
    QString span_text;
    QString span_style;
    while (!r.atEnd()) {
        r.readNext();
        const auto name = r.qualifiedName();
        const auto attrs = r.attributes();
        if (r.isStartElement()) {
            if (name == QLatin1String("style:font-face")) {
                QString family = attrs.value(QLatin1String("svg:font-family")).toString();
                family.remove(QLatin1Char('\''));
                faces.insert(attrs.value(QLatin1String("style:name")).toString(), family);
            } else if (name == QLatin1String("style:style")) {
                style = attrs.value(QLatin1String("style:name")).toString();
            } else if (name == QLatin1String("style:text-properties") &&
                       attrs.hasAttribute(QLatin1String("style:font-name-asian"))) {
                style_fonts.insert(style, attrs.value(QLatin1String("style:font-name-asian")).toString());
            } else if (name == QLatin1String("table:table-row")) {
                row.clear();
            } else if (name == QLatin1String("table:table-cell")) {
                cell.clear();
                cell_span.clear();
                in_cell = true;
                paragraphs = 0;
                const int rows = attrs.value(QLatin1String("table:number-rows-spanned")).toInt();
                const int cols = attrs.value(QLatin1String("table:number-columns-spanned")).toInt();
                if (rows > 1 || cols > 1)
                    cell_span = QStringLiteral(" %1x%2").arg(std::max(rows, 1)).arg(std::max(cols, 1));
            } else if (name == QLatin1String("text:p") && in_cell) {
                if (paragraphs++ > 0)
                    cell += QLatin1Char('|');
            } else if (name == QLatin1String("text:span")) {
                span_style = attrs.value(QLatin1String("text:style-name")).toString();
                span_text.clear();
            }
        } else if (r.isCharacters() && !r.isWhitespace()) { // the file's indentation
            if (!span_style.isNull())
                span_text += r.text();
            if (in_cell)
                cell += r.text();
        } else if (r.isEndElement()) {
            if (name == QLatin1String("text:span")) {
                view.asian_font.insert(span_text, faces.value(style_fonts.value(span_style)));
                span_style = QString();
            } else if (name == QLatin1String("table:table-cell")) {
                row << cell + cell_span;
                in_cell = false;
            } else if (name == QLatin1String("table:table-row")) {
                table += row.join(QLatin1String(" | ")) + QLatin1Char('\n');
            } else if (name == QLatin1String("table:table")) {
                view.tables << table;
                table.clear();
            }
        }
    }
    return view;
}

} // namespace

// LibreOffice sees our tables as tables, with their merged cells, and shows Chinese text in the
// note's Chinese font also where the run's own font is Western.
TEST(RtfWriter, LibreOfficeSeesTablesAndChineseFonts)
{
    if (!libreoffice_installed())
        GTEST_SKIP() << kNoLibreOffice;
    QTextDocument doc;
    QTextCursor c(&doc);
    add(c, QStringLiteral("表前"));
    QTextTableFormat tf;
    tf.setColumnWidthConstraints({QTextLength(QTextLength::FixedLength, 100), QTextLength(QTextLength::FixedLength, 60),
                                  QTextLength(QTextLength::FixedLength, 80)});
    QTextTable *t = c.insertTable(2, 3, tf);
    t->mergeCells(0, 0, 1, 2);
    t->mergeCells(0, 2, 2, 1);
    const QTextCharFormat plain;
    t->cellAt(0, 0).firstCursorPosition().insertText(QStringLiteral("合并"), plain);
    t->cellAt(0, 2).firstCursorPosition().insertText(QStringLiteral("竖"), plain);
    t->cellAt(1, 0).firstCursorPosition().insertText(QStringLiteral("左"), plain);
    QTextCharFormat arial;
    arial.setFontFamilies({QStringLiteral("Arial")});
    t->cellAt(1, 1).firstCursorPosition().insertText(QStringLiteral("Arial中文"), arial);
    c.setPosition(t->lastPosition() + 1);
    add(c, QStringLiteral("表后"));

    const QByteArray xml = convert_with_libreoffice(write_rtf(doc), QStringLiteral("fodt"), QStringLiteral("fodt"));
    const LibreOfficeView view = view_of_flat_odt(xml);
    ASSERT_EQ(view.tables.size(), 1) << xml.toStdString();
    EXPECT_EQ(view.tables.at(0).toStdString(), QStringLiteral("合并 1x2 | 竖 2x1\n左 | Arial中文\n").toStdString());
    EXPECT_EQ(view.asian_font.value(QStringLiteral("Arial中文")), QStringLiteral("宋体"));
    EXPECT_EQ(view.asian_font.value(QStringLiteral("表后")), QStringLiteral("宋体"));
}

TEST(RtfWriter, PictureWithoutDataKeepsItsPlace)
{
    QTextDocument doc;
    QTextCursor c(&doc);
    add(c, QStringLiteral("A"));
    QTextImageFormat missing;
    missing.setName(QStringLiteral("yunshan-image:0000"));
    missing.setWidth(20);
    missing.setHeight(10);
    c.insertImage(missing);
    QTextImageFormat pasted; // an image the editor added as a plain image resource
    pasted.setName(QStringLiteral("pasted-1"));
    doc.addResource(QTextDocument::ImageResource, QUrl(QStringLiteral("pasted-1")), solid_image(5, 5, Qt::blue));
    c.insertImage(pasted);
    QTextDocument again;
    read_rtf(write_rtf(doc), again);
    EXPECT_EQ(again.toPlainText(), doc.toPlainText());
    const auto images = image_runs(again);
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0].image_width, 20);
    EXPECT_EQ(centre_colour(images[1].picture), QColor(Qt::blue));
}
