#include "store/sql_text.h"

namespace yunshan {

QString double_quotes(const QString &text)
{
    QString out = text;
    out.replace(QLatin1Char('\''), QStringLiteral("''"));
    return out;
}

QString escape_sql_text(const QString &text)
{
    QString out = double_quotes(text);
    out.replace(QLatin1Char('"'), QStringLiteral("/\""));
    out.replace(QLatin1Char('%'), QStringLiteral("/%"));
    return out;
}

} // namespace yunshan
