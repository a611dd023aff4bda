#pragma once
// The note list: its four list kinds, the page offset, the entries' texts and the favourite
// mark.
#include "store/note_queries.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace yunshan {

class NoteStore;

// List kinds (`search_flag`).
enum NoteListKind : int {
    kNoListYet = 0,
    kSearchList = 1, // the search box's lists: 1 to 99
    kFavouriteList = 2,
    kEncryptedList = 3,
    kSectionList = 100, // the minor category's list: 100 and above
};

// Kinds the search box fills (the paging buttons refill them with load_note_list) and the kind
// the minor-category selection fills.
constexpr bool is_search_box_list(NoteListKind kind)
{
    return kind >= kSearchList && kind < kSectionList;
}
constexpr bool is_section_list(NoteListKind kind)
{
    return kind >= kSectionList;
}

// The list shown: its kind, page and search text. Its entries are the note-list model's.
struct NoteListState {
    int search_offset = 0;
    NoteListKind search_flag = kNoListYet;
    QString list_key;              // search text or minor-category caption of the list shown
    bool search_highlight = false; // the search text is marked in the list and found on opening
    int hits_index = -1;           // entry under the mouse pointer, for hints
};

// Text an entry shows for its stored caption: the caption (mark 0), "******" (mark 1), or the
// caption's characters after the first ":ppp", at most 555 (mark 2).
QString displayed_note_text(const QString &caption, int mark);

// A page of the list of kind `kind` from row `offset`: the search for the text `key` (kind 1),
// the favourites (2), the encrypted notes (3) or the notes of the minor category captioned `key`
// (100). Nothing for another kind or a closed main database; throws DbError.
QList<NoteListRow> note_list_rows(NoteStore &store, NoteListKind kind, const QString &key, int offset);

// Chooses the list to show: `kind` with its search text or minor-category caption `key`. A change
// of kind or key starts again at the first page; the same list keeps its page.
void choose_note_list(NoteListState &list, NoteListKind kind, const QString &key);
// "下一页": one page further, with no upper bound.
void next_note_page(NoteListState &list);
// "上一页": one page back; false (offset 0) when the first page is shown already.
bool previous_note_page(NoteListState &list);

// Marks (`on`) or unmarks the favourite flag of note `note_id` in the database; `listed` is the
// flag its selected entry shows, none when no entry is selected. Changed: the entry shows `on`
// from now on (only once the database holds it).
enum class FavouriteChange { NoEntry, Unchanged, Changed };
FavouriteChange set_favourite(NoteStore &store, std::optional<bool> listed, int note_id, bool on);

// One piece of an entry's drawn text, at `x` from the text origin.
struct EntryPiece {
    QString text;
    int x = 0;
    bool red = false;

    friend bool operator==(const EntryPiece &, const EntryPiece &) = default;
};
// Where entry text `displayed` shows the search text marked in red: with `highlight` and the
// search text `search` found (case-sensitive, as typed) in it, its position; otherwise -1.
qsizetype entry_match_at(const QString &displayed, const QString &search, bool highlight);
// The search text an entry shows marked (what a screen reader is told), else empty.
QString entry_marked_text(const QString &displayed, const QString &search, bool highlight);

// The pieces of entry `row` (its number restarts at 1 on every page): with `highlight` and the
// search text `search` found (case-sensitive) in `displayed`, the number with the text before the
// match, the match in red and at most 255 characters after it; otherwise number and text in one.
QList<EntryPiece> entry_pieces(int row, const QString &displayed, const QString &search, bool highlight,
                               const std::function<int(const QString &)> &width);
// Text measured to decide whether an entry needs a hint: its position counted from 0, a blank
// and its text.
QString entry_hint_measure_text(int row, const QString &displayed);

} // namespace yunshan
