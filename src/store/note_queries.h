#pragma once
// The note list's statements: a page of the notes of a minor category, of a search, of the
// favourites and of the encrypted notes. Values (search pattern, caption, page) are bound.
#include <QList>
#include <QString>

namespace yunshan {

class NoteStore;

constexpr int kNotePageSize = 200;

// One row of a list statement.
struct NoteListRow {
    int noteId = 0;
    int isDel = 0; // list mark: 0 plain, 1 encrypted with title, 2 body only
    int fast = 0;  // favourite flag
    QString caption;
};

// The search of the search box for `text`, from row `offset`, at most `limit` rows. Without text
// every title row (in the table's order). With text: the text in plain captions, in the readable
// title after ":ppp" of body-only encrypted notes and in the tag line and plain-text copy of
// plain notes; the hex ciphertext of encrypted captions is never matched. "%" and "_" in the
// text keep their pattern meaning. Ordered by `px`, notes of equal `px` by the title row's id.
// Nothing when the main database is closed; throws DbError.
QList<NoteListRow> search_note_rows(NoteStore &store, const QString &text, int offset, int limit = kNotePageSize);
// Favourite notes (`fast` = 1) and encrypted notes (`isDel` > 0), in the table's order.
QList<NoteListRow> favourite_note_rows(NoteStore &store, int offset, int limit = kNotePageSize);
QList<NoteListRow> encrypted_note_rows(NoteStore &store, int offset, int limit = kNotePageSize);
// The notes of the minor category captioned `section_caption`, ordered by `px`.
QList<NoteListRow> section_note_rows(NoteStore &store, const QString &section_caption, int offset);

// The search's condition over `title a` left-joined with `notes b`, its pattern bound as
// parameter number `parameter` (the search index confirms its candidates with it).
QString note_search_condition(int parameter);
// The same condition with the pattern for `text` written into it, single quotes doubled.
QString note_search_condition(const QString &text);
// The pattern bound to the condition for the search text `text`.
QString note_search_pattern(const QString &text);

} // namespace yunshan
