#pragma once
// The rows of the three ordered lists: major categories (`Class`) and minor categories
// (`Section`), addressed by their captions, and the notes' title rows, addressed by the note id.
// Captions are bound as they are stored; every write is one transaction on both databases.
#include <QString>
#include <QStringList>

namespace yunshan {

class NoteStore;

// Captions of all major categories in ascending px order; empty when the main database is closed.
QStringList class_captions(NoteStore &store);
// Captions of the minor categories of the major category `class_caption`, in px order.
QStringList section_captions(NoteStore &store, const QString &class_caption);

// Whether any minor category (of any major category, deleted ones included) has exactly this
// caption.
bool section_caption_taken(NoteStore &store, const QString &caption);

void add_class(NoteStore &store, int px, const QString &stored_name);
// Under the major category captioned `class_caption`; false (nothing written) when there is none.
bool add_section(NoteStore &store, int px, const QString &stored_name, const QString &class_caption);

// The table of an ordered list.
enum class ListTable { Class, Section, Title };

// Deletes the category row (`Class` or `Section`) captioned `caption`; the rows deleted.
int delete_category_row(NoteStore &store, ListTable table, const QString &caption);

// A change of the sort key `px`.
enum class PxChange {
    Pin,  // 0
    Up,   // px - 3
    Down, // px + 3
    Set,  // the given value
};
// Changes `px` of the category captioned `caption` (Class, Section) or of note `note_id`'s title
// row (Title); the rows changed.
int change_px(NoteStore &store, ListTable table, const QString &caption, int note_id, PxChange change, int px = 0);

// Sets the caption of the category captioned `old_caption` (Class, Section) or of note
// `note_id`'s title row (Title) to `stored_caption`; the rows changed.
int set_caption(NoteStore &store, ListTable table, const QString &old_caption, int note_id,
                const QString &stored_caption);

} // namespace yunshan
