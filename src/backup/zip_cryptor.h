#pragma once
// The stream cipher of the ZIP format's traditional encryption: three 32-bit keys driven by the
// CRC-32 step and a linear congruential update, one keystream byte per data byte.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace yunshan {

class TPKWAREZipCryptor {
  public:
    TPKWAREZipCryptor();

    // Resets the keys and runs the key update over the password's code page 936 bytes (no
    // terminator). `AEncrypt` is accepted for symmetry: both directions use the same schedule.
    void Init(const QString &APassword, bool AEncrypt);
    // Encrypts `Buffer` in place, continuing the current key state.
    void Encrypt(QByteArray &Buffer);
    // Decrypts `Buffer` in place, continuing the current key state.
    void Decrypt(QByteArray &Buffer);

    // The same operations on raw bytes, for the archive code.
    void init_with_bytes(QByteArrayView password);
    void encrypt(unsigned char *data, std::size_t size);
    void decrypt(unsigned char *data, std::size_t size);

  private:
    std::uint32_t FKey;  // key 0
    std::uint32_t FKey1; // key 1
    std::uint32_t FKey2; // key 2
};

} // namespace yunshan
