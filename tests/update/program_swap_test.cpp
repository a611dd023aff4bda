// Putting a new program file in place of the old one, with real program files (shell scripts)
// in a temporary folder.
#include "backup/zip_package.h"
#include "program_files.h"
#include "support/temp_folder.h"
#include "update/program_swap.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>

#include <unistd.h>

namespace yunshan {
namespace {

using test::run;
using test::script;
using test::TempFolder;
using test::write_program;

class ProgramSwapTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        program = dir.file(QStringLiteral("yunshan-note"));
        write_program(program, "old");
        TempFolder::write(dir.file(QStringLiteral("new-source")), script("new"));
        package = build_package(dir.file(QStringLiteral("new-source")), QString());
    }
    TempFolder dir;
    QString program;
    QByteArray package;
};

TEST_F(ProgramSwapTest, NewProgramTakesThePlaceAndStarts)
{
    ASSERT_EQ(run(program), "old");
    write_new_program(program, program_from_package(package));
    EXPECT_EQ(swap_program_file(program), program + QStringLiteral("2"));
    EXPECT_EQ(run(program), "new");
    EXPECT_EQ(TempFolder::read(program + QStringLiteral("2")), script("old"));
    EXPECT_FALSE(QFile::exists(program + QStringLiteral("2X")));
}

TEST_F(ProgramSwapTest, LeftoverOldProgramPushesToTheNextSuffix)
{
    TempFolder::write(program + QStringLiteral("2"), "older");
    write_new_program(program, program_from_package(package));
    EXPECT_EQ(swap_program_file(program), program + QStringLiteral("3"));
    EXPECT_EQ(TempFolder::read(program + QStringLiteral("2")), "older");
    EXPECT_EQ(run(program), "new");
}

TEST_F(ProgramSwapTest, DamagedOrTruncatedPackageNeverReplacesTheProgram)
{
    QByteArray flipped = package;
    flipped[40] = static_cast<char>(flipped[40] ^ 0x55); // inside the compressed data
    const QByteArray truncated = package.left(package.size() / 2);
    for (const QByteArray &bad : {flipped, truncated, QByteArray("<html>busy</html>")}) {
        EXPECT_THROW(program_from_package(bad), std::exception);
        EXPECT_FALSE(QFile::exists(program + QStringLiteral("2X")));
        EXPECT_EQ(run(program), "old");
    }
}

// A small package that claims a huge program is refused before it is unpacked into memory.
TEST_F(ProgramSwapTest, ProgramLargerThanTheLimitIsRefusedUnpacked)
{
    QByteArray claims = package;
    const auto set32 = [&claims](qsizetype at, quint32 v) {
        for (int i = 0; i < 4; ++i)
            claims[at + i] = static_cast<char>(v >> (8 * i));
    };
    const quint32 huge = static_cast<quint32>(kMaxProgramSize + 1);
    set32(22, huge);                                // uncompressed size in the local header
    set32(claims.indexOf("PK\x01\x02") + 24, huge); // … and in the central directory
    try {
        program_from_package(claims);
        FAIL() << "no error";
    } catch (const ArchiveError &e) {
        EXPECT_EQ(e.kind(), ArchiveError::Kind::TooLarge) << e.what();
    }
    EXPECT_FALSE(QFile::exists(program + QStringLiteral("2X")));
}

TEST_F(ProgramSwapTest, EmptyProgramInThePackageIsRefused)
{
    TempFolder::write(dir.file(QStringLiteral("empty")), QByteArray());
    EXPECT_THROW(program_from_package(build_package(dir.file(QStringLiteral("empty")), QString())), UpdateError);
}

// Every name for the old program taken: nothing is renamed, the new file is gone, the old
// program still starts.
TEST_F(ProgramSwapTest, RenamesAreBoundedAndTheOldProgramStays)
{
    for (int i = 2; i <= kLastOldProgramSuffix; ++i)
        TempFolder::write(program + QString::number(i), "taken");
    write_new_program(program, program_from_package(package));
    try {
        swap_program_file(program);
        FAIL() << "no error";
    } catch (const UpdateError &e) {
        EXPECT_EQ(QString::fromUtf8(e.what()),
                  QStringLiteral("无法移开原程序文件 %1，更新没有完成，原程序保持不变。").arg(program));
    }
    EXPECT_FALSE(QFile::exists(program + QStringLiteral("2X")));
    EXPECT_EQ(run(program), "old");
}

// The new file cannot be moved in (here: P + "2X" vanished): the old program goes back.
TEST_F(ProgramSwapTest, FailedMoveInPutsTheOldProgramBack)
{
    EXPECT_THROW(swap_program_file(program), UpdateError);
    EXPECT_FALSE(QFile::exists(program + QStringLiteral("2")));
    EXPECT_EQ(run(program), "old");
}

TEST_F(ProgramSwapTest, NewFileKeepsTheProgramsPermissions)
{
    write_new_program(program, "#!/bin/sh\n");
    EXPECT_EQ(QFile::permissions(program + QStringLiteral("2X")), QFile::permissions(program));
}

TEST_F(ProgramSwapTest, ReadOnlyFolderIsNotWritable)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes everywhere";
    EXPECT_TRUE(program_folder_writable(program));
    const QString locked = dir.mkdir(QStringLiteral("locked"));
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner);
    EXPECT_FALSE(program_folder_writable(locked + QStringLiteral("/yunshan-note")));
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace
} // namespace yunshan
