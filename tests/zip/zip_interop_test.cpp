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
        const auto unpacked = test::run_tool(QStringLiteral("unzip"), {QStringLiteral("-q"), zip, QStringLiteral("-d"), out}, tmp.path());
        EXPECT_EQ(unpacked.exit_code, 0) << unpacked.output.toStdString();
    } else {
        const QString pw = password_file(tmp, password);
        const auto tested = test::run_shell(QStringLiteral("unzip -t -P \"$(cat \"$1\")\" \"$2\""), {pw, zip}, tmp.path());
        EXPECT_EQ(tested.exit_code, 0) << tested.output.toStdString();
        EXPECT_NE(tested.output.indexOf("No errors detected"), -1) << tested.output.toStdString();
        const auto unpacked = test::run_shell(QStringLiteral("unzip -q -P \"$(cat \"$1\")\" \"$2\" -d \"$3\""), {pw, zip, out}, tmp.path());
        EXPECT_EQ(unpacked.exit_code, 0) << unpacked.output.toStdString();
        // And the data really is encrypted: another password fails.
        const auto wrong = test::run_tool(QStringLiteral("unzip"), {QStringLiteral("-t"), QStringLiteral("-P"), QStringLiteral("wrong"), zip}, tmp.path());
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
