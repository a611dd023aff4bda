#pragma once
// Putting typed text into SQL literals.
#include <QString>

namespace yunshan {

// Every single quote becomes two; nothing else changes.
QString double_quotes(const QString &text);

// The escaping of a new category's name: quotes doubled, then a slash before every double-quote
// character, then a slash before every percent sign. The slashes are stored with the name.
QString escape_sql_text(const QString &text);

} // namespace yunshan
