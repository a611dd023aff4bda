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

struct Keys {
    std::uint32_t k0, k1, k2;

    inline void update(unsigned char plain)
    {
        k0 = crc_step(k0, plain);
        k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
        k2 = crc_step(k2, static_cast<unsigned char>(k1 >> 24));
    }
    inline unsigned char stream_byte() const
    {
        const std::uint32_t temp = (k2 | 2) & 0xFFFF;
        return static_cast<unsigned char>((temp * (temp ^ 1)) >> 8);
    }
};

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

// The loops work on a local copy of the keys so the compiler keeps them in registers.
void TPKWAREZipCryptor::encrypt(unsigned char *data, std::size_t size)
{
    Keys keys{FKey, FKey1, FKey2};
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned char plain = data[i];
        data[i] = plain ^ keys.stream_byte();
        keys.update(plain);
    }
    FKey = keys.k0;
    FKey1 = keys.k1;
    FKey2 = keys.k2;
}

void TPKWAREZipCryptor::decrypt(unsigned char *data, std::size_t size)
{
    Keys keys{FKey, FKey1, FKey2};
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned char plain = data[i] ^ keys.stream_byte();
        data[i] = plain;
        keys.update(plain);
    }
    FKey = keys.k0;
    FKey1 = keys.k1;
    FKey2 = keys.k2;
}

} // namespace yunshan
