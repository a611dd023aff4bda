#include "crypto/aes.h"

#include "crypto/aes_engine.h"

#include <QBuffer>
#include <QIODevice>

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <new>
#include <typeinfo>

namespace yunshan {

namespace {

// ---- Constant tables, computed at compile time from the field arithmetic of FIPS-197 ----------

constexpr std::uint8_t xtime(std::uint8_t b)
{
    return static_cast<std::uint8_t>((b << 1) ^ ((b & 0x80) ? 0x1b : 0x00));
}

constexpr std::uint8_t gf_mul(std::uint8_t a, std::uint8_t b)
{
    std::uint8_t product = 0;
    while (b != 0) {
        if (b & 1)
            product ^= a;
        a = xtime(a);
        b >>= 1;
    }
    return product;
}

constexpr std::uint8_t rotl8(std::uint8_t b, int n)
{
    return static_cast<std::uint8_t>((b << n) | (b >> (8 - n)));
}

struct Tables {
    std::uint8_t sbox[256]{};
    std::uint8_t inv_sbox[256]{};
    // SubBytes and MixColumns for one byte of row 0: the column (2s, s, s, 3s), row 0 in the low
    // byte. The bytes of rows 1-3 use the same word rotated left by 8, 16 and 24 bits.
    std::uint32_t enc[256]{};
    // InvSubBytes and InvMixColumns likewise: the column (14s', 9s', 13s', 11s').
    std::uint32_t dec[256]{};
    // The S-boxes as words for the last round and the key schedule.
    std::uint32_t sbox_word[256]{};
    std::uint32_t inv_sbox_word[256]{};
};

constexpr Tables make_tables()
{
    Tables t;
    for (int x = 0; x < 256; ++x) {
        // Multiplicative inverse as x^254 (0 maps to 0), then the affine transformation.
        const auto b = static_cast<std::uint8_t>(x);
        std::uint8_t inverse = 1;
        for (int i = 0; i < 254; ++i)
            inverse = gf_mul(inverse, b);
        if (x == 0)
            inverse = 0;
        const auto s = static_cast<std::uint8_t>(inverse ^ rotl8(inverse, 1) ^ rotl8(inverse, 2) ^ rotl8(inverse, 3) ^
                                                 rotl8(inverse, 4) ^ 0x63);
        t.sbox[x] = s;
        t.inv_sbox[s] = b;
    }
    for (int x = 0; x < 256; ++x) {
        const std::uint8_t s = t.sbox[x];
        const std::uint8_t si = t.inv_sbox[x];
        t.enc[x] = std::uint32_t(gf_mul(s, 2)) | std::uint32_t(s) << 8 | std::uint32_t(s) << 16 |
                   std::uint32_t(gf_mul(s, 3)) << 24;
        t.dec[x] = std::uint32_t(gf_mul(si, 14)) | std::uint32_t(gf_mul(si, 9)) << 8 |
                   std::uint32_t(gf_mul(si, 13)) << 16 | std::uint32_t(gf_mul(si, 11)) << 24;
        t.sbox_word[x] = s;
        t.inv_sbox_word[x] = si;
    }
    return t;
}

constexpr Tables kTables = make_tables();
static_assert(kTables.sbox[0] == 0x63 && kTables.sbox[1] == 0x7c && kTables.sbox[2] == 0x77 && kTables.sbox[3] == 0x7b);
static_assert(kTables.inv_sbox[0] == 0x52);

constexpr std::uint32_t kRoundConstants[10] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x1b, 0x36};

inline std::uint32_t byte0(std::uint32_t w)
{
    return w & 0xff;
}
inline std::uint32_t byte1(std::uint32_t w)
{
    return (w >> 8) & 0xff;
}
inline std::uint32_t byte2(std::uint32_t w)
{
    return (w >> 16) & 0xff;
}
inline std::uint32_t byte3(std::uint32_t w)
{
    return w >> 24;
}

inline std::uint32_t load_le(const std::uint8_t *p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

inline void store_le(std::uint8_t *p, std::uint32_t w)
{
    p[0] = static_cast<std::uint8_t>(w);
    p[1] = static_cast<std::uint8_t>(w >> 8);
    p[2] = static_cast<std::uint8_t>(w >> 16);
    p[3] = static_cast<std::uint8_t>(w >> 24);
}

inline std::uint32_t sub_word(std::uint32_t w)
{
    const auto &s = kTables.sbox_word;
    return s[byte0(w)] | s[byte1(w)] << 8 | s[byte2(w)] << 16 | s[byte3(w)] << 24;
}

// InvMixColumns of one column: dec[] holds InvMixColumns∘InvSubBytes, so feed it S-box bytes.
inline std::uint32_t inv_mix_column(std::uint32_t w)
{
    const auto &d = kTables.dec;
    const auto &s = kTables.sbox;
    return d[s[byte0(w)]] ^ std::rotl(d[s[byte1(w)]], 8) ^ std::rotl(d[s[byte2(w)]], 16) ^
           std::rotl(d[s[byte3(w)]], 24);
}

// The cipher on one block given as four little-endian column words.
inline void encrypt_words(std::uint32_t (&s)[4], const std::uint32_t *rk)
{
    const auto &e = kTables.enc;
    std::uint32_t s0 = s[0] ^ rk[0], s1 = s[1] ^ rk[1], s2 = s[2] ^ rk[2], s3 = s[3] ^ rk[3];
#pragma GCC unroll 9
    for (int round = 1; round < 10; ++round) {
        const std::uint32_t *k = rk + 4 * round;
        // Row r of output column j comes from input column j + r (ShiftRows).
        const std::uint32_t t0 = e[byte0(s0)] ^ std::rotl(e[byte1(s1)], 8) ^ std::rotl(e[byte2(s2)], 16) ^
                                 std::rotl(e[byte3(s3)], 24) ^ k[0];
        const std::uint32_t t1 = e[byte0(s1)] ^ std::rotl(e[byte1(s2)], 8) ^ std::rotl(e[byte2(s3)], 16) ^
                                 std::rotl(e[byte3(s0)], 24) ^ k[1];
        const std::uint32_t t2 = e[byte0(s2)] ^ std::rotl(e[byte1(s3)], 8) ^ std::rotl(e[byte2(s0)], 16) ^
                                 std::rotl(e[byte3(s1)], 24) ^ k[2];
        const std::uint32_t t3 = e[byte0(s3)] ^ std::rotl(e[byte1(s0)], 8) ^ std::rotl(e[byte2(s1)], 16) ^
                                 std::rotl(e[byte3(s2)], 24) ^ k[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    const auto &sb = kTables.sbox_word;
    const std::uint32_t *k = rk + 40;
    s[0] = (sb[byte0(s0)] | sb[byte1(s1)] << 8 | sb[byte2(s2)] << 16 | sb[byte3(s3)] << 24) ^ k[0];
    s[1] = (sb[byte0(s1)] | sb[byte1(s2)] << 8 | sb[byte2(s3)] << 16 | sb[byte3(s0)] << 24) ^ k[1];
    s[2] = (sb[byte0(s2)] | sb[byte1(s3)] << 8 | sb[byte2(s0)] << 16 | sb[byte3(s1)] << 24) ^ k[2];
    s[3] = (sb[byte0(s3)] | sb[byte1(s0)] << 8 | sb[byte2(s1)] << 16 | sb[byte3(s2)] << 24) ^ k[3];
}

// The equivalent inverse cipher; round keys are used from the last one back to the first.
inline void decrypt_words(std::uint32_t (&s)[4], const std::uint32_t *dk)
{
    const auto &d = kTables.dec;
    std::uint32_t s0 = s[0] ^ dk[40], s1 = s[1] ^ dk[41], s2 = s[2] ^ dk[42], s3 = s[3] ^ dk[43];
#pragma GCC unroll 9
    for (int round = 9; round >= 1; --round) {
        const std::uint32_t *k = dk + 4 * round;
        // Row r of output column j comes from input column j - r (InvShiftRows).
        const std::uint32_t t0 = d[byte0(s0)] ^ std::rotl(d[byte1(s3)], 8) ^ std::rotl(d[byte2(s2)], 16) ^
                                 std::rotl(d[byte3(s1)], 24) ^ k[0];
        const std::uint32_t t1 = d[byte0(s1)] ^ std::rotl(d[byte1(s0)], 8) ^ std::rotl(d[byte2(s3)], 16) ^
                                 std::rotl(d[byte3(s2)], 24) ^ k[1];
        const std::uint32_t t2 = d[byte0(s2)] ^ std::rotl(d[byte1(s1)], 8) ^ std::rotl(d[byte2(s0)], 16) ^
                                 std::rotl(d[byte3(s3)], 24) ^ k[2];
        const std::uint32_t t3 = d[byte0(s3)] ^ std::rotl(d[byte1(s2)], 8) ^ std::rotl(d[byte2(s1)], 16) ^
                                 std::rotl(d[byte3(s0)], 24) ^ k[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    const auto &ib = kTables.inv_sbox_word;
    s[0] = (ib[byte0(s0)] | ib[byte1(s3)] << 8 | ib[byte2(s2)] << 16 | ib[byte3(s1)] << 24) ^ dk[0];
    s[1] = (ib[byte0(s1)] | ib[byte1(s0)] << 8 | ib[byte2(s3)] << 16 | ib[byte3(s2)] << 24) ^ dk[1];
    s[2] = (ib[byte0(s2)] | ib[byte1(s1)] << 8 | ib[byte2(s0)] << 16 | ib[byte3(s3)] << 24) ^ dk[2];
    s[3] = (ib[byte0(s3)] | ib[byte1(s2)] << 8 | ib[byte2(s1)] << 16 | ib[byte3(s0)] << 24) ^ dk[3];
}

// ---- Stream plumbing ----------------------------------------------------------------------------

// Blocks handled per read and write: large enough that the per-call cost of the device vanishes.
constexpr qint64 kChunkBytes = 64 * 1024;

// Steps 1 and 2 of both stream routines: where the range starts and how long it is.
quint64 choose_range(QIODevice &source, quint32 count)
{
    if (count == 0) {
        source.seek(0);
        return static_cast<quint64>(std::max<qint64>(source.size(), 0));
    }
    const qint64 left = std::max<qint64>(source.size() - source.pos(), 0);
    return std::min<quint64>(count, static_cast<quint64>(left));
}

[[noreturn]] void read_error()
{
    throw StreamError("Stream read error");
}
[[noreturn]] void write_error()
{
    throw StreamError("Stream write error");
}

void write_all(QIODevice &destination, const std::uint8_t *data, qint64 size)
{
    if (size > 0 && destination.write(reinterpret_cast<const char *>(data), size) != size)
        write_error();
}

// Reads up to `wanted` bytes; returns how many whole blocks arrived and whether the read was short.
qint64 read_blocks(QIODevice &source, std::uint8_t *buffer, qint64 wanted, bool &short_read)
{
    const qint64 got = std::max<qint64>(source.read(reinterpret_cast<char *>(buffer), wanted), 0);
    short_read = got < wanted;
    return got / 16;
}

enum class Direction { Encrypt, Decrypt };

// Runs the whole blocks of the range through the chaining loop, chunk by chunk. Blocks that
// arrived before a short read are still written, as a block-by-block loop would have done.
void run_whole_blocks(Direction direction, QIODevice &source, quint64 blocks, const AesExpandedKey &key,
                      AesBlock &chain, QIODevice &destination)
{
    if (blocks == 0)
        return;
    const qint64 chunk = static_cast<qint64>(std::min<quint64>(blocks * 16, kChunkBytes));
    auto buffer = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(chunk));
    const aes_engine::Engine engine = aes_engine::best();
    quint64 remaining = blocks * 16;
    while (remaining > 0) {
        const qint64 wanted = static_cast<qint64>(std::min<quint64>(remaining, static_cast<quint64>(chunk)));
        bool short_read = false;
        const qint64 got_blocks = read_blocks(source, buffer.get(), wanted, short_read);
        const auto n = static_cast<std::size_t>(got_blocks);
        if (direction == Direction::Encrypt)
            aes_engine::cbc_encrypt(engine, key, chain, buffer.get(), buffer.get(), n);
        else
            aes_engine::cbc_decrypt(engine, key, chain, buffer.get(), buffer.get(), n);
        write_all(destination, buffer.get(), got_blocks * 16);
        if (short_read)
            read_error();
        remaining -= static_cast<quint64>(wanted);
    }
}

// The whole range when both devices are plain QBuffer objects, as every caller in the program
// passes: the chaining loop reads the source's bytes and writes the destination's bytes where
// they lie, with no copy in between. The result is what read() and write() would give: the
// destination grows as needed, bytes after the written range stay, and both positions move past
// the range (no bytesWritten or readyRead notification is posted for the destination). Returns
// false, having done nothing, when the devices are of another kind or in a state (text mode, an
// open read transaction, one array behind both) that only read() and write() handle exactly.
bool run_in_memory(Direction direction, QIODevice &source, quint64 length, const AesExpandedKey &key, AesBlock &chain,
                   QIODevice &destination)
{
    if (typeid(source) != typeid(QBuffer) || typeid(destination) != typeid(QBuffer))
        return false;
    auto &in_device = static_cast<QBuffer &>(source);
    auto &out_device = static_cast<QBuffer &>(destination);
    if (!in_device.isReadable() || !out_device.isWritable() || in_device.isTextModeEnabled() ||
        out_device.isTextModeEnabled() || in_device.isTransactionStarted() || &in_device.data() == &out_device.data())
        return false;

    const qint64 in_pos = in_device.pos();
    const qint64 out_pos = out_device.pos();
    const auto out_length = static_cast<qint64>((length + 15) / 16 * 16);
    QByteArray &out_bytes = out_device.buffer();
    try {
        if (out_pos + out_length > out_bytes.size())
            out_bytes.resize(out_pos + out_length);
    } catch (const std::bad_alloc &) {
        write_error();
    }
    if (out_bytes.size() < out_pos + out_length)
        write_error();
    // data() first: it may detach the destination from an array shared with the source.
    auto *out = reinterpret_cast<std::uint8_t *>(out_bytes.data()) + out_pos;
    const auto *in = reinterpret_cast<const std::uint8_t *>(in_device.data().constData()) + in_pos;

    const aes_engine::Engine engine = aes_engine::best();
    const auto blocks = static_cast<std::size_t>(length / 16);
    if (direction == Direction::Encrypt)
        aes_engine::cbc_encrypt(engine, key, chain, in, out, blocks);
    else
        aes_engine::cbc_decrypt(engine, key, chain, in, out, blocks);
    const auto tail = static_cast<std::size_t>(length % 16); // only ever left by encryption
    if (tail > 0) {
        AesBlock block{}; // the zero fill
        std::memcpy(block.data(), in + 16 * blocks, tail);
        aes_engine::cbc_encrypt(engine, key, chain, block.data(), out + 16 * blocks, 1);
    }
    in_device.seek(in_pos + static_cast<qint64>(length));
    out_device.seek(out_pos + out_length);
    return true;
}

void secure_wipe(void *data, std::size_t size)
{
    volatile auto *p = static_cast<volatile std::uint8_t *>(data);
    for (std::size_t i = 0; i < size; ++i)
        p[i] = 0;
}

} // namespace

// ---- Key schedules and block routines -----------------------------------------------------------

AesExpandedKey expand_key_encrypt(const AesKey &key)
{
    AesExpandedKey w{};
    for (int i = 0; i < 4; ++i)
        w[i] = load_le(key.data() + 4 * i);
    for (int i = 4; i < 44; ++i) {
        std::uint32_t temp = w[i - 1];
        if (i % 4 == 0)
            temp = sub_word(std::rotr(temp, 8)) ^ kRoundConstants[i / 4 - 1]; // RotWord, SubWord, Rcon
        w[i] = w[i - 4] ^ temp;
    }
    return w;
}

AesExpandedKey expand_key_decrypt(const AesKey &key)
{
    AesExpandedKey w = expand_key_encrypt(key);
    for (int i = 4; i < 40; ++i)
        w[i] = inv_mix_column(w[i]);
    return w;
}

AesBlock encrypt_block(const AesBlock &input, const AesExpandedKey &encrypt_key)
{
    std::uint32_t s[4];
    for (int i = 0; i < 4; ++i)
        s[i] = load_le(input.data() + 4 * i);
    encrypt_words(s, encrypt_key.data());
    AesBlock out;
    for (int i = 0; i < 4; ++i)
        store_le(out.data() + 4 * i, s[i]);
    return out;
}

AesBlock decrypt_block(const AesBlock &input, const AesExpandedKey &decrypt_key)
{
    std::uint32_t s[4];
    for (int i = 0; i < 4; ++i)
        s[i] = load_le(input.data() + 4 * i);
    decrypt_words(s, decrypt_key.data());
    AesBlock out;
    for (int i = 0; i < 4; ++i)
        store_le(out.data() + 4 * i, s[i]);
    return out;
}

// ---- Engines --------------------------------------------------------------------------------------

namespace aes_engine {

Engine best()
{
    static const Engine engine = [] {
        for (Engine e : {Engine::Vaes512, Engine::Vaes256, Engine::Aesni})
            if (available(e))
                return e;
        return Engine::Table;
    }();
    return engine;
}

void cbc_encrypt(Engine engine, const AesExpandedKey &encrypt_key, AesBlock &chain, const std::uint8_t *in,
                 std::uint8_t *out, std::size_t blocks)
{
    if (engine != Engine::Table) {
        cbc_encrypt_aesni(encrypt_key, chain, in, out, blocks);
        return;
    }
    std::uint32_t c[4];
    for (int i = 0; i < 4; ++i)
        c[i] = load_le(chain.data() + 4 * i);
    for (std::size_t b = 0; b < blocks; ++b, in += 16, out += 16) {
        for (int i = 0; i < 4; ++i)
            c[i] ^= load_le(in + 4 * i);
        encrypt_words(c, encrypt_key.data());
        for (int i = 0; i < 4; ++i)
            store_le(out + 4 * i, c[i]);
    }
    for (int i = 0; i < 4; ++i)
        store_le(chain.data() + 4 * i, c[i]);
}

void cbc_decrypt(Engine engine, const AesExpandedKey &decrypt_key, AesBlock &chain, const std::uint8_t *in,
                 std::uint8_t *out, std::size_t blocks)
{
    if (engine != Engine::Table) {
        cbc_decrypt_hardware(engine, decrypt_key, chain, in, out, blocks);
        return;
    }
    std::uint32_t c[4];
    for (int i = 0; i < 4; ++i)
        c[i] = load_le(chain.data() + 4 * i);
    for (std::size_t b = 0; b < blocks; ++b, in += 16, out += 16) {
        std::uint32_t s[4];
        for (int i = 0; i < 4; ++i)
            s[i] = load_le(in + 4 * i);
        const std::uint32_t kept[4] = {s[0], s[1], s[2], s[3]}; // in and out may be the same memory
        decrypt_words(s, decrypt_key.data());
        for (int i = 0; i < 4; ++i) {
            store_le(out + 4 * i, s[i] ^ c[i]);
            c[i] = kept[i];
        }
    }
    for (int i = 0; i < 4; ++i)
        store_le(chain.data() + 4 * i, c[i]);
}

} // namespace aes_engine

bool aes_uses_hardware()
{
    return aes_engine::best() != aes_engine::Engine::Table;
}

// ---- Stream routines ----------------------------------------------------------------------------

void encrypt_stream_cbc(QIODevice &source, quint32 count, const AesKey &key, const AesBlock &iv, QIODevice &destination)
{
    const quint64 length = choose_range(source, count);
    if (length == 0)
        return;
    AesExpandedKey expanded = expand_key_encrypt(key);
    AesBlock chain = iv;
    struct Wipe {
        AesExpandedKey &k;
        ~Wipe() { secure_wipe(k.data(), sizeof(k)); }
    } wipe{expanded};

    if (run_in_memory(Direction::Encrypt, source, length, expanded, chain, destination))
        return;
    run_whole_blocks(Direction::Encrypt, source, length / 16, expanded, chain, destination);

    const auto tail = static_cast<qint64>(length % 16);
    if (tail > 0) {
        AesBlock block{}; // the zero fill
        if (source.read(reinterpret_cast<char *>(block.data()), tail) != tail)
            read_error();
        aes_engine::cbc_encrypt(aes_engine::best(), expanded, chain, block.data(), block.data(), 1);
        write_all(destination, block.data(), 16);
    }
}

void decrypt_stream_cbc(QIODevice &source, quint32 count, const AesKey &key, const AesBlock &iv, QIODevice &destination)
{
    const quint64 length = choose_range(source, count);
    if (length % 16 != 0)
        throw EAESError("Invalid buffer size for decryption");
    if (length == 0)
        return;
    AesExpandedKey expanded = expand_key_decrypt(key);
    AesBlock chain = iv;
    struct Wipe {
        AesExpandedKey &k;
        ~Wipe() { secure_wipe(k.data(), sizeof(k)); }
    } wipe{expanded};

    if (run_in_memory(Direction::Decrypt, source, length, expanded, chain, destination))
        return;
    run_whole_blocks(Direction::Decrypt, source, length / 16, expanded, chain, destination);
}

} // namespace yunshan
