#include "editor/note_loader.h"

#include <QDateTime>
#include <QLocale>
#include <QTextCursor>
#include <QTextDocument>

namespace yunshan {

QString plain_body_text(const QVariant &content)
{
    if (!content.isValid())
        return QString();
    if (content.typeId() == QMetaType::QByteArray) {
        const QByteArray bytes = content.toByteArray();
        if (bytes.startsWith("\xFF\xFE")) {
            const QByteArray utf16 = bytes.mid(2);
            return QString::fromUtf16(reinterpret_cast<const char16_t *>(utf16.constData()), utf16.size() / 2);
        }
        return QString::fromUtf8(bytes);
    }
    QString text = content.toString();
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    return text;
}

QString regional_date_time(const QString &stored, const QLocale &locale)
{
    QDateTime t = QDateTime::fromString(stored, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!t.isValid())
        t = QDateTime::fromString(stored, Qt::ISODate);
    if (!t.isValid())
        return stored;
    QString time_format = locale.timeFormat(QLocale::ShortFormat);
    if (!time_format.contains(QLatin1String("ss"))) {
        const qsizetype at = time_format.indexOf(QLatin1String("mm"));
        if (at >= 0)
            time_format.insert(at + 2, QLatin1String(":ss"));
    }
    return locale.toString(t.date(), QLocale::ShortFormat) + QLatin1Char(' ') + locale.toString(t.time(), time_format);
}

bool body_has_headings_mark(const QString &body)
{
    return body.contains(QLatin1Char('#'));
}

bool find_next_in(const QTextDocument &doc, QTextCursor &cursor, const QString &text)
{
    if (text.isEmpty())
        return false;
    const int from = cursor.hasSelection() ? cursor.selectionEnd() : cursor.position();
    const QTextCursor found = doc.find(text, from);
    if (found.isNull())
        return false;
    cursor = found;
    return true;
}

} // namespace yunshan
