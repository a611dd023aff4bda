#include "catalogue/note_list.h"

#include "store/note_store.h"
#include "store/sql_text.h"

namespace yunshan {

namespace {

const QString kBodyOnlySeparator = QStringLiteral(":ppp");

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

} // namespace

QString displayed_note_text(const QString &caption, int mark)
{
    switch (mark) {
    case 0:
        return caption;
    case 1:
        return QStringLiteral("******");
    default: {
        // Without the separator the text starts at the fourth character, as a search for the
        // title after the separator does.
        const qsizetype at = caption.indexOf(kBodyOnlySeparator);
        return caption.mid(at + kBodyOnlySeparator.size(), 555);
    }
    }
}

QString note_search_condition(const QString &text)
{
    const QString pattern = QStringLiteral("'%") + double_quotes(text) + QStringLiteral("%'");
    // Captions of encrypted notes hold ciphertext: those with title are not searched by caption
    // at all, body-only ones by their readable title after ":ppp". Body-only notes keep their tag
    // line in clear, and it is searched as the encryption hint promises.
    return QStringLiteral("(case a.isdel when 1 then 0 when 2 then substr(a.caption,instr(a.caption,':ppp')+4) like ") +
           pattern + QStringLiteral(" else a.caption like ") + pattern +
           QStringLiteral(" end) or ((a.isdel in (0,2)) and (b.label like ") + pattern +
           QStringLiteral(")) or ((a.isdel=0) and (b.content like ") + pattern + QStringLiteral("))");
}

QString note_search_statement(int kind, const QString &text, int offset, int limit)
{
    const QString tail =
        QStringLiteral(" LIMIT ") + QString::number(limit) + QStringLiteral(" OFFSET ") + QString::number(offset);
    switch (kind) {
    case kSearchList:
        if (text.isEmpty())
            return QStringLiteral("select noteId,isDel,fast,caption from title") + tail;
        // Notes of equal px keep the order of their title rows, on this path and the index's.
        return QStringLiteral("select a.noteId,a.isDel,a.fast,a.caption from title a left join notes b ON "
                              "a.noteId=b.id where ") +
               note_search_condition(text) + QStringLiteral(" order by px,a.id") + tail;
    case kFavouriteList:
        return QStringLiteral("select noteId,isDel,fast,caption from title where fast=1") + tail;
    case kEncryptedList:
        return QStringLiteral("select noteId,isDel,fast,caption from title where isdel>0") + tail;
    default:
        return QString();
    }
}

QString section_notes_statement(const QString &section_caption, int offset)
{
    return QStringLiteral("select noteId,isDel,fast,caption from title where sectionId=(select id from Section "
                          "where caption='") +
           double_quotes(section_caption) + QStringLiteral("') order by px LIMIT 200 OFFSET ") +
           QString::number(offset);
}

QList<NoteListRow> query_note_list(NoteStore &store, const QString &sql)
{
    QList<NoteListRow> rows;
    if (!store.main_connected() || sql.isEmpty())
        return rows;
    const auto result = store.main().query(sql);
    rows.reserve(result.size());
    for (const auto &r : result)
        rows.append(NoteListRow{as_int(r, 0), as_int(r, 1), as_int(r, 2), as_text(r, 3)});
    return rows;
}

void choose_note_list(NoteListState &list, int kind, const QString &key)
{
    if (kind != list.search_flag || key != list.list_key)
        list.search_offset = 0;
    list.search_flag = kind;
    list.list_key = key;
}

void next_note_page(NoteListState &list)
{
    list.search_offset += kNotePageSize;
}

bool previous_note_page(NoteListState &list)
{
    if (list.search_offset > 0) {
        list.search_offset -= kNotePageSize;
        return true;
    }
    list.search_offset = 0;
    return false;
}

QStringList fill_note_entries(NoteListState &list, const QList<NoteListRow> &rows)
{
    list.noteIdList.clear();
    list.is_crypt_list.clear();
    list.is_fast_list.clear();
    QStringList texts;
    texts.reserve(rows.size());
    for (const NoteListRow &r : rows) {
        list.noteIdList.append(r.noteId);
        list.is_crypt_list.append(r.isDel);
        list.is_fast_list.append(r.fast);
        texts.append(displayed_note_text(r.caption, r.isDel));
    }
    return texts;
}

FavouriteChange set_favourite(NoteStore &store, NoteListState &list, int row, int note_id, bool on)
{
    if (row < 0 || row >= list.is_fast_list.size())
        return FavouriteChange::NoEntry;
    const int flag = on ? 1 : 0;
    if (list.is_fast_list.at(row) == flag)
        return FavouriteChange::Unchanged;
    store.write([&](Writer &w) {
        w.run(QStringLiteral("update main.title set fast=?1 where noteId=?2"), {flag, note_id});
    });
    list.is_fast_list[row] = flag; // only once the database holds it
    return FavouriteChange::Changed;
}

QList<EntryPiece> entry_pieces(int row, const QString &displayed, const QString &search, bool highlight,
                               const std::function<int(const QString &)> &width)
{
    const QString number = QString::number(row + 1) + QLatin1Char(' ');
    const qsizetype at = highlight && !search.isEmpty() ? displayed.indexOf(search) : -1;
    if (at < 0)
        return {EntryPiece{number + displayed, 0, false}};
    const QString first = number + displayed.left(at);
    const int w1 = width(first);
    const QString rest = displayed.mid(at + search.size(), 255);
    QList<EntryPiece> pieces{EntryPiece{first, 0, false}, EntryPiece{search, w1, true}};
    if (!rest.isEmpty())
        pieces.append(EntryPiece{rest, w1 + width(search), false});
    return pieces;
}

QString entry_hint_measure_text(int row, const QString &displayed)
{
    return QString::number(row) + QLatin1Char(' ') + displayed;
}

} // namespace yunshan
