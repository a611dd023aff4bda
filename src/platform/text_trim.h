#pragma once
// Trimming typed and decrypted text.
#include <QString>

namespace yunshan {

// The text without the characters of code 32 or less at either end (blanks, tabs, line breaks
// and other control characters); characters inside stay, and so does U+3000 and every other
// character above 32.
QString trim_controls(const QString &text);

} // namespace yunshan
