// Reading bodies written by the Windows rich-text control, by LibreOffice, and small hand-made
// cases for the rules of the format that old notes depend on.
#include "editor/rtf/rtf.h"

#include "rtf_test_util.h"

#include <gtest/gtest.h>

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

using namespace yunshan;
using namespace rtftest;

namespace {

QString text_of(const QByteArray &rtf)
{
    QTextDocument doc;
    read_rtf(rtf, doc);
    return doc.toPlainText();
}

} // namespace

TEST(RtfReader, RichEditChineseFixture)
{
    QTextDocument doc;
    const RtfReadResult result = read_rtf(fixture(QStringLiteral("richedit_chinese.rtf")), doc);
    EXPECT_TRUE(result.was_rtf);
    EXPECT_TRUE(result.warnings.isEmpty()) << result.warnings.join(QLatin1Char('\n')).toStdString();

    const QStringList paragraphs = doc.toPlainText().split(QLatin1Char('\n'));
    const QStringList expected = {
        QStringLiteral("普通文本 粗体 红色 2020年"),
        QStringLiteral("微软雅黑大字"),
        QStringLiteral("版权所有© 2020 😀"),
        // GBK trail bytes 5C 7B 7D as \'hh and as \\ \{ \}; a raw ASCII trail byte; GBK-only characters
        QStringLiteral("乗亄亇|乗亄亇|镕堃喆"),
        QStringLiteral("链接"),
        QStringLiteral("可见"),
        QString(QChar::ObjectReplacementCharacter),
    };
    EXPECT_EQ(paragraphs, expected); // the closing \par adds no empty paragraph

    const TextRun plain = run_with(doc, QStringLiteral("普通文本"));
    EXPECT_FALSE(plain.bold);
    EXPECT_EQ(plain.family, QStringLiteral("宋体"));
    EXPECT_EQ(plain.size, 11);
    EXPECT_TRUE(run_with(doc, QStringLiteral("粗体")).bold);
    EXPECT_EQ(run_with(doc, QStringLiteral("红色")).foreground, QColor(255, 0, 0));
    EXPECT_FALSE(run_with(doc, QStringLiteral("年")).foreground.isValid()); // \cf0 is automatic
    EXPECT_EQ(run_with(doc, QStringLiteral("2020")).family, QStringLiteral("Calibri"));
    const TextRun big = run_with(doc, QStringLiteral("微软雅黑大字"));
    EXPECT_EQ(big.family, QStringLiteral("微软雅黑"));
    EXPECT_EQ(big.size, 16);
    const TextRun link = run_with(doc, QStringLiteral("链接"));
    EXPECT_EQ(link.href, QStringLiteral("https://example.com/a?b=1"));
    EXPECT_TRUE(link.underline);
    EXPECT_EQ(link.foreground, QColor(0, 0, 255));

    const auto images = image_runs(doc);
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].image_width, 40); // 600 twips
    EXPECT_EQ(images[0].image_height, 30);
    EXPECT_EQ(centre_colour(images[0].picture), QColor(255, 0, 0));
    EXPECT_EQ(result.pictures, 1);
    EXPECT_EQ(result.placeholders, 0);
}

TEST(RtfReader, PicturesFixture)
{
    QTextDocument doc;
    const RtfReadResult result = read_rtf(fixture(QStringLiteral("richedit_pictures.rtf")), doc);
    const QString obj(QChar::ObjectReplacementCharacter);
    // Word's twin pictures (\shppict and \nonshppict) appear once.
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("A%1B%1C%1D%1E%1F%1G").arg(obj));
    const auto images = image_runs(doc);
    ASSERT_EQ(images.size(), 6u);
    EXPECT_EQ(centre_colour(images[0].picture), QColor(0, 255, 0)); // StretchDIBits in a metafile
    EXPECT_EQ(images[0].picture.size(), QSize(3, 2));
    EXPECT_EQ(images[0].image_width, 3);                            // 45 twips
    EXPECT_EQ(centre_colour(images[1].picture), QColor(0, 0, 255)); // DIBStretchBlt
    EXPECT_EQ(centre_colour(images[2].picture), QColor(0, 255, 0)); // \dibitmap
    EXPECT_EQ(centre_colour(images[4].picture), QColor(0, 0, 255)); // \shppict PNG
    // EMF and a metafile without a bitmap: visible placeholders, counted and reported.
    EXPECT_FALSE(images[3].picture.isNull());
    EXPECT_EQ(images[3].image_width, 96);
    EXPECT_FALSE(images[5].picture.isNull());
    EXPECT_EQ(result.pictures, 6);
    EXPECT_EQ(result.placeholders, 2);
    EXPECT_EQ(result.warnings.size(), 1);

    // Saved again: bitmaps become PNG, the EMF keeps its bytes.
    const QByteArray saved = write_rtf(doc);
    EXPECT_EQ(saved.count("\\pngblip"), 4);
    EXPECT_TRUE(saved.contains("\\emfblip"));
    EXPECT_TRUE(saved.contains("\\emfblip\\picw2540\\pich2540\\picwgoal1440\\pichgoal1440\r\n0100000058000000"));
    EXPECT_EQ(saved.count("\\wmetafile8"), 1);
    QTextDocument again;
    read_rtf(saved, again);
    EXPECT_EQ(again.toPlainText(), doc.toPlainText());
    EXPECT_EQ(centre_colour(image_runs(again)[0].picture), QColor(0, 255, 0));
}

struct TextCase {
    const char *name;
    QByteArray rtf;
    QString text;
};

class RtfText : public ::testing::TestWithParam<TextCase> {};

TEST_P(RtfText, Reads)
{
    EXPECT_EQ(text_of(GetParam().rtf), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RtfText,
    ::testing::Values(
        TextCase{"UcTwoSkipsBothBytes", R"({\rtf1\uc2 \u20013\'d6\'d0 x})", QStringLiteral("中 x")},
        TextCase{"UcIsGroupScoped", R"({\rtf1{\uc2 \u20013\'d6\'d0}\u20013?})", QStringLiteral("中中")},
        TextCase{"UcZero", R"({\rtf1\uc0 \u20013 A})", QStringLiteral("中A")},
        TextCase{"UcDefaultIsOne", R"({\rtf1\u20013?A})", QStringLiteral("中A")},
        TextCase{"ControlWordCountsAsOneUnit", R"({\rtf1\uc1 \u20013\par A})", QStringLiteral("中A")},
        TextCase{"SkipStopsAtBrace", R"({\rtf1\uc2 \u20013{\b A}B})", QStringLiteral("中AB")},
        TextCase{"NegativeSurrogates", R"({\rtf1 \u-10179?\u-8704?})", QStringLiteral("😀")},
        TextCase{"PositiveSurrogates", R"({\rtf1 \uc0 \u55357\uc1 \u56832\'3f})", QStringLiteral("😀")},
        TextCase{"LoneSurrogate", R"({\rtf1 \u-10179?A})", QStringLiteral("\uFFFDA")},
        TextCase{"FontCharsetBeatsAnsiCpg",
                 R"({\rtf1\ansi\ansicpg1252{\fonttbl{\f1\fswiss\fcharset134 Microsoft YaHei;}}\f1\'b8\'f9\'be\'dd})",
                 QStringLiteral("根据")},
        TextCase{"WesternFontUnderChineseCodePage",
                 R"({\rtf1\ansi\ansicpg936{\fonttbl{\f0\fcharset0 Arial;}}\f0 caf\'e9})", QStringLiteral("café")},
        TextCase{"AnsiCpgWithoutFontTable", R"({\rtf1\ansi\ansicpg936 \'d6\'d0\'80})", QStringLiteral("中€")},
        TextCase{"ShiftJisFont", R"({\rtf1{\fonttbl{\f0\fcharset128 x;}}\f0\'93\'fa\'96\'7b})", QStringLiteral("日本")},
        TextCase{"UnknownCodePageReadAsWestern", R"({\rtf1\ansi\ansicpg99999 caf\'e9})", QStringLiteral("café")},
        TextCase{"Cp1252Default", R"({\rtf1\ansi \'93q\'94})", QStringLiteral("“q”")},
        TextCase{"EscapedSymbols", R"({\rtf1 \\\{\}\~\emdash\tab x\line y})", QStringLiteral("\\{} —\tx\ny")},
        TextCase{"OptionalHyphen", R"({\rtf1 hy\-phen\_x})", QStringLiteral("hy\u00ADphen\u2011x")},
        TextCase{"UnicodeDestination", R"({\rtf1{\upr{A}{\*\ud{B}}}})", QStringLiteral("B")},
        TextCase{"BinInsideSkippedGroup", "{\\rtf1 A{\\*\\foo\\bin3 }}}}B}", QStringLiteral("AB")},
        TextCase{"NonShpPictWithoutStar", R"({\rtf1 A{\nonshppict{\pict\wmetafile8 0100}}B})", QStringLiteral("AB")},
        TextCase{"StylesheetAndInfoSkipped",
                 R"({\rtf1{\stylesheet{\s0 Normal;}}{\info{\title T}}{\*\generator G;}Text})", QStringLiteral("Text")},
        TextCase{"FieldWithoutResultShowsAddress",
                 R"({\rtf1{\field{\*\fldinst{HYPERLINK "http://x.cn/"}}{\fldrslt }}})", QStringLiteral("http://x.cn/")},
        TextCase{"OtherFieldShowsResult", R"({\rtf1{\field{\*\fldinst{PAGE}}{\fldrslt 3}}})", QStringLiteral("3")},
        TextCase{"ClosingParNotAParagraph", R"({\rtf1 A\par})", QStringLiteral("A")},
        TextCase{"TwoParsMakeEmptyParagraph", R"({\rtf1 A\par\par})", QStringLiteral("A\n")},
        TextCase{"EmptyBody", R"({\rtf1\pard\par })", QString()},
        TextCase{"TrailingNulAndLineEnd", QByteArray("{\\rtf1 A}\r\n\0\0\0", 12), QStringLiteral("A")},
        TextCase{"RawUtf8Variant", "{\\urtf1{\\fonttbl{\\f0\\fcharset134 x;}}\\f0 \xE4\xB8\xAD\\'d6\\'d0}",
                 QStringLiteral("中中")},
        TextCase{"CellOutsideTable", R"({\rtf1 a\cell b\row c})", QStringLiteral("a\tb\nc")},
        TextCase{"NotRtfShownAsText", "line1\r\nline2", QStringLiteral("line1\nline2")},
        TextCase{"NotRtfGbk", "\xD6\xD0\xCE\xC4", QStringLiteral("中文")}),
    [](const auto &p) { return std::string(p.param.name); });

TEST(RtfReader, HyperlinkAnchorAndSwitches)
{
    QTextDocument doc;
    read_rtf(R"({\rtf1{\field{\*\fldinst HYPERLINK "file.html" \\l "part" \\o "tip"}{\fldrslt go}}})", doc);
    EXPECT_EQ(run_with(doc, QStringLiteral("go")).href, QStringLiteral("file.html#part"));
}

TEST(RtfReader, ParagraphFormatsCarryOverPar)
{
    QTextDocument doc;
    read_rtf(R"({\rtf1\pard\qc\li720\sa200 A\par B\par\pard C\par})", doc);
    const QTextBlock a = doc.begin();
    EXPECT_EQ(a.blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    EXPECT_EQ(a.blockFormat().leftMargin(), 48);
    EXPECT_EQ(a.blockFormat().bottomMargin(), 200 / 15.0);
    EXPECT_EQ(a.next().blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    EXPECT_EQ(a.next().next().blockFormat().leftMargin(), 0);
}

TEST(RtfReader, LibreOfficeText)
{
    QTextDocument doc;
    const RtfReadResult result = read_rtf(fixture(QStringLiteral("lo_text.rtf")), doc);
    EXPECT_TRUE(result.warnings.isEmpty()) << result.warnings.join(QLatin1Char('\n')).toStdString();
    // LibreOffice wrote the fallback bytes of 宋体 text in Shift-JIS: the \u values must win.
    EXPECT_EQ(doc.toPlainText(),
              QStringLiteral("普通文本 粗体 红色 Latin 2020\n大字 镕堃喆 € © 😀\n链接文字\n斜体 下划线 删除线"));
    EXPECT_TRUE(run_with(doc, QStringLiteral("粗体")).bold);
    EXPECT_FALSE(run_with(doc, QStringLiteral("普通文本")).bold);
    EXPECT_EQ(run_with(doc, QStringLiteral("红色")).foreground, QColor(255, 0, 0));
    EXPECT_EQ(run_with(doc, QStringLiteral("大字")).size, 18);
    EXPECT_EQ(run_with(doc, QStringLiteral("普通文本")).size, 12);
    EXPECT_TRUE(run_with(doc, QStringLiteral("斜体")).italic);
    EXPECT_TRUE(run_with(doc, QStringLiteral("下划线")).underline);
    EXPECT_TRUE(run_with(doc, QStringLiteral("删除线")).strike);
    EXPECT_EQ(run_with(doc, QStringLiteral("链接文字")).href, QStringLiteral("https://example.com/路径?q=1"));
}

TEST(RtfReader, LibreOfficePicture)
{
    QTextDocument doc;
    const RtfReadResult result = read_rtf(fixture(QStringLiteral("lo_picture.rtf")), doc);
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("图片前%1图片后").arg(QChar(QChar::ObjectReplacementCharacter)));
    const auto images = image_runs(doc);
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(centre_colour(images[0].picture), QColor(255, 0, 0));
    EXPECT_NEAR(images[0].image_width, 80, 1);
    EXPECT_NEAR(images[0].image_height, 60, 1);
    EXPECT_EQ(result.placeholders, 0);
}

TEST(RtfInsert, JpegFragmentAtCursorAndOverSelection)
{
    // The fragment built for an inserted JPEG file: no size words, upper-case hex.
    const QByteArray jpeg = image_bytes(solid_image(20, 10, Qt::blue), "JPEG");
    const QByteArray fragment = "{\\rtf1\r\n{\\pict\r\n\\jpegblip " + jpeg.toHex().toUpper() + "\r\n}\r\n}\r\n";

    QTextDocument doc;
    doc.setPlainText(QStringLiteral("前后"));
    QTextCursor cursor(&doc);
    cursor.setPosition(1);
    const RtfReadResult result = insert_rtf(cursor, fragment);
    EXPECT_TRUE(result.warnings.isEmpty());
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("前%1后").arg(QChar(QChar::ObjectReplacementCharacter)));
    EXPECT_EQ(doc.blockCount(), 1);
    const auto images = image_runs(doc);
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].image_width, 20);
    EXPECT_EQ(images[0].image_height, 10);
    // Saved, the JPEG is kept byte for byte.
    EXPECT_TRUE(QByteArray(write_rtf(doc))
                    .replace("\r\n", "")
                    .contains("\\jpegblip\\picw20\\pich10\\picwgoal300\\pichgoal150" + jpeg.toHex()));
    // One undo step takes it out again.
    doc.undo();
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("前后"));

    cursor.setPosition(0);
    cursor.setPosition(2, QTextCursor::KeepAnchor);
    insert_rtf(cursor, R"({\rtf1 {\b X}Y\par Z})");
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("XY\nZ"));
    EXPECT_TRUE(run_with(doc, QStringLiteral("X")).bold);
}
