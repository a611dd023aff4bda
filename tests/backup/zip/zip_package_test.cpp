#include "backup/zip_cryptor.h"
#include "backup/zip_package.h"
#include "support/temp_folder.h"
#include "zip_test_util.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>

#include <zlib.h>

using namespace yunshan;
using yunshan::test::le16;
using yunshan::test::le32;

namespace {

QByteArray raw_inflate(const QByteArray &compressed)
{
    z_stream zs{};
    inflateInit2(&zs, -MAX_WBITS);
    QByteArray out;
    char buffer[65536];
    zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(compressed.constData()));
    zs.avail_in = static_cast<uInt>(compressed.size());
    int ret = Z_OK;
    while (ret == Z_OK) {
        zs.next_out = reinterpret_cast<Bytef *>(buffer);
        zs.avail_out = sizeof buffer;
        ret = inflate(&zs, Z_NO_FLUSH);
        out.append(buffer, static_cast<qsizetype>(sizeof buffer - zs.avail_out));
    }
    EXPECT_EQ(ret, Z_STREAM_END);
    EXPECT_EQ(zs.avail_in, 0u) << "bytes after the deflate stream";
    inflateEnd(&zs);
    return out;
}

std::uint32_t crc_of(const QByteArray &bytes)
{
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef *>(bytes.constData()), static_cast<uInt>(bytes.size())));
}

QString write_source(const test::TempFolder &tmp, const QByteArray &content)
{
    const QString path = tmp.file(QStringLiteral("notedb.sl3"));
    test::TempFolder::write(path, content);
    return path;
}

} // namespace

class ZipHeaderFields : public ::testing::TestWithParam<const char *> {};

TEST_P(ZipHeaderFields, FollowTheFormatTable)
{
    const QString password = QString::fromUtf8(GetParam());
    const bool encrypted = !password.isEmpty();
    test::TempFolder tmp;
    const QByteArray content = test::sample_bytes(300000, 7);
    const QString source = write_source(tmp, content);
    {
        QFile f(source);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(QDateTime(QDate(2023, 5, 6), QTime(7, 8, 11), Qt::LocalTime),
                                  QFileDevice::FileModificationTime));
    }

    const QByteArray zip = build_package(source, password);
    const std::uint16_t flags = encrypted ? 0x0801 : 0x0800;
    const std::uint16_t dos_time = (7 << 11) | (8 << 5) | (11 / 2);
    const std::uint16_t dos_date = ((2023 - 1980) << 9) | (5 << 5) | 6;

    // Local header, rewritten with the final CRC and sizes; no data descriptor.
    ASSERT_GE(zip.size(), 30 + 10);
    EXPECT_EQ(le32(zip, 0), 0x04034b50u);
    EXPECT_EQ(le16(zip, 4), 20);
    EXPECT_EQ(le16(zip, 6), flags);
    EXPECT_EQ(le16(zip, 8), 8);
    EXPECT_EQ(le16(zip, 10), dos_time);
    EXPECT_EQ(le16(zip, 12), dos_date);
    EXPECT_EQ(le32(zip, 14), crc_of(content));
    const std::uint32_t compressed = le32(zip, 18);
    EXPECT_EQ(le32(zip, 22), static_cast<std::uint32_t>(content.size()));
    EXPECT_EQ(le16(zip, 26), 10);
    EXPECT_EQ(le16(zip, 28), 0);
    EXPECT_EQ(zip.mid(30, 10), "notedb.sl3");

    QByteArray data = zip.mid(40, compressed);
    if (encrypted) {
        TPKWAREZipCryptor cryptor;
        cryptor.Init(password, false);
        cryptor.Decrypt(data);
        EXPECT_EQ(static_cast<unsigned char>(data.at(11)), crc_of(content) >> 24) << "check byte";
        data.remove(0, 12);
    }
    EXPECT_EQ(raw_inflate(data), content);

    // Central directory and end record.
    const qsizetype c = 40 + compressed;
    EXPECT_EQ(le32(zip, c), 0x02014b50u);
    EXPECT_EQ(le16(zip, c + 4), 20) << "version made by 2.0, MS-DOS";
    EXPECT_EQ(le16(zip, c + 6), 20);
    EXPECT_EQ(le16(zip, c + 8), flags);
    EXPECT_EQ(le16(zip, c + 10), 8);
    EXPECT_EQ(le16(zip, c + 12), dos_time);
    EXPECT_EQ(le16(zip, c + 14), dos_date);
    EXPECT_EQ(le32(zip, c + 16), crc_of(content));
    EXPECT_EQ(le32(zip, c + 20), compressed);
    EXPECT_EQ(le32(zip, c + 24), static_cast<std::uint32_t>(content.size()));
    EXPECT_EQ(le16(zip, c + 28), 10);
    EXPECT_EQ(le16(zip, c + 30), 0);
    EXPECT_EQ(le16(zip, c + 32), 0);
    EXPECT_EQ(le32(zip, c + 38), 0x20u) << "archive attribute";
    EXPECT_EQ(le32(zip, c + 42), 0u);
    EXPECT_EQ(zip.mid(c + 46, 10), "notedb.sl3");
    const qsizetype e = c + 56;
    ASSERT_EQ(zip.size(), e + 22);
    EXPECT_EQ(le32(zip, e), 0x06054b50u);
    EXPECT_EQ(le16(zip, e + 8), 1);
    EXPECT_EQ(le16(zip, e + 10), 1);
    EXPECT_EQ(le32(zip, e + 12), 56u);
    EXPECT_EQ(le32(zip, e + 16), static_cast<std::uint32_t>(c));
}

INSTANTIATE_TEST_SUITE_P(Passwords, ZipHeaderFields, ::testing::Values("", "secret"));

TEST(ZipPackage, RoundTripsThroughOwnReader)
{
    const QString passwords[] = {QString(), QStringLiteral("pw"), QStringLiteral("云杉札记")};
    const qsizetype sizes[] = {0, 1, 1024 * 1024, 3 * 1024 * 1024 + 17};
    for (const QString &password : passwords) {
        for (const qsizetype size : sizes) {
            SCOPED_TRACE(QStringLiteral("password \"%1\", size %2").arg(password).arg(size).toStdString());
            test::TempFolder tmp;
            const QByteArray content = test::sample_bytes(size, static_cast<std::uint32_t>(size));
            const QByteArray zip = build_package(write_source(tmp, content), password);
            const QString out = tmp.mkdir(QStringLiteral("out"));
            test::TempFolder::write(out + QStringLiteral("/notedb.sl3"), "an older database");
            extract_package(zip, password, out);
            EXPECT_EQ(test::snapshot(out), (QMap<QString, QByteArray>{{QStringLiteral("notedb.sl3"), content}}));
        }
    }
}

TEST(ZipPackage, NoiseGoesIntoStoredBlocksAndTextIsDeflated)
{
    // Bytes that cannot shrink are not run through deflate: they sit in stored blocks of the
    // deflate stream, 64 KiB each for 5 bytes of header. Text still shrinks.
    struct Case {
        const char *what;
        QByteArray content;
        bool stored;
    };
    const Case cases[] = {
        {"noise", test::noise_bytes(1024 * 1024 + 3, 8), true},
        {"text", test::text_bytes(1024 * 1024, 8), false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        test::TempFolder tmp;
        const QByteArray zip = build_package(write_source(tmp, c.content), QString());
        const qsizetype size = c.content.size();
        const qsizetype compressed = le32(zip, 18);
        const QByteArray data = zip.mid(40, compressed);
        if (c.stored) {
            EXPECT_EQ(data.at(0), 0) << "a stored block that is not the last";
            EXPECT_EQ(le16(data, 1), 0xFFFF);
            EXPECT_EQ(le16(data, 3), 0x0000);
            EXPECT_EQ(data.mid(5, 0xFFFF), c.content.left(0xFFFF));
            EXPECT_LE(compressed, size + 5 * (size / 0xFFFF + 1) + 64);
        } else {
            EXPECT_LT(compressed, size / 3);
        }
        EXPECT_EQ(raw_inflate(data), c.content);
    }
}

TEST(ZipPackage, FirstEntryIsReadIntoMemoryWithItsCrcChecked)
{
    test::TempFolder tmp;
    const QByteArray content = test::sample_bytes(1500000, 4);
    QByteArray zip = build_package(write_source(tmp, content), QString());
    EXPECT_EQ(read_first_entry(zip), content);
    zip[zip.size() / 2] = static_cast<char>(zip[zip.size() / 2] ^ 0x01);
    EXPECT_THROW(read_first_entry(zip), ArchiveError);
}

TEST(ZipPackage, FirstEntryLargerThanAllowedIsRefusedBeforeItIsInflated)
{
    test::TempFolder tmp;
    // 8 MB of zeros pack into a few kilobytes.
    const QByteArray zip = build_package(write_source(tmp, QByteArray(8 * 1024 * 1024, '\0')), QString());
    ASSERT_LT(zip.size(), 64 * 1024);
    try {
        read_first_entry(zip, QString(), 1024 * 1024);
        FAIL() << "no error";
    } catch (const ArchiveError &e) {
        EXPECT_EQ(e.kind(), ArchiveError::Kind::TooLarge);
        EXPECT_STREQ(e.what(), "The entry \"notedb.sl3\" is 8388608 bytes large, more than the 1048576 bytes allowed");
    }
    EXPECT_EQ(read_first_entry(zip, QString(), 8 * 1024 * 1024).size(), 8 * 1024 * 1024);
}

TEST(ZipPackage, MissingSourceIsAnError)
{
    test::TempFolder tmp;
    const QString missing = tmp.file(QStringLiteral("none.sl3"));
    try {
        build_package(missing, QStringLiteral("pw"));
        FAIL() << "no error";
    } catch (const ArchiveError &e) {
        EXPECT_NE(QString::fromUtf8(e.what()).indexOf(missing), -1) << e.what();
    }
}

TEST(ZipPackage, WrongOrMissingPasswordFailsBeforeTheTargetIsTouched)
{
    test::TempFolder tmp;
    const QByteArray zip = build_package(write_source(tmp, test::sample_bytes(100000, 3)), QStringLiteral("right"));
    const QString out = tmp.mkdir(QStringLiteral("out"));
    test::TempFolder::write(out + QStringLiteral("/notedb.sl3"), "the current database");
    const auto before = test::snapshot(out);
    // One wrong password in 256 passes the check byte; the data check then fails with the same
    // message, still before anything is renamed into place.
    for (const QString &password : {QStringLiteral("wrong"), QString()}) {
        try {
            extract_package(zip, password, out);
            ADD_FAILURE() << "no error for password \"" << password.toStdString() << "\"";
        } catch (const ArchiveError &e) {
            EXPECT_STREQ(e.what(), "Wrong password or corrupted file");
        }
        EXPECT_EQ(test::snapshot(out), before);
    }
    // Extracting into a folder that does not exist yet must not create it either.
    const QString fresh = tmp.file(QStringLiteral("fresh"));
    EXPECT_THROW(extract_package(zip, QStringLiteral("wrong"), fresh), ArchiveError);
    EXPECT_FALSE(QFile::exists(fresh));
}
