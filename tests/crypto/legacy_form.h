#pragma once
// Fields as an earlier version stored them: encrypted from their code page 936 bytes.
#include "crypto/text_cipher.h"
#include "platform/code_page.h"

#include <QBuffer>
#include <QByteArray>
#include <QString>

namespace yunshan::test {

// The hexadecimal ciphertext of `text`'s code page 936 bytes under `password`.
inline QString legacy_hex(const QString &text, const QString &password)
{
    QByteArray plain = unicode_to_ansi(text);
    QBuffer source(&plain);
    source.open(QIODevice::ReadOnly);
    QByteArray hex;
    QBuffer destination(&hex);
    destination.open(QIODevice::ReadWrite);
    encrypt_stream_to_hex(source, password, destination);
    return QString::fromLatin1(hex);
}

} // namespace yunshan::test
