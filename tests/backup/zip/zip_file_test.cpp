// The package written to and read from files: the same archive as in memory, streamed.
#include "backup/zip_package.h"
#include "support/temp_folder.h"
#include "zip_test_util.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>

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

// An archive made by Info-ZIP from a folder holding the database among many other files.
QString crowded_archive(const TempFolder &dir, const QByteArray &database, const QString &password)
{
    const QString source = dir.mkdir(QStringLiteral("crowd"));
    TempFolder::write(source + QStringLiteral("/notedb.sl3"), database);
    for (int i = 0; i < 2000; ++i)
        TempFolder::write(dir.mkdir(QStringLiteral("crowd/sub%1").arg(i % 10)) + QStringLiteral("/f%1.txt").arg(i),
                          QByteArray::number(i));
    const QString archive = dir.file(QStringLiteral("crowd.zip"));
    QStringList arguments{QStringLiteral("-q"), QStringLiteral("-r")};
    if (!password.isEmpty())
        arguments << QStringLiteral("-P") << password;
    arguments << archive << QStringLiteral(".");
    const auto made = test::run_tool(QStringLiteral("zip"), arguments, source);
    EXPECT_EQ(made.exit_code, 0) << made.output.toStdString();
    return archive;
}

TEST(ZipFile, OneEntryIsExtractedAndNoOther)
{
    TempFolder dir;
    const QByteArray database = test::sample_bytes(3 * 1024 * 1024 + 1, 5);
    const QString archive = crowded_archive(dir, database, QStringLiteral("pw"));
    const QString target_folder = dir.mkdir(QStringLiteral("target"));
    const QString target = target_folder + QStringLiteral("/notedb.sl3");
    TempFolder::write(target, "the current database");

    const auto kind_of_failure = [&](const QString &password, const QString &entry) {
        try {
            extract_entry_file(archive, password, entry, target);
        } catch (const ArchiveError &e) {
            return e.kind();
        }
        return ArchiveError::Kind::Damaged;
    };
    EXPECT_EQ(kind_of_failure(QStringLiteral("wrong"), QStringLiteral("notedb.sl3")),
              ArchiveError::Kind::WrongPassword);
    EXPECT_EQ(kind_of_failure(QStringLiteral("pw"), QStringLiteral("none.sl3")), ArchiveError::Kind::MissingEntry);
    EXPECT_EQ(kind_of_failure(QStringLiteral("pw"), QStringLiteral("sub1")), ArchiveError::Kind::MissingEntry);
    EXPECT_EQ(test::snapshot(target_folder),
              (QMap<QString, QByteArray>{{QStringLiteral("notedb.sl3"), "the current database"}}));

    extract_entry_file(archive, QStringLiteral("pw"), QStringLiteral("notedb.sl3"), target);
    EXPECT_EQ(test::snapshot(target_folder), (QMap<QString, QByteArray>{{QStringLiteral("notedb.sl3"), database}}));
}

TEST(ZipFile, NoRoomOrCancelLeavesTheTargetAsItWas)
{
    TempFolder dir;
    const QByteArray database = test::sample_bytes(4 * 1024 * 1024, 6); // several checks of the cancel
    const QString archive = dir.file(QStringLiteral("notedb.zip"));
    TempFolder::write(dir.file(QStringLiteral("notedb.sl3")), database);
    build_package_file(dir.file(QStringLiteral("notedb.sl3")), QString(), archive);
    const QString target_folder = dir.mkdir(QStringLiteral("target"));
    const QString target = target_folder + QStringLiteral("/notedb.sl3");
    TempFolder::write(target, "the current database");
    const auto before = test::snapshot(target_folder);

    struct Case {
        const char *name;
        qint64 free_space;
        int cancel_at; // the cancel check says yes on this call (0: never)
        ArchiveError::Kind kind;
    };
    const Case cases[] = {
        {"a byte too little room", database.size() - 1, 0, ArchiveError::Kind::NoSpace},
        {"ESC before the start", -1, 1, ArchiveError::Kind::Cancelled},
        {"ESC after the first megabyte", -1, 2, ArchiveError::Kind::Cancelled},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        set_free_space_query([&c, &target_folder](const QString &folder) {
            EXPECT_EQ(folder, QFileInfo(target_folder).absoluteFilePath());
            return c.free_space;
        });
        int calls = 0;
        try {
            extract_entry_file(archive, QString(), QStringLiteral("notedb.sl3"), target,
                               [&] { return ++calls == c.cancel_at; });
            ADD_FAILURE() << "no error";
        } catch (const ArchiveError &e) {
            EXPECT_EQ(e.kind(), c.kind) << e.what();
        }
        set_free_space_query({});
        EXPECT_EQ(test::snapshot(target_folder), before);
    }
}

} // namespace
} // namespace yunshan
