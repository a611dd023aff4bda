#pragma once
// AES-128 (FIPS-197) and the CBC mode on byte streams.
//
// Every encrypted note field on disk was produced by `encrypt_stream_cbc`, so the key schedule,
// the chaining and the zero fill of the last partial block below are part of the stored format:
// do not change a byte of their results.
//
// Streams: every routine here and in text_cipher.h takes the source and the destination as
// QIODevice. The source must be open for reading and random-access (QBuffer, QFile): its size(),
// pos() and seek() are used. The destination must be open for writing; output is written from its
// current position. Callers in the program pass QBuffer objects. Source and destination must be
// different devices.
#include <QtGlobal>

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>

class QIODevice;

namespace yunshan {

using AesKey = std::array<std::uint8_t, 16>;
using AesBlock = std::array<std::uint8_t, 16>;

// 11 round keys of 4 words. Word i holds bytes 4i..4i+3 of the FIPS-197 key schedule in
// little-endian order: the first key byte is the low byte of word 0.
using AesExpandedKey = std::array<std::uint32_t, 44>;

// Raised by the cipher itself; its only message is "Invalid buffer size for decryption".
class EAESError : public std::runtime_error {
  public:
    explicit EAESError(const std::string &message) : std::runtime_error(message) {}
};

// A short read ("Stream read error") or a short write ("Stream write error") on a stream.
class StreamError : public std::runtime_error {
  public:
    explicit StreamError(const std::string &message) : std::runtime_error(message) {}
};

// The FIPS-197 key expansion of a 128-bit key.
AesExpandedKey expand_key_encrypt(const AesKey &key);
// The key schedule of the equivalent inverse cipher: expand_key_encrypt, then InvMixColumns on
// round keys 1 to 9 (words 4 to 39); round keys 0 and 10 stay as they are.
AesExpandedKey expand_key_decrypt(const AesKey &key);

// One block through the 10-round cipher (schedule from expand_key_encrypt).
AesBlock encrypt_block(const AesBlock &input, const AesExpandedKey &encrypt_key);
// One block through the 10-round equivalent inverse cipher (schedule from expand_key_decrypt).
AesBlock decrypt_block(const AesBlock &input, const AesExpandedKey &decrypt_key);

// CBC encryption of a byte range of `source` into `destination`.
//
// The range: with count 0 the source is rewound to 0 and the whole source is taken; otherwise
// it starts at the source's current position and holds min(count, bytes left) bytes. The output
// goes to the destination's current position, which is not rewound afterwards.
// Whole 16-byte blocks are chained with the IV; a last partial block is completed with zero bytes,
// so the output is the range length rounded up to a multiple of 16 (an empty range writes
// nothing). The zero fill is not marked: decryption gives it back as trailing zero bytes.
//
// Throws StreamError on a short read or write; whatever was written before stays written.
void encrypt_stream_cbc(QIODevice &source, quint32 count, const AesKey &key, const AesBlock &iv,
                        QIODevice &destination);

// CBC decryption of a byte range (chosen as for encrypt_stream_cbc) into `destination`.
// The plaintext is as long as the ciphertext: the zero fill of encryption stays at its end.
//
// Throws EAESError("Invalid buffer size for decryption") before writing anything when the range
// length is not a multiple of 16, StreamError on a short read or write.
void decrypt_stream_cbc(QIODevice &source, quint32 count, const AesKey &key, const AesBlock &iv,
                        QIODevice &destination);

// True when the stream routines run on the processor's AES instructions (the table-driven code
// is used otherwise; both give the same bytes).
bool aes_uses_hardware();

} // namespace yunshan
