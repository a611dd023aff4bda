#include "editor/headings.h"

#include "platform/text_trim.h"

#include <QTextDocument>

namespace yunshan {

QStringList heading_lines(const QString &body)
{
    QStringList headings;
    static const QList<QChar> breaks{QLatin1Char('\n'), QLatin1Char('\r'), QChar(0x2028), QChar(0x2029)};
    qsizetype start = 0;
    for (qsizetype i = 0; i <= body.size(); ++i) {
        if (i < body.size() && !breaks.contains(body.at(i)))
            continue;
        const QString line = trim_controls(body.mid(start, i - start));
        if (line.startsWith(QLatin1Char('#')))
            headings.append(line);
        start = i + 1;
    }
    return headings;
}

QStringList heading_lines(const QTextDocument &doc)
{
    return heading_lines(doc.toPlainText());
}

QString heading_search_key(const QString &heading)
{
    const qsizetype blank = heading.indexOf(QLatin1Char(' '));
    const QString key = blank < 0 ? heading : heading.mid(blank + 1);
    return key.left(255);
}

QString heading_entry_text(int row, const QString &heading)
{
    return QString::number(row + 1) + QLatin1Char(' ') + heading;
}

bool heading_in_red(const QString &heading, const QString &search_text, bool search_highlight)
{
    return search_highlight && !search_text.isEmpty() && heading.contains(search_text, Qt::CaseSensitive);
}

} // namespace yunshan
