#include "store/sql_text.h"

namespace yunshan {

QString double_quotes(const QString &text)
{
    QString out = text;
    out.replace(QLatin1Char('\''), QStringLiteral("''"));
    return out;
}

} // namespace yunshan
