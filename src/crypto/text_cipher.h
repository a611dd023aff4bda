#pragma once
// Note passwords and strings on top of AES-128-CBC (aes.h): the stored forms of encrypted note
// fields. Every rule here (key block, fixed IV, UTF-16LE text, zero fill, upper-case hex) is part
// of the format of notes already on disk; a single byte of difference makes them unreadable.
//
// All cipher operations build the key block from the password, use the fixed IV, take the whole
// source from position 0 whatever its position, and write at the destination's current position
// (callers pass fresh, empty QBuffer objects). Streams are QIODevice, as described in aes.h.
#include "crypto/aes.h"

#include <QByteArray>
#include <QString>

#include <stdexcept>
#include <string>

class QIODevice;

namespace yunshan {

// A character pair of hexadecimal text that is not a number; the message reads
// "'0x<pair>' is not a valid integer value".
class IntegerConversionError : public std::runtime_error {
  public:
    explicit IntegerConversionError(const std::string &message) : std::runtime_error(message) {}
};

// How decrypted bytes become a string.
enum class TextForm {
    Utf16Le,    // UTF-16LE code units, a leading FF FE skipped; all encryption uses this form
    Legacy8Bit, // code page 936 bytes, written by earlier versions and only read now
};

// What decrypt_text removes from the decrypted string.
enum class TextTrim {
    ControlsAtEnds, // every character with a code of 32 or less at either end (the stored rule)
    ZeroFillOnly,   // only the U+0000 characters at the end, i.e. the zero fill of the last block
};

// The IV of every encryption and decryption: the 16 ASCII digits "3092817405293018".
inline constexpr AesBlock kFixedIv = {'3', '0', '9', '2', '8', '1', '7', '4', '0', '5', '2', '9', '3', '0', '1', '8'};

// The key from a password: 16 zero bytes, over which the first min(L, 16) bytes of the password's
// UTF-16LE form are copied, L being its length in UTF-16 code units. So at most the first 8 code
// units count, a password of odd length L <= 16 gives its last counted unit by its low byte only,
// and an empty password gives the all-zero key.
AesKey key_block(const QString &password);

// The text as UTF-16LE (no byte-order mark), encrypted and written as upper-case hex: a text of n
// code units gives 32 * ceil(n / 8) digits, an empty text an empty string.
QString encrypt_text(const QString &text, const QString &password);

// The reverse of encrypt_text (hex digits of either case). The decrypted bytes are decoded in the
// given form, then every character with a code of 32 or less is removed from both ends (this
// drops the zero fill). With TextTrim::ZeroFillOnly only the trailing U+0000 characters go, so a
// body keeps its leading indentation and final line break. A wrong password is not detected: it
// yields some other string.
// Throws IntegerConversionError for a non-hex pair and EAESError("Invalid buffer size for
// decryption") when the byte count is not a multiple of 16.
QString decrypt_text(const QString &hex, const QString &password, TextForm form,
                     TextTrim trim = TextTrim::ControlsAtEnds);

// The ciphertext of `bytes` (zero-filled to whole blocks), and the plaintext of `bytes` with up
// to 15 zero bytes of fill after it. decrypt_bytes throws EAESError when the byte count is not a
// multiple of 16.
QByteArray encrypt_bytes(const QByteArray &bytes, const QString &password);
QByteArray decrypt_bytes(const QByteArray &bytes, const QString &password);

// Encrypts the whole source and writes the ciphertext as upper-case hex digits, one byte each, to
// the destination; the destination is then positioned at 0. Returns true. The ciphertext itself
// never passes through the destination, so nothing it held before is lost.
bool encrypt_stream_to_hex(QIODevice &source, const QString &password, QIODevice &destination);

// Encrypts the whole source into the destination as raw bytes, then positions the destination at
// 0. Returns true.
bool encrypt_stream(QIODevice &source, const QString &password, QIODevice &destination);

// Decrypts the whole source into the destination, then positions the destination at 0. Nothing is
// removed: up to 15 zero bytes of fill may follow the plaintext. Returns true.
// Throws EAESError when the source length is not a multiple of 16.
bool decrypt_stream(QIODevice &source, const QString &password, QIODevice &destination);

// Two upper-case hex digits per byte, no separators.
QString bytes_to_hex(const QByteArray &bytes);

// Hex text to bytes, two characters per byte (either case); a last single character of an odd
// length gives one byte by itself ("ABC" → AB 0C). Throws IntegerConversionError for a pair that
// is not hexadecimal.
QByteArray hex_to_bytes(const QString &text);

} // namespace yunshan
