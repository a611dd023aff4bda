// Damaged bodies: nothing may crash or hang, and what can be read is shown.
#include "editor/rtf/rtf.h"

#include "rtf_test_util.h"

#include <gtest/gtest.h>

#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>

#include <random>

using namespace yunshan;
using namespace rtftest;

namespace {

struct Damaged {
    const char *name;
    QByteArray rtf;
    QString shown; // text expected in the document
    bool warns;    // a warning is expected
};

QByteArray repeated(const char *piece, int times, const char *before = "", const char *after = "")
{
    QByteArray b(before);
    b.reserve(b.size() + qsizetype(qstrlen(piece)) * times + qsizetype(qstrlen(after)));
    for (int i = 0; i < times; ++i)
        b.append(piece);
    b.append(after);
    return b;
}

class RtfDamaged : public ::testing::TestWithParam<Damaged> {};

} // namespace

TEST_P(RtfDamaged, ShowsWhatCanBeRead)
{
    QTextDocument doc;
    const RtfReadResult result = read_rtf(GetParam().rtf, doc);
    EXPECT_TRUE(doc.toPlainText().contains(GetParam().shown)) << doc.toPlainText().left(200).toStdString();
    EXPECT_EQ(!result.warnings.isEmpty(), GetParam().warns) << result.warnings.join(QLatin1Char('\n')).toStdString();
    // Whatever was read can be saved and read again.
    QTextDocument again;
    read_rtf(write_rtf(doc), again);
    EXPECT_EQ(again.toPlainText(), doc.toPlainText());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RtfDamaged,
    ::testing::Values(
        Damaged{"MissingCloseBrace", R"({\rtf1 {\b A}B)", QStringLiteral("AB"), true},
        Damaged{"ExtraCloseBrace", R"({\rtf1 A}}B})", QStringLiteral("AB"), true},
        Damaged{"DeepNesting", repeated("{", 100000, "{\\rtf1 ", "deep"), QStringLiteral("deep"), true},
        Damaged{"DeepNestingClosed", repeated("{", 5000, "{\\rtf1 ") + "x" + repeated("}", 5001), QStringLiteral("x"),
                true},
        Damaged{"ManyCloseBraces", repeated("}", 100000, "{\\rtf1 A}"), QStringLiteral("A"), false},
        Damaged{"HugeNumbers", R"({\rtf1 \fs99999999999999999999\cf-99999999999\li99999999999 \u99999999999?A\'zz B})",
                QStringLiteral("Azz B"), true},
        Damaged{"HugeBin", R"({\rtf1 A\bin999999999999 xyz})", QStringLiteral("A"), true},
        Damaged{"TruncatedHex", R"({\rtf1 A\'d)", QStringLiteral("A"), true},
        Damaged{"TruncatedGbkPair", R"({\rtf1\ansicpg936 A\'d6})", QStringLiteral("A\uFFFD"), false},
        Damaged{"TruncatedPicture", "{\\rtf1 A{\\pict\\pngblip\\picwgoal600\\pichgoal300 89504e470d0a1a0a0000",
                QStringLiteral("A\uFFFC"), true},
        Damaged{"BrokenJpeg", R"({\rtf1 A{\pict\jpegblip ffd8ffe000104a46}B})", QStringLiteral("A\uFFFCB"), true},
        Damaged{"HugePictureGoal", R"({\rtf1 {\pict\emfblip\picwgoal999999999\pichgoal999999999 00}C})",
                QStringLiteral("\uFFFCC"), true},
        Damaged{"BadMetafile", R"({\rtf1 {\pict\wmetafile8 0100090000ffffffff0000430f000000}C})",
                QStringLiteral("\uFFFCC"), true},
        Damaged{"BadDib", R"({\rtf1 {\pict\dibitmap0 28000000ffffff7fffffff7f01001800}C})", QStringLiteral("\uFFFCC"),
                true},
        Damaged{"UnclosedSkippedGroup", R"({\rtf1 A{\*\foo {B)", QStringLiteral("A"), true},
        Damaged{"LongControlWord", repeated("a", 100000, "{\\rtf1 X\\", " Y}"), QStringLiteral("XY"), false},
        Damaged{"OnlyHeader", "{\\rtf", QString(), true},
        // Broken tables
        Damaged{"CellWithoutTable", R"({\rtf1 A\cell B\cell\row C})", QStringLiteral("A\tB\t\nC"), false},
        Damaged{"RowNeverEnded", R"({\rtf1\trowd\cellx1000\pard\intbl A\cell B\cell C})", QStringLiteral("A\nB\nC"),
                false},
        Damaged{"RowNeverEndedThenText", R"({\rtf1\trowd\cellx1000\pard\intbl A\cell\pard B})", QStringLiteral("A\nB"),
                false},
        Damaged{"HugeAndBackwardEdges",
                R"({\rtf1\trowd\trleft99999999999\cellx-99999999999\cellx99999999999\cellx5\cellx5 )"
                R"(A\cell B\cell C\cell\row})",
                QStringLiteral("A\nB\nC"), false},
        Damaged{"TableWordsOutsideTables",
                R"({\rtf1\brdrs\brdrw99999\brdrcf99\clbrdrt\brdrdb\clcbpat999\clmrg\clvmrg A\cell B})",
                QStringLiteral("A\tB"), false},
        Damaged{"TableWordsInHeaderTables", R"({\rtf1{\fonttbl{\f0\trowd x\cell;}}{\colortbl;\cell\row;}A})",
                QStringLiteral("A"), false},
        Damaged{"NestedCellsWithoutOuterTable", R"({\rtf1\itap2 a\nestcell b\nestcell\nestrow c})",
                QStringLiteral("a\tb\t\nc"), false},
        Damaged{"RowInsideLink",
                R"({\rtf1{\field{\*\fldinst{HYPERLINK "http://x/"}}{\fldrslt\trowd a\cell b\cell\row}}c})",
                QStringLiteral("a\nb\nc"), false},
        Damaged{"ThousandsOfCellsUnclosed", repeated("\\trowd\\cellx100 x\\cell", 5000, "{\\rtf1 "),
                QStringLiteral("x\tx\tx"), true}),
    [](const auto &p) { return std::string(p.param.name); });

TEST(RtfDamagedPictures, CutOffPictureIsNotWrittenBroken)
{
    // A PNG cut short may not reach the saved body: other programs refuse the whole body then.
    const QByteArray png = image_bytes(solid_image(30, 20, Qt::red), "PNG");
    QTextDocument doc;
    read_rtf("{\\rtf1 {\\pict\\pngblip " + png.left(png.size() / 2).toHex() + "}}", doc);
    const QByteArray saved = write_rtf(doc);
    EXPECT_FALSE(saved.contains(png.left(png.size() / 2).toHex()));
    EXPECT_TRUE(saved.contains("\\pngblip"));
    QTextDocument again;
    EXPECT_EQ(read_rtf(saved, again).placeholders, 0);

    // The same for metafile data without a sound header.
    QTextDocument emf;
    read_rtf(R"({\rtf1 {\pict\emfblip 0100000084000000deadbeef}})", emf);
    EXPECT_FALSE(write_rtf(emf).contains("deadbeef"));
    EXPECT_TRUE(write_rtf(emf).contains("\\pngblip"));
}

// Every fixture cut at many points and with random bytes changed: no crash, no hang, and the
// writer accepts what the reader made.
TEST(RtfFuzz, TruncatedAndMutatedFixtures)
{
    const QStringList names = {QStringLiteral("richedit_chinese.rtf"), QStringLiteral("richedit_pictures.rtf"),
                               QStringLiteral("richedit_table.rtf"),   QStringLiteral("lo_text.rtf"),
                               QStringLiteral("lo_picture.rtf"),       QStringLiteral("lo_table.rtf")};
    std::mt19937 random(qEnvironmentVariableIntValue("RTF_FUZZ_SEED") + 20240611);
    const char specials[] = "{}\\'*;0123456789abcdef \r\n\x81\xd6";
    for (const QString &name : names) {
        SCOPED_TRACE(name.toStdString());
        const QByteArray input = fixture(name);
        ASSERT_FALSE(input.isEmpty());
        const qsizetype step = std::max<qsizetype>(1, input.size() / 300);
        for (qsizetype cut = 0; cut < input.size(); cut += step) {
            QTextDocument doc;
            read_rtf(input.left(cut), doc);
            write_rtf(doc);
        }
        const int rounds = std::max(300, qEnvironmentVariableIntValue("RTF_FUZZ_ROUNDS"));
        for (int round = 0; round < rounds; ++round) {
            QByteArray mutated = input;
            const int changes = 1 + int(random() % 8);
            for (int i = 0; i < changes; ++i) {
                const auto at = qsizetype(random() % quint32(mutated.size()));
                switch (random() % 3) {
                case 0:
                    mutated[at] = char(random() & 0xFF);
                    break;
                case 1:
                    mutated[at] = specials[random() % (sizeof specials - 1)];
                    break;
                default:
                    mutated.remove(at, std::min<qsizetype>(1 + random() % 16, mutated.size() - at));
                    break;
                }
                if (mutated.isEmpty())
                    break;
            }
            QTextDocument doc;
            read_rtf(mutated, doc);
            QTextDocument again;
            read_rtf(write_rtf(doc), again);
            EXPECT_EQ(again.toPlainText().toStdString(), doc.toPlainText().toStdString()) << "round " << round;
        }
    }
}

// Cells are the same text with or without the table around them: the text of the cells in reading
// order, whatever the markup does.
QString cell_text(const QString &plain)
{
    QString s = plain;
    s.remove(QLatin1Char('\n'));
    s.remove(QLatin1Char('\t'));
    return s;
}

TEST(RtfDamagedTables, EveryCellKeepsItsText)
{
    struct Case {
        const char *name;
        QByteArray rtf;
        QString text;
    };
    std::vector<Case> cases;
    QByteArray wide = "{\\rtf1\\trowd";
    QByteArray ragged = "{\\rtf1 ";
    QString wide_text;
    QString ragged_text;
    for (int i = 0; i < 3000; ++i) {
        // One row of 3000 cells with no \row; rows of one to seven cells whose edges all differ.
        wide += "\\cellx" + QByteArray::number(i * 10 + 10);
        ragged += "\\trowd";
        for (int c = 0; c <= i % 7; ++c)
            ragged += "\\cellx" + QByteArray::number((c + 1) * 100 + i % 13);
        ragged += "\\pard\\intbl ";
        for (int c = 0; c <= i % 7; ++c) {
            ragged += "r" + QByteArray::number(i) + "c" + QByteArray::number(c) + "\\cell ";
            ragged_text += QStringLiteral("r%1c%2").arg(i).arg(c);
        }
        ragged += "\\row\r\n";
    }
    wide += "\\pard\\intbl ";
    for (int i = 0; i < 3000; ++i) {
        wide += "c" + QByteArray::number(i) + "\\cell ";
        wide_text += QStringLiteral("c%1").arg(i);
    }
    cases.push_back({"WideRow", wide + "}", wide_text});
    cases.push_back({"RaggedRows", ragged + "\\pard after}", ragged_text + QStringLiteral("after")});
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QTextDocument doc;
        read_rtf(c.rtf, doc);
        EXPECT_EQ(cell_text(doc.toPlainText()), c.text);
        QTextDocument again;
        read_rtf(write_rtf(doc), again);
        EXPECT_EQ(again.toPlainText(), doc.toPlainText());
    }
}

// Past the cells a body may have in tables, rows are read as text: nothing is lost and reading
// stays quick.
TEST(RtfDamagedTables, TooManyCellsBecomeText)
{
    QByteArray rtf = "{\\rtf1\\trowd\\cellx500\\cellx1000";
    QString text;
    for (int i = 0; i < 60000; ++i) {
        rtf += "\\pard\\intbl a" + QByteArray::number(i) + "\\cell b\\cell\\row";
        text += QStringLiteral("a%1b").arg(i);
    }
    rtf += "}";
    QTextDocument doc;
    read_rtf(rtf, doc);
    EXPECT_EQ(cell_text(doc.toPlainText()), text);
    int table_cells = 0;
    for (QTextFrame *frame : doc.rootFrame()->childFrames())
        if (auto *t = qobject_cast<QTextTable *>(frame))
            table_cells += t->rows() * t->columns();
    EXPECT_EQ(table_cells, 100000);
    // The rows after the table are paragraphs, each cell followed by a tab.
    EXPECT_TRUE(doc.toPlainText().endsWith(QStringLiteral("\na59998\tb\t\na59999\tb\t")));
}
