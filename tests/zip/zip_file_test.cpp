// The package written to and read from files: the same archive as in memory, streamed.
#include "backup/zip_package.h"
#include "support/temp_folder.h"
#include "zip_test_util.h"

#include <gtest/gtest.h>

#include <QFile>

namespace yunshan {
namespace {

using test::TempFolder;

TEST(ZipFile, WithoutPasswordTheFileHoldsTheMemoryArchiveByteForByte)
{
    TempFolder dir;
    const QString source = dir.file(QStringLiteral("notedb.sl3"));
    TempFolder::write(source, test::sample_bytes(3 * 1024 * 1024 + 17, 7)); // several compression blocks
    const QString archive = dir.file(QStringLiteral("out.zip"));
    TempFolder::write(archive, QByteArray(10 * 1024 * 1024, 'x')); // an older, longer file is replaced
    build_package_file(source, QString(), archive);
    EXPECT_EQ(TempFolder::read(archive), build_package(source, QString()));
}

TEST(ZipFile, EncryptedFileRoundTripsAndChecksThePassword)
{
    TempFolder dir;
    const QString source = dir.file(QStringLiteral("notedb.sl3"));
    const QByteArray data = test::sample_bytes(2 * 1024 * 1024 + 5, 3);
    TempFolder::write(source, data);
    const QString archive = dir.file(QStringLiteral("p.zip"));
    build_package_file(source, QStringLiteral("密码pw"), archive);
    // The memory reader accepts what the file writer made, and the file reader the same bytes.
    const QString a = dir.mkdir(QStringLiteral("a"));
    const QString b = dir.mkdir(QStringLiteral("b"));
    extract_package(TempFolder::read(archive), QStringLiteral("密码pw"), a);
    extract_package_file(archive, QStringLiteral("密码pw"), b);
    EXPECT_EQ(TempFolder::read(a + QStringLiteral("/notedb.sl3")), data);
    EXPECT_EQ(TempFolder::read(b + QStringLiteral("/notedb.sl3")), data);

    const QString c = dir.mkdir(QStringLiteral("c"));
    try {
        extract_package_file(archive, QStringLiteral("wrong"), c);
        FAIL() << "no error";
    } catch (const ArchiveError &e) {
        EXPECT_STREQ(e.what(), kWrongPasswordMessage);
    }
    EXPECT_FALSE(QFile::exists(c + QStringLiteral("/notedb.sl3")));
}

TEST(ZipFile, DamagedOrMissingArchiveFilesFailWithoutWriting)
{
    TempFolder dir;
    const QString target = dir.mkdir(QStringLiteral("t"));
    const QString junk = dir.file(QStringLiteral("junk.zip"));
    TempFolder::write(junk, QByteArray(5000, 'j'));
    EXPECT_THROW(extract_package_file(junk, QString(), target), ArchiveError);
    const QString tiny = dir.file(QStringLiteral("tiny.zip"));
    TempFolder::write(tiny, QByteArray("PK"));
    EXPECT_THROW(extract_package_file(tiny, QString(), target), ArchiveError);
    EXPECT_THROW(extract_package_file(dir.file(QStringLiteral("none.zip")), QString(), target), ArchiveError);
    EXPECT_TRUE(test::snapshot(target).isEmpty());
    EXPECT_THROW(
        build_package_file(dir.file(QStringLiteral("missing.sl3")), QString(), dir.file(QStringLiteral("x.zip"))),
        ArchiveError);
    EXPECT_THROW(build_package_file(junk, QString(), dir.file(QStringLiteral("no/such/folder.zip"))), ArchiveError);
}

} // namespace
} // namespace yunshan
