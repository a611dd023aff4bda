#include "backup/zip_cryptor.h"

#include "platform/code_page.h"

#include <array>

namespace yunshan {
namespace {

// The standard CRC-32 table (reflected polynomial 0xEDB88320).
constexpr std::array<std::uint32_t, 256> make_crc_table()
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
        table[n] = c;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> kCrcTable = make_crc_table();

inline std::uint32_t crc_step(std::uint32_t crc, unsigned char byte)
{
    return kCrcTable[(crc ^ byte) & 0xFF] ^ (crc >> 8);
}

constexpr std::uint32_t kMultiplier = 134775813u;

struct Keys {
    std::uint32_t k0, k1, k2;

    inline void update(unsigned char plain)
    {
        k0 = crc_step(k0, plain);
        k1 = (k1 + (k0 & 0xFF)) * kMultiplier + 1;
        k2 = crc_step(k2, static_cast<unsigned char>(k1 >> 24));
    }
};

// Extra forms of the CRC table for the data loop.
struct StepTables {
    std::array<std::uint32_t, 256> low{};  // low byte of each entry
    std::array<std::uint16_t, 256> base{}; // low 16 bits of each entry with bit 1 clear
};

constexpr StepTables make_step_tables()
{
    StepTables t;
    for (std::size_t i = 0; i < 256; ++i) {
        t.low[i] = kCrcTable[i] & 0xFF;
        t.base[i] = static_cast<std::uint16_t>(kCrcTable[i] & 0xFFFD);
    }
    return t;
}

constexpr StepTables kStep = make_step_tables();

// Hides how `value` was computed from the optimiser, which would otherwise fold the rewritten
// expressions below back into their shorter textbook forms.
inline std::uint32_t opaque(std::uint32_t value)
{
#if defined(__GNUC__)
    asm("" : "+r"(value));
#endif
    return value;
}

// Encryption or decryption of `size` bytes in place. In decryption every byte waits for the one
// before (its keystream byte comes from keys that the previous plain byte changed), so the loop's
// speed is the length of that chain; it is written to keep off it whatever can be done beside it:
//   - the keystream input (k2 | 2) & 0xFFFF comes straight from a table lookup, since
//     (a ^ b) | 2 == (a & ~2) ^ (b | 2);
//   - table indices are formed from bytes already known, so they need no masking on the chain;
//   - (k1 + b) * M + 1 is computed as (k1 * M + 1) + b * M, the first part ahead of time.
template <bool Decrypt> void run(Keys &keys, unsigned char *data, std::size_t size)
{
    std::uint32_t k0 = keys.k0;
    std::uint32_t k1 = keys.k1;
    std::uint32_t k2 = keys.k2;
    std::uint32_t temp = (k2 | 2) & 0xFFFF;
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint32_t in = data[i];
        const std::uint32_t stream = ((temp * (temp ^ 1)) >> 8) & 0xFF;
        const std::uint32_t plain = Decrypt ? in ^ stream : in;
        data[i] = static_cast<unsigned char>(in ^ stream);
        const std::uint32_t i0 = (k0 & 0xFF) ^ plain;
        const std::uint32_t k0_low = kStep.low[i0] ^ opaque((k0 >> 8) & 0xFF);
        k0 = kCrcTable[i0] ^ (k0 >> 8);
        k1 = opaque(k1 * kMultiplier + 1) + k0_low * kMultiplier;
        const std::uint32_t i2 = opaque(k2 & 0xFF) ^ (k1 >> 24);
        temp = kStep.base[i2] ^ (((k2 >> 8) & 0xFFFF) | 2);
        k2 = kCrcTable[i2] ^ (k2 >> 8);
    }
    keys = {k0, k1, k2};
}

// Runs the cipher over `data` from the kept key state and keeps the state it ends in.
template <bool Decrypting>
void run_kept(std::uint32_t &k0, std::uint32_t &k1, std::uint32_t &k2, unsigned char *data, std::size_t size)
{
    Keys keys{k0, k1, k2};
    run<Decrypting>(keys, data, size);
    k0 = keys.k0;
    k1 = keys.k1;
    k2 = keys.k2;
}

} // namespace

TPKWAREZipCryptor::TPKWAREZipCryptor()
{
    init_with_bytes({});
}

void TPKWAREZipCryptor::Init(const QString &APassword, bool AEncrypt)
{
    (void)AEncrypt;
    init_with_bytes(unicode_to_ansi(APassword));
}

void TPKWAREZipCryptor::Encrypt(QByteArray &Buffer)
{
    encrypt(reinterpret_cast<unsigned char *>(Buffer.data()), static_cast<std::size_t>(Buffer.size()));
}

void TPKWAREZipCryptor::Decrypt(QByteArray &Buffer)
{
    decrypt(reinterpret_cast<unsigned char *>(Buffer.data()), static_cast<std::size_t>(Buffer.size()));
}

void TPKWAREZipCryptor::init_with_bytes(QByteArrayView password)
{
    Keys keys{0x12345678u, 0x23456789u, 0x34567890u};
    for (const char c : password)
        keys.update(static_cast<unsigned char>(c));
    FKey = keys.k0;
    FKey1 = keys.k1;
    FKey2 = keys.k2;
}

void TPKWAREZipCryptor::encrypt(unsigned char *data, std::size_t size)
{
    run_kept<false>(FKey, FKey1, FKey2, data, size);
}

void TPKWAREZipCryptor::decrypt(unsigned char *data, std::size_t size)
{
    run_kept<true>(FKey, FKey1, FKey2, data, size);
}

} // namespace yunshan
