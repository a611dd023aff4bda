// Damaged bodies: nothing may crash or hang, and what can be read is shown.
#include "editor/rtf/rtf.h"

#include "rtf_test_util.h"

#include <gtest/gtest.h>

#include <QTextDocument>

#include <random>

using namespace yunshan;
using namespace rtftest;

namespace {

struct Damaged {
    const char *name;
    QByteArray rtf;
    QString shown;     // text expected in the document
    bool warns;        // a warning is expected
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
        Damaged{"DeepNestingClosed", repeated("{", 5000, "{\\rtf1 ") + "x" + repeated("}", 5001), QStringLiteral("x"), true},
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
        Damaged{"BadDib", R"({\rtf1 {\pict\dibitmap0 28000000ffffff7fffffff7f01001800}C})",
                QStringLiteral("\uFFFCC"), true},
        Damaged{"UnclosedSkippedGroup", R"({\rtf1 A{\*\foo {B)", QStringLiteral("A"), true},
        Damaged{"LongControlWord", repeated("a", 100000, "{\\rtf1 X\\", " Y}"), QStringLiteral("XY"), false},
        Damaged{"OnlyHeader", "{\\rtf", QString(), true}),
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
                               QStringLiteral("lo_text.rtf"), QStringLiteral("lo_picture.rtf")};
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
                case 0: mutated[at] = char(random() & 0xFF); break;
                case 1: mutated[at] = specials[random() % (sizeof specials - 1)]; break;
                default: mutated.remove(at, std::min<qsizetype>(1 + random() % 16, mutated.size() - at)); break;
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
