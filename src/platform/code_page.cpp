#include "platform/code_page.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace yunshan {

// "GBK" is the Windows code page 936 in Qt's ICU build. Never "GB2312": that name maps to
// EUC-CN and drops the GBK-only characters.
static constexpr const char *kCodePage = "GBK";

QByteArray unicode_to_ansi(const QString &text)
{
    {
        QStringEncoder whole(kCodePage, QStringConverter::Flag::Stateless);
        QByteArray bytes = whole.encode(text);
        if (!whole.hasError())
            return bytes;
    }
    QStringEncoder encoder(kCodePage, QStringConverter::Flag::Stateless);
    QByteArray out;
    out.reserve(text.size() * 2);
    // Encode character by character so that an unencodable one becomes a single '?',
    // as the Windows conversion does, instead of the converter's substitution bytes.
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype len =
            (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) ? 2 : 1;
        const QStringView one = QStringView(text).mid(i, len);
        if (one.size() == 1 && one.at(0).unicode() < 0x80) {
            out.append(char(one.at(0).unicode()));
        } else {
            QByteArray bytes = encoder.encode(one);
            if (encoder.hasError() || bytes.isEmpty()) {
                // resetState() leaves the ICU converter failing every later character: start
                // a fresh one.
                encoder = QStringEncoder(kCodePage, QStringConverter::Flag::Stateless);
                out.append('?');
            } else {
                out.append(bytes);
            }
        }
        i += len;
    }
    return out;
}

QString ansi_to_unicode(const QByteArray &bytes)
{
    QStringDecoder decoder(kCodePage, QStringConverter::Flag::Stateless);
    QString text = decoder.decode(bytes);
    // The converter drops a lead byte that ends the input; show it as a replacement character.
    qsizetype i = 0;
    bool dangling = false;
    while (i < bytes.size()) {
        const auto b = static_cast<unsigned char>(bytes.at(i));
        if (b >= 0x81 && b <= 0xFE) {
            dangling = (i + 1 == bytes.size());
            i += 2;
        } else {
            i += 1;
        }
    }
    if (dangling)
        text += QChar(QChar::ReplacementCharacter);
    return text;
}

} // namespace yunshan
