#pragma once
// Putting typed text into SQL literals.
#include <QString>

namespace yunshan {

// Every single quote becomes two; nothing else changes.
QString double_quotes(const QString &text);

} // namespace yunshan
