#include "catalogue/note_list.h"

#include "store/note_rows.h"

namespace yunshan {

namespace {

const QString kBodyOnlySeparator = QStringLiteral(":ppp");

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

QList<NoteListRow> note_list_rows(NoteStore &store, NoteListKind kind, const QString &key, int offset)
{
    switch (kind) {
    case kSearchList:
        return search_note_rows(store, key, offset);
    case kFavouriteList:
        return favourite_note_rows(store, offset);
    case kEncryptedList:
        return encrypted_note_rows(store, offset);
    case kSectionList:
        return section_note_rows(store, key, offset);
    default:
        return {};
    }
}

void choose_note_list(NoteListState &list, NoteListKind kind, const QString &key)
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

FavouriteChange set_favourite(NoteStore &store, std::optional<bool> listed, int note_id, bool on)
{
    if (!listed)
        return FavouriteChange::NoEntry;
    if (*listed == on)
        return FavouriteChange::Unchanged;
    write_favourite_flag(store, note_id, on ? 1 : 0);
    return FavouriteChange::Changed;
}

qsizetype entry_match_at(const QString &displayed, const QString &search, bool highlight)
{
    return highlight && !search.isEmpty() ? displayed.indexOf(search) : -1;
}

QString entry_marked_text(const QString &displayed, const QString &search, bool highlight)
{
    return entry_match_at(displayed, search, highlight) >= 0 ? search : QString();
}

QList<EntryPiece> entry_pieces(int row, const QString &displayed, const QString &search, bool highlight,
                               const std::function<int(const QString &)> &width)
{
    const QString number = QString::number(row + 1) + QLatin1Char(' ');
    const qsizetype at = entry_match_at(displayed, search, highlight);
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
