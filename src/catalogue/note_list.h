#pragma once
// The note list: the statements of its four list kinds, the page offset, the entries' texts and
// the favourite mark.
#include "app/main_state.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace yunshan {

class NoteStore;

// List kinds (`search_flag`).
enum NoteListKind : int {
    kNoListYet = 0,
    kSearchList = 1,
    kFavouriteList = 2,
    kEncryptedList = 3,
    kSectionList = 100,
};

constexpr int kNotePageSize = 200;

// One row of a list statement.
struct NoteListRow {
    int noteId = 0;
    int isDel = 0; // list mark: 0 plain, 1 encrypted with title, 2 body only
    int fast = 0;  // favourite flag
    QString caption;
};

// Text an entry shows for its stored caption: the caption (mark 0), "******" (mark 1), or the
// caption's characters after the first ":ppp", at most 555 (mark 2).
QString displayed_note_text(const QString &caption, int mark);

// The statement of a search-box list kind (1, 2 or 3) for search text `text`, ending with the
// page offset. Kind 1 matches the text in plain captions, in the readable title after ":ppp" of
// body-only encrypted notes and in the tag line and plain-text copy of plain notes; the hex
// ciphertext of encrypted captions is never matched. "%" and "_" in the text keep their
// pattern meaning; single quotes are doubled.
// Kind 1 orders by `px`, notes of equal `px` by the title row's id. `limit` is the page size.
QString note_search_statement(int kind, const QString &text, int offset, int limit = kNotePageSize);
// The condition of the kind-1 statement for a non-empty `text`, over `title a` left-joined with
// `notes b`.
QString note_search_condition(const QString &text);
// The statement of the minor-category fill.
QString section_notes_statement(const QString &section_caption, int offset);

// Runs a list statement on the main database (nothing when it is closed); throws DbError.
QList<NoteListRow> query_note_list(NoteStore &store, const QString &sql);

// Chooses the list to show: `kind` with its search text or minor-category caption `key`. A change
// of kind or key starts again at the first page; the same list keeps its page.
void choose_note_list(NoteListState &list, int kind, const QString &key);
// "下一页": one page further, with no upper bound.
void next_note_page(NoteListState &list);
// "上一页": one page back; false (offset 0) when the first page is shown already.
bool previous_note_page(NoteListState &list);

// The common fill: the parallel arrays are replaced by the rows; returns the entries' texts.
QStringList fill_note_entries(NoteListState &list, const QList<NoteListRow> &rows);

// Marks (`on`) or unmarks the favourite flag of entry `row`, whose note `note_id` is open.
enum class FavouriteChange { NoEntry, Unchanged, Changed };
FavouriteChange set_favourite(NoteStore &store, NoteListState &list, int row, int note_id, bool on);

// One piece of an entry's drawn text, at `x` from the text origin.
struct EntryPiece {
    QString text;
    int x = 0;
    bool red = false;

    friend bool operator==(const EntryPiece &, const EntryPiece &) = default;
};
// The pieces of entry `row` (its number restarts at 1 on every page): with `highlight` and the
// search text `search` found (case-sensitive) in `displayed`, the number with the text before the
// match, the match in red and at most 255 characters after it; otherwise number and text in one.
QList<EntryPiece> entry_pieces(int row, const QString &displayed, const QString &search, bool highlight,
                               const std::function<int(const QString &)> &width);
// Text measured to decide whether an entry needs a hint: its position counted from 0, a blank
// and its text.
QString entry_hint_measure_text(int row, const QString &displayed);

} // namespace yunshan
