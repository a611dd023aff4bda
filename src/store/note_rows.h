#pragma once
// The rows of one note: the title row (list entry), the notes row (tag line, times, plain-text
// copy), the rtffile row (RTF body) and the picture rows, tied by the note id. Every statement
// that reads or writes a single note lives here; values are bound, and every write goes through
// the store's write path, on both databases in one transaction.
#include "store/connection.h"
#include "store/picture_rows.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>

#include <optional>

namespace yunshan {

class NoteStore;

// Everything the editor shows of a note, as stored.
struct StoredNote {
    bool has_rtf = false; // a row in rtffile: the body is RTF
    QByteArray rtf;       // the RTF body as stored
    bool has_notes_row = false;
    QString label;                 // tag line as stored
    QString put;                   // update time as stored
    QVariant content;              // plain-text copy as stored (plain bodies only)
    QList<StoredPicture> pictures; // in the order the database returns them
};

// Reads everything the editor shows of note `note_id` from the main database (nothing when it
// is closed); throws DbError.
StoredNote read_stored_note(NoteStore &store, int note_id);

// The stored caption and encryption mode (`isDel`) of a note's title row.
struct NoteTitleRow {
    QString caption;
    int isDel = 0;
};
// nullopt when the note has no title row (or the main database is closed).
std::optional<NoteTitleRow> read_note_title(NoteStore &store, int note_id);
// The stored tag line; empty when there is none.
QString read_note_label(NoteStore &store, int note_id);

// The time as the database writes CURRENT_TIMESTAMP.
QString database_now(Connection &db);

// What a save writes of a note's rows, in their stored forms.
struct NoteRowsUpdate {
    bool title = false; // the title row: `isDel` and `caption`
    int isDel = 0;
    QString caption;
    // true: the notes row (tag line, update time, plain-text copy) and, when `rtf` is set, the
    // rtffile row; false: only the tag line of the notes row.
    bool body = false;
    QString label;
    SqlValue content;
    std::optional<QByteArray> rtf;
    QString put; // the update time; empty: the database's current time (the same in both files)
};
// Writes the rows in one write. False (nothing written) when the note's rows are gone.
bool update_note_rows(NoteStore &store, int note_id, const NoteRowsUpdate &update);

// A new empty plain note: a notes row and a title row at `px` in minor category
// `section_caption` of major category `class_caption`, both databases alike. Returns its id.
int insert_note_rows(NoteStore &store, const QString &class_caption, const QString &section_caption, int px,
                     const QString &caption);

// Deletes the note's title, notes and rtffile rows (pictures stay) in one write. False when the
// note had no rows left to delete.
bool delete_note_rows(NoteStore &store, int note_id);

// The note's title row into the minor category captioned `section_caption` (and its major
// category). False (nothing written) when there is no such minor category.
bool move_note_row(NoteStore &store, int note_id, const QString &section_caption);

// The favourite flag (`title.fast`) of the note's title row.
void write_favourite_flag(NoteStore &store, int note_id, int flag);

} // namespace yunshan
