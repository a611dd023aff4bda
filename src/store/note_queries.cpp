#include "store/note_queries.h"

#include "store/note_store.h"
#include "store/sql_text.h"

namespace yunshan {

namespace {

const QString kRowColumns = QStringLiteral("select noteId,isDel,fast,caption from title");

int as_int(const QList<SqlValue> &row, int column)
{
    return column < row.size() ? static_cast<int>(row.at(column).toLongLong()) : 0;
}

QString as_text(const QList<SqlValue> &row, int column)
{
    if (column >= row.size() || !row.at(column).isValid())
        return QString();
    const SqlValue &v = row.at(column);
    if (v.typeId() == QMetaType::QByteArray)
        return QString::fromUtf8(v.toByteArray());
    return v.toString();
}

QList<NoteListRow> rows_of(NoteStore &store, const QString &sql, const SqlParams &params)
{
    QList<NoteListRow> rows;
    if (!store.main_connected())
        return rows;
    const auto result = store.main().query(sql, params);
    rows.reserve(result.size());
    for (const auto &r : result)
        rows.append(NoteListRow{as_int(r, 0), as_int(r, 1), as_int(r, 2), as_text(r, 3)});
    return rows;
}

} // namespace

QString note_search_pattern(const QString &text)
{
    return QLatin1Char('%') + text + QLatin1Char('%');
}

namespace {

// The condition with `p` (a bound parameter or a quoted literal) as the pattern.
QString search_condition_with(const QString &p)
{
    // Captions of encrypted notes hold ciphertext: those with title are not searched by caption
    // at all, body-only ones by their readable title after ":ppp". Body-only notes keep their tag
    // line in clear, and it is searched as the encryption hint promises.
    return QStringLiteral("(case a.isdel when 1 then 0 when 2 then substr(a.caption,instr(a.caption,':ppp')+4) like ") +
           p + QStringLiteral(" else a.caption like ") + p +
           QStringLiteral(" end) or ((a.isdel in (0,2)) and (b.label like ") + p +
           QStringLiteral(")) or ((a.isdel=0) and (b.content like ") + p + QStringLiteral("))");
}

} // namespace

QString note_search_condition(int parameter)
{
    return search_condition_with(QLatin1Char('?') + QString::number(parameter));
}

QString note_search_condition(const QString &text)
{
    return search_condition_with(QLatin1Char('\'') + double_quotes(note_search_pattern(text)) + QLatin1Char('\''));
}

QList<NoteListRow> search_note_rows(NoteStore &store, const QString &text, int offset, int limit)
{
    if (text.isEmpty())
        return rows_of(store, kRowColumns + QStringLiteral(" LIMIT ?1 OFFSET ?2"), {limit, offset});
    // Notes of equal px keep the order of their title rows, on this path and the index's.
    return rows_of(store,
                   QStringLiteral("select a.noteId,a.isDel,a.fast,a.caption from title a left join notes b ON "
                                  "a.noteId=b.id where ") +
                       note_search_condition(1) + QStringLiteral(" order by px,a.id LIMIT ?2 OFFSET ?3"),
                   {note_search_pattern(text), limit, offset});
}

QList<NoteListRow> favourite_note_rows(NoteStore &store, int offset, int limit)
{
    return rows_of(store, kRowColumns + QStringLiteral(" where fast=1 LIMIT ?1 OFFSET ?2"), {limit, offset});
}

QList<NoteListRow> encrypted_note_rows(NoteStore &store, int offset, int limit)
{
    return rows_of(store, kRowColumns + QStringLiteral(" where isdel>0 LIMIT ?1 OFFSET ?2"), {limit, offset});
}

QList<NoteListRow> section_note_rows(NoteStore &store, const QString &section_caption, int offset)
{
    return rows_of(store,
                   kRowColumns + QStringLiteral(" where sectionId=(select id from Section where caption=?1) order by "
                                                "px LIMIT ?2 OFFSET ?3"),
                   {section_caption, kNotePageSize, offset});
}

} // namespace yunshan
