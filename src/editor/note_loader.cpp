#include "editor/note_loader.h"

#include "store/note_store.h"

#include <QDateTime>
#include <QLocale>
#include <QTextCursor>
#include <QTextDocument>

namespace yunshan {

namespace {

QString text_of(const QVariant &v)
{
    if (!v.isValid())
        return QString();
    if (v.typeId() == QMetaType::QByteArray)
        return QString::fromUtf8(v.toByteArray());
    return v.toString();
}

} // namespace

StoredNote read_stored_note(NoteStore &store, int note_id)
{
    StoredNote note;
    if (!store.main_connected())
        return note;
    const QString id = QString::number(note_id);
    Connection &db = store.main();
    if (const auto rtf = db.query_first(QStringLiteral("select rtf from rtffile where noteId=") + id)) {
        note.has_rtf = true;
        note.rtf = rtf->typeId() == QMetaType::QString ? rtf->toString().toUtf8() : rtf->toByteArray();
        note.label = store.get_first_string(QStringLiteral("select label from notes where id=") + id);
        note.put = store.get_first_string(QStringLiteral("select put from notes where id=") + id);
    } else {
        const auto rows = db.query(QStringLiteral("select label,put,content from notes where id=") + id);
        if (!rows.isEmpty() && rows.first().size() == 3) {
            note.has_notes_row = true;
            note.label = text_of(rows.first().at(0));
            note.put = text_of(rows.first().at(1));
            note.content = rows.first().at(2);
        }
    }
    for (const auto &row : db.query(QStringLiteral("select id,img from picture where articleId=") + id)) {
        if (row.size() == 2)
            note.pictures.append(StoredPicture{static_cast<int>(row.at(0).toLongLong()), row.at(1).toByteArray()});
    }
    return note;
}

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
