#pragma once
// Creating a note at the end of a minor category and deleting one, each in one write on both
// databases.
#include <QString>

class QDate;
class QLocale;

namespace yunshan {

class NoteStore;

// "新的笔记" followed by `date` in the short date format of `locale`.
QString new_note_caption(const QDate &date, const QLocale &locale);

struct NewNote {
    int note_id = -1;
    QString caption;
    int px = 0;
};

// Creates an empty plain note at the end of minor category `section_caption` (in major category
// `class_caption`), `entries` being the number of entries of the note list shown, in one write.
// The backup database gets the same rows. Throws DbError.
NewNote create_note(NoteStore &store, const QString &class_caption, const QString &section_caption, int entries,
                    const QString &caption);

// Deletes the note's title, notes and rtffile rows from both databases (pictures stay) in one
// write. False when the note had no rows left to delete. Throws DbError.
bool delete_note(NoteStore &store, int note_id);

} // namespace yunshan
