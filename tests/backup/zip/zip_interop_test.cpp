// Both directions against the Info-ZIP command-line tools.
#include "backup/zip_package.h"
#include "platform/code_page.h"
#include "support/temp_folder.h"
#include "zip_test_util.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

using namespace yunshan;

namespace {

// Passwords reach the tools through a file read by the shell, so that code page 936 bytes
// arrive in argv unchanged.
QString password_file(const test::TempFolder &tmp, const QString &password)
{
    const QString path = tmp.file(QStringLiteral("password.bin"));
    test::TempFolder::write(path, unicode_to_ansi(password));
    return path;
}

const QString kChinesePassword = QStringLiteral("云杉札记密码");

} // namespace

class UnzipReadsOurPackage : public ::testing::TestWithParam<QString> {};

TEST_P(UnzipReadsOurPackage, ByteIdenticalWithCrcChecks)
{
    const QString password = GetParam();
    test::TempFolder tmp;
    // Exactly two compression blocks of the writer: the stream ends in an empty final block.
    const QByteArray content = test::sample_bytes(2 * 1024 * 1024, 11);
    const QString source = tmp.mkdir(QStringLiteral("src")) + QStringLiteral("/notedb.sl3");
    test::TempFolder::write(source, content);
    const QString zip = tmp.file(QStringLiteral("notedb.zip"));
    test::TempFolder::write(zip, build_package(source, password));
    const QString out = tmp.mkdir(QStringLiteral("out"));

    if (password.isEmpty()) {
        // A plain archive: no password option at all, so unzip would stop at any encrypted entry.
        const auto tested = test::run_tool(QStringLiteral("unzip"), {QStringLiteral("-t"), zip}, tmp.path());
        EXPECT_EQ(tested.exit_code, 0) << tested.output.toStdString();
        const auto unpacked =
            test::run_tool(QStringLiteral("unzip"), {QStringLiteral("-q"), zip, QStringLiteral("-d"), out}, tmp.path());
        EXPECT_EQ(unpacked.exit_code, 0) << unpacked.output.toStdString();
    } else {
        const QString pw = password_file(tmp, password);
        const auto tested =
            test::run_shell(QStringLiteral("unzip -t -P \"$(cat \"$1\")\" \"$2\""), {pw, zip}, tmp.path());
        EXPECT_EQ(tested.exit_code, 0) << tested.output.toStdString();
        EXPECT_NE(tested.output.indexOf("No errors detected"), -1) << tested.output.toStdString();
        const auto unpacked = test::run_shell(QStringLiteral("unzip -q -P \"$(cat \"$1\")\" \"$2\" -d \"$3\""),
                                              {pw, zip, out}, tmp.path());
        EXPECT_EQ(unpacked.exit_code, 0) << unpacked.output.toStdString();
        // And the data really is encrypted: another password fails.
        const auto wrong =
            test::run_tool(QStringLiteral("unzip"),
                           {QStringLiteral("-t"), QStringLiteral("-P"), QStringLiteral("wrong"), zip}, tmp.path());
        EXPECT_NE(wrong.exit_code, 0) << wrong.output.toStdString();
    }
    EXPECT_EQ(test::snapshot(out), (QMap<QString, QByteArray>{{QStringLiteral("notedb.sl3"), content}}));
}

INSTANTIATE_TEST_SUITE_P(Passwords, UnzipReadsOurPackage,
                         ::testing::Values(QString(), QStringLiteral("secret"), kChinesePassword));

struct InfoZipCase {
    const char *label;
    QStringList options; // zip options besides the password
    QString password;
};

class WeReadInfoZipArchives : public ::testing::TestWithParam<InfoZipCase> {};

TEST_P(WeReadInfoZipArchives, AllEntriesExtracted)
{
    const InfoZipCase &c = GetParam();
    test::TempFolder tmp;
    const QString src = tmp.mkdir(QStringLiteral("src"));
    test::TempFolder::write(src + QStringLiteral("/notedb.sl3"), test::sample_bytes(400000, 5));
    test::TempFolder::write(src + QStringLiteral("/empty.txt"), QByteArray());
    QDir().mkpath(src + QStringLiteral("/sub/图片"));
    test::TempFolder::write(src + QStringLiteral("/sub/图片/照片.jpg"), test::sample_bytes(90000, 6));
    const QString zip = tmp.file(QStringLiteral("pkg.zip"));

    QString script = QStringLiteral("zip -q -r");
    for (const QString &o : c.options)
        script += QLatin1Char(' ') + o;
    QStringList args{zip};
    if (!c.password.isEmpty()) {
        script += QStringLiteral(" -P \"$(cat \"$2\")\"");
        args << password_file(tmp, c.password);
    }
    script += QStringLiteral(" \"$1\" .");
    const auto made = test::run_shell(script, args, src);
    ASSERT_EQ(made.exit_code, 0) << made.output.toStdString();
    QFile f(zip);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray archive = f.readAll();

    const QString out = tmp.file(QStringLiteral("out"));
    if (!c.password.isEmpty()) {
        try {
            extract_package(archive, QStringLiteral("not the password"), out);
            ADD_FAILURE() << "no error for a wrong password";
        } catch (const ArchiveError &e) {
            EXPECT_STREQ(e.what(), "Wrong password or corrupted file");
        }
        EXPECT_FALSE(QFile::exists(out));
    }
    extract_package(archive, c.password, out);
    EXPECT_EQ(test::snapshot(out), test::snapshot(src));

    // The first entry of the central directory, read into memory.
    const auto listing = test::run_tool(QStringLiteral("unzip"), {QStringLiteral("-Z1"), zip}, tmp.path());
    const QString first = QString::fromUtf8(listing.output.split('\n').value(0));
    ASSERT_FALSE(first.isEmpty()) << listing.output.toStdString();
    if (!first.endsWith(QLatin1Char('/'))) {
        EXPECT_EQ(read_first_entry(archive, c.password), test::TempFolder::read(src + QLatin1Char('/') + first));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, WeReadInfoZipArchives,
    ::testing::Values(InfoZipCase{"deflated", {}, QString()}, InfoZipCase{"stored", {QStringLiteral("-0")}, QString()},
                      InfoZipCase{"encrypted", {}, QStringLiteral("secret")},
                      InfoZipCase{"stored_encrypted", {QStringLiteral("-0")}, QStringLiteral("secret")},
                      InfoZipCase{"chinese_password", {}, kChinesePassword}),
    [](const ::testing::TestParamInfo<InfoZipCase> &p) { return std::string(p.param.label); });

// Contents around the writer's choices: which segments are stored and which deflated, and where
// its compression blocks (1 MiB), its segments (16 KiB) and the stored blocks (64 KiB) end.
struct Shape {
    const char *label;
    QByteArray (*make)();
};

void PrintTo(const Shape &shape, std::ostream *os)
{
    *os << shape.label;
}

constexpr qsizetype kMiB = 1024 * 1024;

QByteArray mixed_runs()
{
    QByteArray bytes;
    for (std::uint32_t i = 0; bytes.size() < 3 * kMiB + 100000; ++i) {
        bytes += test::noise_bytes(100000 + 7919 * (i % 5), i);
        bytes += test::text_bytes(40000 + 3001 * (i % 7), i);
    }
    return bytes;
}

const Shape kShapes[] = {
    {"empty", [] { return QByteArray(); }},
    {"noise_of_two_blocks_and_5_bytes", [] { return test::noise_bytes(2 * kMiB + 5, 1); }},
    {"noise_of_exactly_one_block", [] { return test::noise_bytes(kMiB, 2); }},
    {"text_one_byte_short_of_a_block", [] { return test::text_bytes(kMiB - 1, 3); }},
    {"text_then_noise_one_byte_past_a_block",
     [] { return test::text_bytes(kMiB / 2, 4) + test::noise_bytes(kMiB / 2 + 1, 4); }},
    {"noise_ending_in_a_short_segment", [] { return test::noise_bytes(5 * 16384 + 100, 5); }},
    {"text_ending_in_noise", [] { return test::text_bytes(200000, 6) + test::noise_bytes(300000, 6); }},
    {"mixed_runs_across_blocks", mixed_runs},
};

class PackageShapes : public ::testing::TestWithParam<std::tuple<Shape, const char *>> {};

TEST_P(PackageShapes, InfoZipAndOurReaderGetTheFileBackAndRefuseBadOnes)
{
    const auto &[shape, password_utf8] = GetParam();
    const QString password = QString::fromUtf8(password_utf8);
    test::TempFolder tmp;
    const QByteArray content = shape.make();
    const QString source = tmp.mkdir(QStringLiteral("src")) + QStringLiteral("/notedb.sl3");
    test::TempFolder::write(source, content);
    const QString zip = tmp.file(QStringLiteral("notedb.zip"));
    build_package_file(source, password, zip);
    const QByteArray archive = test::TempFolder::read(zip);
    const QMap<QString, QByteArray> expected{{QStringLiteral("notedb.sl3"), content}};

    // Info-ZIP: the test of every CRC, then the file itself.
    const QString pw = password_file(tmp, password);
    const QString with_password = password.isEmpty() ? QString() : QStringLiteral(" -P \"$(cat \"$1\")\"");
    const auto tested =
        test::run_shell(QStringLiteral("unzip -t") + with_password + QStringLiteral(" \"$2\""), {pw, zip}, tmp.path());
    EXPECT_EQ(tested.exit_code, 0) << tested.output.toStdString();
    const QString by_unzip = tmp.mkdir(QStringLiteral("unzip"));
    const auto unpacked =
        test::run_shell(QStringLiteral("unzip -q") + with_password + QStringLiteral(" \"$2\" -d \"$3\""),
                        {pw, zip, by_unzip}, tmp.path());
    EXPECT_EQ(unpacked.exit_code, 0) << unpacked.output.toStdString();
    EXPECT_EQ(test::snapshot(by_unzip), expected);

    // Our reader, from memory and from the file.
    const QString from_memory = tmp.file(QStringLiteral("memory"));
    extract_package(archive, password, from_memory);
    EXPECT_EQ(test::snapshot(from_memory), expected);
    const QString from_file = tmp.file(QStringLiteral("file"));
    extract_package_file(zip, password, from_file);
    EXPECT_EQ(test::snapshot(from_file), expected);

    // A wrong password, and one flipped bit in the middle of the entry's data (stored or deflated),
    // leave nothing.
    const qsizetype data_start = 30 + 10;
    const qsizetype data_size = test::le32(archive, 18);
    QByteArray damaged = archive;
    damaged[data_start + data_size / 2] = static_cast<char>(damaged[data_start + data_size / 2] ^ 0x01);
    struct Bad {
        const char *what;
        QByteArray archive;
        QString password;
    };
    std::vector<Bad> bad{{"damaged", damaged, password}};
    if (!password.isEmpty())
        bad.push_back({"wrong password", archive, QStringLiteral("not the password")});
    for (const Bad &b : bad) {
        SCOPED_TRACE(b.what);
        const QString target = tmp.file(QStringLiteral("bad"));
        try {
            extract_package(b.archive, b.password, target);
            ADD_FAILURE() << "no error";
        } catch (const ArchiveError &e) {
            if (!password.isEmpty()) {
                EXPECT_STREQ(e.what(), kWrongPasswordMessage);
            } else {
                EXPECT_NE(
                    QString::fromUtf8(e.what()).indexOf(QStringLiteral("The data of \"notedb.sl3\" is corrupted (")),
                    -1)
                    << e.what();
            }
        }
        EXPECT_FALSE(QFile::exists(target));
        const QString bad_zip = tmp.file(QStringLiteral("bad.zip"));
        test::TempFolder::write(bad_zip, b.archive);
        const QString bad_pw = password_file(tmp, b.password);
        const auto refused = test::run_shell(QStringLiteral("unzip -t") + with_password + QStringLiteral(" \"$2\""),
                                             {bad_pw, bad_zip}, tmp.path());
        EXPECT_NE(refused.exit_code, 0) << refused.output.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Writer, PackageShapes,
                         ::testing::Combine(::testing::ValuesIn(kShapes), ::testing::Values("", "secret")),
                         [](const ::testing::TestParamInfo<std::tuple<Shape, const char *>> &p) {
                             return std::string(std::get<0>(p.param).label) +
                                    (*std::get<1>(p.param) ? "_encrypted" : "_plain");
                         });
