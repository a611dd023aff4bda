#include "crypto/text_cipher.h"

#include "platform/code_page.h"
#include "platform/hex_digit.h"
#include "platform/text_trim.h"

#include <QBuffer>
#include <QIODevice>

#include <algorithm>

namespace yunshan {

namespace {

QByteArray to_utf16le(const QString &text)
{
    QByteArray bytes(text.size() * 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text.at(i).unicode();
        bytes[2 * i] = static_cast<char>(unit & 0xff);
        bytes[2 * i + 1] = static_cast<char>(unit >> 8);
    }
    return bytes;
}

QString from_utf16le(const char *data, qsizetype size)
{
    QString text(size / 2, Qt::Uninitialized);
    QChar *out = text.data();
    for (qsizetype i = 0; i < size / 2; ++i) {
        const auto low = static_cast<unsigned char>(data[2 * i]);
        const auto high = static_cast<unsigned char>(data[2 * i + 1]);
        out[i] = QChar(static_cast<char16_t>(low | high << 8));
    }
    return text;
}

} // namespace

AesKey key_block(const QString &password)
{
    AesKey key{};
    // The count is in code units, the copy in bytes: a password of L <= 16 units gives L bytes.
    const QByteArray bytes = to_utf16le(password.left(8));
    const auto n = static_cast<std::size_t>(std::min<qsizetype>(password.size(), 16));
    std::copy_n(bytes.constData(), n, reinterpret_cast<char *>(key.data()));
    return key;
}

namespace {

using StreamCbc = void (*)(QIODevice &, quint32, const AesKey &, const AesBlock &, QIODevice &);

// One whole buffer through a CBC stream routine under the note key of `password`.
QByteArray whole_buffer_cbc(StreamCbc cbc, const QByteArray &bytes, const QString &password)
{
    QByteArray input = bytes;
    QBuffer source(&input);
    source.open(QIODevice::ReadOnly);
    QByteArray output;
    QBuffer destination(&output);
    destination.open(QIODevice::WriteOnly);
    cbc(source, 0, key_block(password), kFixedIv, destination);
    return output;
}

} // namespace

QByteArray encrypt_bytes(const QByteArray &bytes, const QString &password)
{
    return whole_buffer_cbc(&encrypt_stream_cbc, bytes, password);
}

QByteArray decrypt_bytes(const QByteArray &bytes, const QString &password)
{
    return whole_buffer_cbc(&decrypt_stream_cbc, bytes, password);
}

QString encrypt_text(const QString &text, const QString &password)
{
    return bytes_to_hex(encrypt_bytes(to_utf16le(text), password));
}

QString decrypt_text(const QString &hex, const QString &password, TextForm form, TextTrim trim)
{
    const QByteArray plain = decrypt_bytes(hex_to_bytes(hex), password);
    QString text;
    if (form == TextForm::Utf16Le) {
        const bool bom = plain.size() >= 2 && static_cast<unsigned char>(plain[0]) == 0xff &&
                         static_cast<unsigned char>(plain[1]) == 0xfe;
        const qsizetype skip = bom ? 2 : 0;
        text = from_utf16le(plain.constData() + skip, plain.size() - skip);
    } else {
        text = ansi_to_unicode(plain);
    }
    if (trim == TextTrim::ControlsAtEnds)
        return trim_controls(text);
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1).unicode() == 0)
        --end;
    text.truncate(end);
    return text;
}

bool encrypt_stream_to_hex(QIODevice &source, const QString &password, QIODevice &destination)
{
    // The ciphertext is made in a buffer of our own and only its hex form reaches the destination.
    QByteArray cipher;
    QBuffer buffer(&cipher);
    buffer.open(QIODevice::WriteOnly);
    encrypt_stream_cbc(source, 0, key_block(password), kFixedIv, buffer);
    buffer.close();
    const QByteArray hex = trim_controls(bytes_to_hex(cipher)).toLatin1();
    if (destination.write(hex) != hex.size())
        throw StreamError("Stream write error");
    destination.seek(0);
    return true;
}

bool encrypt_stream(QIODevice &source, const QString &password, QIODevice &destination)
{
    encrypt_stream_cbc(source, 0, key_block(password), kFixedIv, destination);
    destination.seek(0);
    return true;
}

bool decrypt_stream(QIODevice &source, const QString &password, QIODevice &destination)
{
    decrypt_stream_cbc(source, 0, key_block(password), kFixedIv, destination);
    destination.seek(0);
    return true;
}

QString bytes_to_hex(const QByteArray &bytes)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    QString hex(bytes.size() * 2, Qt::Uninitialized);
    QChar *out = hex.data();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        out[2 * i] = QLatin1Char(kDigits[b >> 4]);
        out[2 * i + 1] = QLatin1Char(kDigits[b & 0x0f]);
    }
    return hex;
}

QByteArray hex_to_bytes(const QString &text)
{
    QByteArray bytes;
    bytes.reserve((text.size() + 1) / 2);
    for (qsizetype p = 0; p < text.size(); p += 2) {
        const qsizetype len = std::min<qsizetype>(2, text.size() - p);
        int value = 0;
        for (qsizetype i = 0; i < len; ++i) {
            const int digit = hex_digit_value(text.at(p + i).unicode());
            if (digit < 0) {
                const QString shown =
                    QStringLiteral("'0x") + text.mid(p, len) + QStringLiteral("' is not a valid integer value");
                throw IntegerConversionError(shown.toStdString());
            }
            value = value * 16 + digit;
        }
        bytes.append(static_cast<char>(value));
    }
    return bytes;
}

} // namespace yunshan
