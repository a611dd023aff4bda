#include "crypto/aes.h"
#include "crypto/aes_engine.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QProcess>
#include <QRandomGenerator>

#include <cstring>

using namespace yunshan;

namespace {

QByteArray hex(const char *digits)
{
    return QByteArray::fromHex(digits);
}

template <typename Array> Array to_array(const QByteArray &bytes)
{
    Array a{};
    std::memcpy(a.data(), bytes.constData(), a.size());
    return a;
}

QByteArray to_bytes(const AesBlock &b)
{
    return QByteArray(reinterpret_cast<const char *>(b.data()), static_cast<qsizetype>(b.size()));
}

// Round key r of a schedule as the 16 bytes of the FIPS-197 notation.
QByteArray round_key(const AesExpandedKey &w, int r)
{
    QByteArray bytes;
    for (int i = 4 * r; i < 4 * r + 4; ++i)
        for (int shift = 0; shift < 32; shift += 8)
            bytes.append(static_cast<char>((w[i] >> shift) & 0xff));
    return bytes;
}

QByteArray random_bytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (auto &c : bytes)
        c = static_cast<char>(QRandomGenerator::global()->bounded(256));
    return bytes;
}

enum class Op { Encrypt, Decrypt };

// Runs a stream routine over a copy of `input`, starting at `position` with `count`.
QByteArray run(Op op, const QByteArray &input, const AesKey &key, const AesBlock &iv, quint32 count = 0,
               qint64 position = 0)
{
    QByteArray in = input;
    QBuffer source(&in);
    source.open(QIODevice::ReadOnly);
    source.seek(position);
    QByteArray out;
    QBuffer destination(&out);
    destination.open(QIODevice::WriteOnly);
    if (op == Op::Encrypt)
        encrypt_stream_cbc(source, count, key, iv, destination);
    else
        decrypt_stream_cbc(source, count, key, iv, destination);
    return out;
}

// CBC written out with the block routine, as a check of the stream routine's chaining and fill.
QByteArray reference_cbc_encrypt(QByteArray plain, const AesKey &key, const AesBlock &iv)
{
    plain.append(QByteArray((16 - plain.size() % 16) % 16, '\0'));
    const AesExpandedKey w = expand_key_encrypt(key);
    AesBlock chain = iv;
    QByteArray out;
    for (qsizetype p = 0; p < plain.size(); p += 16) {
        AesBlock block = to_array<AesBlock>(plain.mid(p, 16));
        for (int i = 0; i < 16; ++i)
            block[i] ^= chain[i];
        chain = encrypt_block(block, w);
        out.append(to_bytes(chain));
    }
    return out;
}

// The openssl command on `data` (no padding); the test machine's independent reference.
QByteArray openssl_cbc(Op op, const QByteArray &data, const AesKey &key, const AesBlock &iv)
{
    QStringList args{QStringLiteral("enc"),
                     QStringLiteral("-aes-128-cbc"),
                     QStringLiteral("-nopad"),
                     QStringLiteral("-K"),
                     QString::fromLatin1(to_bytes(key).toHex()),
                     QStringLiteral("-iv"),
                     QString::fromLatin1(to_bytes(iv).toHex())};
    if (op == Op::Decrypt)
        args << QStringLiteral("-d");
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"), args);
    EXPECT_TRUE(openssl.waitForStarted()) << "the openssl command is needed by this test";
    openssl.write(data);
    openssl.closeWriteChannel();
    EXPECT_TRUE(openssl.waitForFinished(60000));
    EXPECT_EQ(openssl.exitCode(), 0) << openssl.readAllStandardError().toStdString();
    return openssl.readAllStandardOutput();
}

const AesKey kFipsKey = to_array<AesKey>(hex("000102030405060708090a0b0c0d0e0f"));
const AesBlock kFipsPlain = to_array<AesBlock>(hex("00112233445566778899aabbccddeeff"));
const AesBlock kFipsCipher = to_array<AesBlock>(hex("69c4e0d86a7b0430d8cdb78070b4c55a"));

// InvMixColumns of one column, byte by byte (independent of the cipher's tables).
std::uint8_t gf_mul(std::uint8_t a, std::uint8_t b)
{
    std::uint8_t p = 0;
    for (; b; b >>= 1) {
        if (b & 1)
            p ^= a;
        a = static_cast<std::uint8_t>((a << 1) ^ ((a & 0x80) ? 0x1b : 0));
    }
    return p;
}

std::uint32_t inv_mix_column(std::uint32_t w)
{
    std::uint8_t a[4], r[4];
    for (int i = 0; i < 4; ++i)
        a[i] = static_cast<std::uint8_t>(w >> (8 * i));
    for (int i = 0; i < 4; ++i)
        r[i] = gf_mul(a[i], 14) ^ gf_mul(a[(i + 1) % 4], 11) ^ gf_mul(a[(i + 2) % 4], 13) ^ gf_mul(a[(i + 3) % 4], 9);
    return std::uint32_t(r[0]) | std::uint32_t(r[1]) << 8 | std::uint32_t(r[2]) << 16 | std::uint32_t(r[3]) << 24;
}

} // namespace

TEST(Aes, FipsVectorForBothBlockRoutinesAndSchedules)
{
    const AesExpandedKey enc = expand_key_encrypt(kFipsKey);
    EXPECT_EQ(enc[0], 0x03020100u); // first key byte in the low byte of word 0
    EXPECT_EQ(round_key(enc, 0), hex("000102030405060708090a0b0c0d0e0f"));
    EXPECT_EQ(round_key(enc, 10), hex("13111d7fe3944a17f307a78b4d2b30c5"));

    const AesExpandedKey dec = expand_key_decrypt(kFipsKey);
    for (int i = 0; i < 44; ++i) {
        const bool outer = i < 4 || i >= 40;
        EXPECT_EQ(dec[i], outer ? enc[i] : inv_mix_column(enc[i])) << "word " << i;
    }

    EXPECT_EQ(encrypt_block(kFipsPlain, enc), kFipsCipher);
    EXPECT_EQ(decrypt_block(kFipsCipher, dec), kFipsPlain);
}

TEST(Aes, StreamRoutinesAgreeWithOpenssl)
{
    const qsizetype lengths[] = {0, 16, 32, 48, 256, 4096, 16 * 1001};
    for (const qsizetype length : lengths) {
        const auto key = to_array<AesKey>(random_bytes(16));
        const auto iv = to_array<AesBlock>(random_bytes(16));
        const QByteArray plain = random_bytes(length);
        const QByteArray cipher = openssl_cbc(Op::Encrypt, plain, key, iv);
        ASSERT_EQ(cipher.size(), length);
        EXPECT_EQ(run(Op::Encrypt, plain, key, iv), cipher) << "length " << length;
        EXPECT_EQ(run(Op::Decrypt, cipher, key, iv), plain) << "length " << length;

        // The table code on its own, whatever the processor offers.
        QByteArray table = plain;
        AesBlock chain = iv;
        auto *data = reinterpret_cast<std::uint8_t *>(table.data());
        aes_engine::cbc_encrypt(aes_engine::Engine::Table, expand_key_encrypt(key), chain, data, data,
                                static_cast<std::size_t>(length / 16));
        EXPECT_EQ(table, cipher) << "length " << length;
    }
    // A last partial block is completed with zero bytes.
    const auto key = to_array<AesKey>(random_bytes(16));
    const auto iv = to_array<AesBlock>(random_bytes(16));
    const QByteArray plain = random_bytes(37);
    EXPECT_EQ(run(Op::Encrypt, plain, key, iv), openssl_cbc(Op::Encrypt, plain + QByteArray(11, '\0'), key, iv));
}

TEST(Aes, EveryAvailableEngineGivesTheTableBytes)
{
    using aes_engine::Engine;
    int tried = 0;
    for (Engine engine : {Engine::Aesni, Engine::Vaes256, Engine::Vaes512}) {
        if (!aes_engine::available(engine))
            continue;
        ++tried;
        // Lengths around the groups of the vector loops (8 and 16 blocks), in place and not.
        for (std::size_t blocks : {0, 1, 7, 8, 9, 15, 16, 17, 31, 32, 33, 100}) {
            const AesKey key = to_array<AesKey>(random_bytes(16));
            const AesBlock iv = to_array<AesBlock>(random_bytes(16));
            const QByteArray input = random_bytes(static_cast<qsizetype>(blocks * 16));
            for (Op op : {Op::Encrypt, Op::Decrypt}) {
                const AesExpandedKey w = op == Op::Encrypt ? expand_key_encrypt(key) : expand_key_decrypt(key);
                auto cbc = [&](Engine e, const std::uint8_t *in, std::uint8_t *out, AesBlock &chain) {
                    if (op == Op::Encrypt)
                        aes_engine::cbc_encrypt(e, w, chain, in, out, blocks);
                    else
                        aes_engine::cbc_decrypt(e, w, chain, in, out, blocks);
                };
                QByteArray expected(input.size(), '\0');
                AesBlock expected_chain = iv;
                cbc(Engine::Table, reinterpret_cast<const std::uint8_t *>(input.constData()),
                    reinterpret_cast<std::uint8_t *>(expected.data()), expected_chain);

                QByteArray separate(input.size(), '\0');
                AesBlock chain = iv;
                cbc(engine, reinterpret_cast<const std::uint8_t *>(input.constData()),
                    reinterpret_cast<std::uint8_t *>(separate.data()), chain);
                EXPECT_EQ(separate, expected) << int(engine) << ": " << blocks << " blocks";
                EXPECT_EQ(chain, expected_chain) << int(engine) << ": " << blocks << " blocks";

                QByteArray in_place = input;
                chain = iv;
                auto *data = reinterpret_cast<std::uint8_t *>(in_place.data());
                cbc(engine, data, data, chain);
                EXPECT_EQ(in_place, expected) << int(engine) << ": " << blocks << " blocks in place";
            }
        }
    }
    if (tried == 0)
        GTEST_SKIP() << "no AES instructions on this processor";
}

TEST(Aes, ByteRangeFollowsCountAndPosition)
{
    const AesKey key = kFipsKey;
    const AesBlock iv = kFipsPlain;
    const QByteArray data = random_bytes(50);
    struct Case {
        qint64 position;
        quint32 count;
        qsizetype from, length;
    };
    const Case cases[] = {
        {0, 0, 0, 50},                       // count 0: the whole source
        {10, 0, 0, 50},                      // count 0 rewinds first
        {10, 20, 10, 20}, {10, 100, 10, 40}, // count beyond the end: up to the end
        {10, 16, 10, 16}, {50, 5, 50, 0},    // at the end: nothing
    };
    for (const Case &c : cases) {
        const QByteArray expected = reference_cbc_encrypt(data.mid(c.from, c.length), key, iv);
        EXPECT_EQ(run(Op::Encrypt, data, key, iv, c.count, c.position), expected)
            << "position " << c.position << " count " << c.count;
    }
    // Decryption takes its range the same way: 32 bytes of ciphertext inside other bytes.
    const QByteArray plain = data.left(32);
    const QByteArray cipher = QByteArray(5, 'x') + reference_cbc_encrypt(plain, key, iv) + QByteArray(8, 'y');
    EXPECT_EQ(run(Op::Decrypt, cipher, key, iv, 32, 5), plain);
    EXPECT_EQ(run(Op::Decrypt, cipher, key, iv, 1000, 13), run(Op::Decrypt, cipher.mid(13), key, iv));
}

TEST(Aes, PartialLastBlockIsZeroFilledAndChained)
{
    const AesExpandedKey w = expand_key_encrypt(kFipsKey);
    const QByteArray sixteen = random_bytes(16);
    const QByteArray c16 = run(Op::Encrypt, sixteen, kFipsKey, kFipsPlain);
    ASSERT_EQ(c16.size(), 16); // no extra block for a whole block

    const QByteArray seventeen = sixteen + QByteArray("\x5a", 1);
    const QByteArray c17 = run(Op::Encrypt, seventeen, kFipsKey, kFipsPlain);
    ASSERT_EQ(c17.size(), 32);
    EXPECT_EQ(c17.left(16), c16);
    AesBlock last{}; // one data byte, 15 zero bytes, chained to the first ciphertext block
    last[0] = 0x5a;
    for (int i = 0; i < 16; ++i)
        last[i] ^= static_cast<std::uint8_t>(c16[i]);
    EXPECT_EQ(c17.mid(16), to_bytes(encrypt_block(last, w)));

    // 20 bytes come back followed by 12 zero bytes; the same input gives the same output.
    const QByteArray twenty = random_bytes(20);
    const QByteArray c20 = run(Op::Encrypt, twenty, kFipsKey, kFipsPlain);
    EXPECT_EQ(run(Op::Encrypt, twenty, kFipsKey, kFipsPlain), c20);
    EXPECT_EQ(run(Op::Decrypt, c20, kFipsKey, kFipsPlain), twenty + QByteArray(12, '\0'));

    EXPECT_TRUE(run(Op::Encrypt, QByteArray(), kFipsKey, kFipsPlain).isEmpty());
    EXPECT_TRUE(run(Op::Decrypt, QByteArray(), kFipsKey, kFipsPlain).isEmpty());
}

TEST(Aes, DestinationIsWrittenAtItsPositionAndNotRewound)
{
    QByteArray in = random_bytes(20);
    QBuffer source(&in);
    source.open(QIODevice::ReadOnly);
    QByteArray out("head");
    QBuffer destination(&out);
    destination.open(QIODevice::ReadWrite);
    destination.seek(4);
    encrypt_stream_cbc(source, 0, kFipsKey, kFipsPlain, destination);
    EXPECT_EQ(destination.pos(), 4 + 32);
    EXPECT_EQ(out.left(4), QByteArray("head"));
    EXPECT_EQ(out.mid(4), reference_cbc_encrypt(in, kFipsKey, kFipsPlain));
}

TEST(Aes, BufferDestinationsGetTheBytesOfOrdinaryWrites)
{
    // Between two QBuffer objects the routines work on the arrays themselves; whatever state the
    // destination is in, the result must be that of writing through the device.
    const QByteArray plain = random_bytes(40);
    const QByteArray cipher = reference_cbc_encrypt(plain, kFipsKey, kFipsPlain);
    ASSERT_EQ(cipher.size(), 48);
    enum class Array { Own, CopyOfSource, SameAsSource };
    struct Case {
        const char *what;
        QByteArray before;
        QIODevice::OpenMode mode;
        qint64 position;
        Array array;
    };
    const QByteArray z(100, 'z');
    const Case cases[] = {
        {"inside longer content", z, QIODevice::ReadWrite, 10, Array::Own},
        {"at the end", QByteArray("head"), QIODevice::WriteOnly, 4, Array::Own},
        {"appending", QByteArray("head"), QIODevice::Append, 4, Array::Own},
        {"over a copy of the source", {}, QIODevice::WriteOnly, 0, Array::CopyOfSource},
        {"appending to the source's own array", {}, QIODevice::Append, -1, Array::SameAsSource},
    };
    for (Op op : {Op::Encrypt, Op::Decrypt}) {
        const QByteArray input = op == Op::Encrypt ? plain : cipher;
        const QByteArray output = op == Op::Encrypt ? cipher : plain + QByteArray(8, '\0');
        for (const Case &c : cases) {
            QByteArray in = input;
            QByteArray out = c.array == Array::CopyOfSource ? in : c.before;
            QByteArray &target = c.array == Array::SameAsSource ? in : out;
            const QByteArray target_before = target;
            QBuffer source(&in);
            source.open(QIODevice::ReadOnly);
            QBuffer destination(&target);
            destination.open(c.mode);
            const qint64 position = c.position < 0 ? target.size() : c.position;
            destination.seek(position);
            if (op == Op::Encrypt)
                encrypt_stream_cbc(source, 0, kFipsKey, kFipsPlain, destination);
            else
                decrypt_stream_cbc(source, 0, kFipsKey, kFipsPlain, destination);

            QByteArray expected = target_before.left(position) + output;
            expected += target_before.mid(expected.size());
            const std::string label = std::string(op == Op::Encrypt ? "encrypt " : "decrypt ") + c.what;
            EXPECT_EQ(target, expected) << label;
            EXPECT_EQ(destination.pos(), position + output.size()) << label;
            EXPECT_EQ(source.pos(), input.size()) << label;
            if (c.array != Array::SameAsSource) {
                EXPECT_EQ(in, input) << label << ": the source changed";
            }
        }
    }
}

TEST(Aes, DecryptingAnIncompleteBlockRaisesAndWritesNothing)
{
    for (const qsizetype length : {15, 17, 33}) {
        QByteArray in = random_bytes(length);
        QBuffer source(&in);
        source.open(QIODevice::ReadOnly);
        QByteArray out;
        QBuffer destination(&out);
        destination.open(QIODevice::WriteOnly);
        try {
            decrypt_stream_cbc(source, 0, kFipsKey, kFipsPlain, destination);
            ADD_FAILURE() << "no exception for " << length << " bytes";
        } catch (const EAESError &e) {
            EXPECT_STREQ(e.what(), "Invalid buffer size for decryption");
        }
        EXPECT_TRUE(out.isEmpty());
    }
}

namespace {

// A stream that claims more bytes than it delivers.
class ShortDevice : public QBuffer {
  public:
    ShortDevice(QByteArray *data, qint64 claimed) : QBuffer(data), claimed_(claimed) {}
    qint64 size() const override { return claimed_; }

  private:
    qint64 claimed_;
};

} // namespace

TEST(Aes, ShortReadsAndWritesRaiseStreamErrors)
{
    struct Case {
        Op op;
        qsizetype actual;
        qint64 claimed;
        qsizetype written_before; // output of the blocks read before the short read
    };
    const Case cases[] = {
        {Op::Encrypt, 20, 64, 16}, // short among the whole blocks
        {Op::Encrypt, 18, 20, 16}, // short in the partial last block
        {Op::Decrypt, 40, 64, 32},
    };
    for (const Case &c : cases) {
        QByteArray in = random_bytes(c.actual);
        ShortDevice source(&in, c.claimed);
        source.open(QIODevice::ReadOnly);
        QByteArray out;
        QBuffer destination(&out);
        destination.open(QIODevice::WriteOnly);
        try {
            if (c.op == Op::Encrypt)
                encrypt_stream_cbc(source, 0, kFipsKey, kFipsPlain, destination);
            else
                decrypt_stream_cbc(source, 0, kFipsKey, kFipsPlain, destination);
            ADD_FAILURE() << "no exception for " << c.actual << " of " << c.claimed;
        } catch (const StreamError &e) {
            EXPECT_STREQ(e.what(), "Stream read error");
        }
        EXPECT_EQ(out.size(), c.written_before);
    }

    for (Op op : {Op::Encrypt, Op::Decrypt}) {
        QByteArray in = random_bytes(32);
        QBuffer source(&in);
        source.open(QIODevice::ReadOnly);
        QByteArray out;
        QBuffer destination(&out);
        destination.open(QIODevice::ReadOnly); // refuses writes
        try {
            if (op == Op::Encrypt)
                encrypt_stream_cbc(source, 0, kFipsKey, kFipsPlain, destination);
            else
                decrypt_stream_cbc(source, 0, kFipsKey, kFipsPlain, destination);
            ADD_FAILURE() << "no exception";
        } catch (const StreamError &e) {
            EXPECT_STREQ(e.what(), "Stream write error");
        }
    }
}
