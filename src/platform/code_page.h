#pragma once
// The legacy 8-bit code page of the notes (code page 936, GBK). Every conversion between
// Unicode text and legacy bytes goes through this pair.
#include <QByteArray>
#include <QString>

namespace yunshan {

// Unicode → code page 936 bytes. Characters the code page lacks become '?'.
QByteArray unicode_to_ansi(const QString &text);
// Code page 936 bytes → Unicode. Invalid sequences become U+FFFD.
QString ansi_to_unicode(const QByteArray &bytes);

} // namespace yunshan
