// Archives from the network are untrusted: hostile names, damaged structures and bad data must
// fail with a clear error and leave the disk exactly as it was.
#include "backup/zip_package.h"
#include "platform/code_page.h"
#include "support/temp_folder.h"
#include "zip_test_util.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <functional>

using namespace yunshan;

namespace {

// A workspace whose target folder already holds the user's database, and a sibling folder that
// an escaping name would reach.
struct Workspace {
    test::TempFolder tmp;
    QString target = tmp.mkdir(QStringLiteral("data/notes"));
    Workspace() { test::TempFolder::write(target + QStringLiteral("/notedb.sl3"), "the current database"); }

    // Extracts and expects an ArchiveError whose message contains `expected`, with nothing changed
    // anywhere in the workspace.
    void expect_refused(const QByteArray &archive, const QString &password, const char *expected)
    {
        const auto before = test::snapshot(tmp.path());
        try {
            extract_package(archive, password, target);
            ADD_FAILURE() << "no error";
        } catch (const ArchiveError &e) {
            EXPECT_NE(QString::fromUtf8(e.what()).indexOf(QString::fromUtf8(expected)), -1) << e.what();
        }
        EXPECT_EQ(test::snapshot(tmp.path()), before);
    }
};

} // namespace

TEST(ZipSafety, NamesEscapingTheFolderAreRefusedBeforeAnythingIsWritten)
{
    const char *const names[] = {"../escaped.txt",
                                 "../../escaped.txt",
                                 "/tmp/absolute_escape.txt",
                                 "C:/escaped.txt",
                                 "C:escaped.txt",
                                 "..\\escaped.txt",
                                 "sub/../../escaped.txt",
                                 "sub\\..\\..\\escaped.txt",
                                 "\\absolute.txt",
                                 "a\x01name.txt",
                                 "./",
                                 ""};
    for (const char *name : names) {
        SCOPED_TRACE(name);
        Workspace w;
        // A harmless entry first: it must not be written either.
        const QByteArray zip = test::make_stored_zip({{"first.txt", "harmless"}, {name, "escaped"}});
        w.expect_refused(zip, QString(), "unsafe entry name");
    }
    EXPECT_FALSE(QFile::exists(QStringLiteral("/tmp/absolute_escape.txt")));
}

TEST(ZipSafety, HarmlessDotsAndBackslashesStayInside)
{
    Workspace w;
    const QByteArray zip =
        test::make_stored_zip({{"./a.txt", "a"}, {"sub\\b.txt", "b"}, {"sub/./c..txt", "c"}, {"d/", ""}});
    extract_package(zip, QString(), w.target);
    EXPECT_EQ(test::snapshot(w.target),
              (QMap<QString, QByteArray>{{QStringLiteral("notedb.sl3"), "the current database"},
                                         {QStringLiteral("a.txt"), "a"},
                                         {QStringLiteral("sub/"), ""},
                                         {QStringLiteral("sub/b.txt"), "b"},
                                         {QStringLiteral("sub/c..txt"), "c"},
                                         {QStringLiteral("d/"), ""}}));
}

TEST(ZipNames, UnflaggedNamesAreUtf8WhenValidElseCodePage936)
{
    Workspace w;
    const QByteArray zip = test::make_stored_zip({{unicode_to_ansi(QStringLiteral("图片/照片.jpg")), "gbk", false},
                                                  {QStringLiteral("日记.txt").toUtf8(), "utf8", false}});
    extract_package(zip, QString(), w.target);
    EXPECT_EQ(test::TempFolder::read(w.target + QStringLiteral("/图片/照片.jpg")), "gbk");
    EXPECT_EQ(test::TempFolder::read(w.target + QStringLiteral("/日记.txt")), "utf8");
}

TEST(ZipSafety, LinkInTheTargetFolderIsNotFollowedOutside)
{
    Workspace w;
    const QString outside = w.tmp.mkdir(QStringLiteral("outside"));
    ASSERT_TRUE(QFile::link(outside, w.target + QStringLiteral("/link")));
    w.expect_refused(test::make_stored_zip({{"link/x.txt", "escaped"}}), QString(), "leads outside");
}

TEST(ZipSafety, DamagedArchivesChangeNothing)
{
    test::TempFolder src;
    const QString source = src.file(QStringLiteral("notedb.sl3"));
    test::TempFolder::write(source, test::sample_bytes(200000, 9));
    const QByteArray plain = build_package(source, QString());
    const QByteArray encrypted = build_package(source, QStringLiteral("pw"));
    const QByteArray stored = test::make_stored_zip({{"a.txt", "first entry"}, {"sub/b.txt", "second entry"}});
    const qsizetype central = plain.size() - 22 - 56; // offset of the central record in our package

    struct Case {
        const char *label;
        QByteArray archive;
        QString password;
        const char *message;
    };
    std::vector<Case> cases = {
        {"not a zip", QByteArray(5000, 'x'), QString(), "not a ZIP archive"},
        {"empty buffer", QByteArray(), QString(), "not a ZIP archive"},
        {"no entries", test::make_stored_zip({}), QString(), "no files"},
    };
    for (const qsizetype cut :
         {qsizetype(10), qsizetype(29), qsizetype(100), plain.size() / 2, plain.size() - 23, plain.size() - 1})
        cases.push_back({"truncated", plain.left(cut), QString(), ""});
    const auto changed = [](QByteArray bytes, const std::function<void(QByteArray &)> &change) {
        change(bytes);
        return bytes;
    };
    cases.push_back({"flipped data byte",
                     changed(plain, [](QByteArray &b) { b[b.size() / 2] = static_cast<char>(b[b.size() / 2] ^ 0x40); }),
                     QString(), "corrupted"});
    cases.push_back(
        {"flipped encrypted byte",
         changed(encrypted, [](QByteArray &b) { b[b.size() / 2] = static_cast<char>(b[b.size() / 2] ^ 0x40); }),
         QStringLiteral("pw"), "Wrong password or corrupted file"});
    cases.push_back({"uncompressed size too large",
                     changed(plain,
                             [central](QByteArray &b) {
                                 test::set_le32(b, central + 24, test::le32(b, central + 24) + 1);
                                 test::set_le32(b, 22, test::le32(b, 22) + 1);
                             }),
                     QString(), "shorter than recorded"});
    cases.push_back({"uncompressed size too small",
                     changed(plain,
                             [central](QByteArray &b) {
                                 test::set_le32(b, central + 24, test::le32(b, central + 24) - 1);
                                 test::set_le32(b, 22, test::le32(b, 22) - 1);
                             }),
                     QString(), "longer than recorded"});
    cases.push_back(
        {"central size disagrees with local",
         changed(plain, [central](QByteArray &b) { test::set_le32(b, central + 20, test::le32(b, central + 20) + 1); }),
         QString(), "disagree"});
    cases.push_back({"compressed size past the data",
                     changed(plain,
                             [central](QByteArray &b) {
                                 test::set_le32(b, central + 20, 0x7FFFFFF0);
                                 test::set_le32(b, 18, 0x7FFFFFF0);
                             }),
                     QString(), "runs past"});
    cases.push_back({"local header offset outside",
                     changed(plain, [central](QByteArray &b) { test::set_le32(b, central + 42, 0x10000000); }),
                     QString(), "bad local header"});
    cases.push_back({"name length past the directory",
                     changed(plain, [central](QByteArray &b) { b[central + 28] = static_cast<char>(0xFF); }), QString(),
                     "bad central directory record"});
    cases.push_back({"entry count too high",
                     changed(plain,
                             [](QByteArray &b) {
                                 b[b.size() - 14] = 2;
                                 b[b.size() - 12] = 2;
                             }),
                     QString(), "bad central directory record"});
    cases.push_back({"bad CRC in the second entry",
                     changed(stored, [](QByteArray &b) { b[b.indexOf("second entry")] = 'S'; }), QString(),
                     "CRC mismatch"});

    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        Workspace w;
        w.expect_refused(c.archive, c.password, c.message);
    }
}

TEST(ZipSafety, FileCannotReplaceAFolder)
{
    Workspace w;
    QDir().mkpath(w.target + QStringLiteral("/photos/2024"));
    w.expect_refused(test::make_stored_zip({{"photos", "a file where a folder is"}}), QString(),
                     "Cannot replace the folder");
    w.expect_refused(test::make_stored_zip({{"x", "file"}, {"x/y", "and folder"}}), QString(),
                     "both as a file and as a folder");
}
