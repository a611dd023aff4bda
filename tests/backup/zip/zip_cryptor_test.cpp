#include "backup/zip_cryptor.h"
#include "platform/code_page.h"
#include "zip_test_util.h"

#include <gtest/gtest.h>

using namespace yunshan;

TEST(ZipCryptor, DecryptInvertsEncryptAndKeepsStateAcrossCalls)
{
    const QByteArray plain = test::sample_bytes(5000, 1);
    TPKWAREZipCryptor whole;
    whole.Init(QStringLiteral("secret"), true);
    QByteArray cipher = plain;
    whole.Encrypt(cipher);
    EXPECT_NE(cipher, plain);

    // The archive code feeds the data in pieces: the key state must carry over.
    TPKWAREZipCryptor pieces;
    pieces.Init(QStringLiteral("secret"), true);
    QByteArray first = plain.left(1234);
    QByteArray rest = plain.mid(1234);
    pieces.Encrypt(first);
    pieces.Encrypt(rest);
    EXPECT_EQ(first + rest, cipher);

    TPKWAREZipCryptor back;
    back.Init(QStringLiteral("secret"), false);
    back.Decrypt(cipher);
    EXPECT_EQ(cipher, plain);
}

TEST(ZipCryptor, InitResetsKeysAndUsesCodePage936Bytes)
{
    const QString password = QStringLiteral("云杉札记密码");
    const QByteArray plain = test::sample_bytes(64, 2);

    const auto encrypt_with = [&plain](auto init) {
        TPKWAREZipCryptor c;
        c.Init(QStringLiteral("something else"), true);
        QByteArray scratch = plain;
        c.Encrypt(scratch); // state moved on; the next Init must start over
        init(c);
        QByteArray data = plain;
        c.Encrypt(data);
        return data;
    };
    const QByteArray by_text = encrypt_with([&](TPKWAREZipCryptor &c) { c.Init(password, true); });
    const QByteArray by_gbk = encrypt_with([&](TPKWAREZipCryptor &c) { c.init_with_bytes(unicode_to_ansi(password)); });
    const QByteArray by_utf8 = encrypt_with([&](TPKWAREZipCryptor &c) { c.init_with_bytes(password.toUtf8()); });
    EXPECT_EQ(by_text, by_gbk);
    EXPECT_NE(by_text, by_utf8);
}

TEST(ZipCryptor, KnownKeystreamOfPublishedKeySchedule)
{
    // With an empty password the keys keep their published initial values 0x12345678,
    // 0x23456789, 0x34567890; the first keystream byte is then ((k2|2) * ((k2|2)^1)) >> 8 of the
    // low 16 bits: k2 | 2 = 0x7892, 0x7892 * 0x7893 = 0x38C9ABD6 → 0xAB.
    TPKWAREZipCryptor c;
    c.Init(QString(), true);
    QByteArray zero(1, '\0');
    c.Encrypt(zero);
    EXPECT_EQ(static_cast<unsigned char>(zero.at(0)), 0xAB);
}

TEST(ZipCryptor, LongDataMatchesTheTextbookLoopInBothDirections)
{
    // The published scheme written out byte by byte, as an independent reference for the data
    // loop, which is arranged differently for speed.
    std::uint32_t crc_table[256];
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
        crc_table[n] = c;
    }
    const auto crc = [&crc_table](std::uint32_t k, unsigned char b) { return crc_table[(k ^ b) & 0xFF] ^ (k >> 8); };
    std::uint32_t k0 = 0x12345678u, k1 = 0x23456789u, k2 = 0x34567890u;
    const auto update = [&](unsigned char plain) {
        k0 = crc(k0, plain);
        k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
        k2 = crc(k2, static_cast<unsigned char>(k1 >> 24));
    };
    for (const char c : QByteArray("pass"))
        update(static_cast<unsigned char>(c));
    const QByteArray plain = test::sample_bytes(300000, 9) + test::noise_bytes(300000, 9);
    QByteArray expected = plain;
    for (char &c : expected) {
        const std::uint32_t temp = (k2 | 2) & 0xFFFF;
        const unsigned char p = static_cast<unsigned char>(c);
        c = static_cast<char>(p ^ static_cast<unsigned char>((temp * (temp ^ 1)) >> 8));
        update(p);
    }

    TPKWAREZipCryptor encryptor;
    encryptor.init_with_bytes("pass");
    QByteArray data = plain;
    encryptor.Encrypt(data);
    EXPECT_EQ(data, expected);
    TPKWAREZipCryptor decryptor;
    decryptor.init_with_bytes("pass");
    decryptor.Decrypt(data);
    EXPECT_EQ(data, plain);
}
