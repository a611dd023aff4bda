#pragma once
// Writing the open note back: saving, creating and deleting notes, save-as, and the autosave
// copy of an unsaved body with its recovery at start-up.
#include "crypto/note_crypt.h"
#include "store/connection.h"

#include <QByteArray>
#include <QString>

#include <optional>

class QDate;
class QLocale;
class QTextDocument;

namespace yunshan {

// A note's fields as they are written: the plain forms going in, the stored forms coming out.
struct NoteFields {
    QString caption;    // title.caption: the title text
    QString label;      // notes.label: the tag line
    QByteArray content; // notes.content: FF FE + UTF-16LE text; encrypted: the hexadecimal digits
    QByteArray rtf;     // rtffile.rtf: the RTF bytes (empty: the note keeps no rtffile row)
};

class NoteStore;

// The open note's fields in their plain forms: the title and tag line as typed, the plain-text
// copy of the body, and its RTF bytes when the note keeps an rtffile row (`with_rtf`).
NoteFields plain_note_fields(const QString &title, const QString &label, const QTextDocument &body, bool with_rtf);

// The one step from the plain fields to what is stored, by encryption mode: mode 0 keeps them
// as they are, modes 1 and 2 encode them under `key_crypt`.
NoteFields stored_note_fields(const NoteFields &plain, int is_crypt, const QString &key_crypt);

// The value bound to notes.content: wide text (U+FEFF and the text) for a plain note, the
// hexadecimal digits as 8-bit text for an encrypted one.
SqlValue content_value(const NoteFields &stored, int is_crypt);

// What a save writes.
struct SaveRequest {
    int note_id = -1;
    int is_crypt = 0;
    QString key_crypt;
    int is_rtf = 0;
    bool title_changed = false; // title mark 1: the title or the tag line was edited
    bool body_changed = false;  // body mark 1
    bool legacy_form = false;   // the note was read in an older stored form: rewrite everything
    QString title;
    QString label;
    const QTextDocument *body = nullptr;
};

enum class SaveOutcome {
    NoNote, // no note open: nothing written
    Saved,
    NoteMissing, // the note's rows are gone from the main database: nothing reported as saved
};

struct NoteSaveResult {
    SaveOutcome outcome = SaveOutcome::NoNote;
    int is_crypt = 0; // the mode the note is stored in now
};

// Saves the open note in one write: the title row when the title or tag line changed (or the
// mode fell back to plain), the notes row with one update time for both databases and the RTF
// body when the body changed, else only the tag line. Throws DbError when the main database
// fails (nothing is written then).
NoteSaveResult save_note(NoteStore &store, const SaveRequest &request);

// ---- Creating and deleting ----

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

// ---- Save as ----

QString save_as_filter();
// The title without the characters a file name may not hold, followed by ".rtf".
QString save_as_file_name(const QString &title);
// Writes the body to `path`: plain text (UTF-16LE with its mark, CR LF) for a ".txt" file, else
// RTF; a name without an extension gets ".rtf". Returns the error text, empty on success.
QString write_note_file(QString path, const QTextDocument &body);

// ---- Autosave ----

// Seconds of unsaved body changes before the autosave: 300, or YUNSHAN_AUTOSAVE_SECONDS when
// that is a positive number (read once at start-up).
int autosave_cycle_seconds();

struct AutosaveCycle {
    int time_count = 0;
    int cycle_seconds = 300;
};

// One timer tick: counts it and tells whether the autosave is due now (a note is open and the
// cycle is complete). A due autosave starts the next cycle at 0.
bool autosave_tick(AutosaveCycle &cycle, int note_id);

// The autosave file of a note in `folder` (ending in "/").
QString autosave_path(const QString &folder, int note_id);

// The autosave file's bytes: the body as RTF, with the title and the tag line in its
// information group (\title and \keywords), which readers of the body skip.
QByteArray autosave_bytes(const QTextDocument &body, const QString &title, const QString &label);
// The title and tag line of autosave bytes; nullopt when the file holds none.
struct AutosaveFields {
    QString title;
    QString label;
};
std::optional<AutosaveFields> autosave_fields(const QByteArray &rtf);

// Writes the autosave bytes to the note's autosave file (private, replaced whole), then records
// the note in tmp_file1. False when the file could not be written (the key is not touched).
bool write_autosave(NoteStore &store, const QString &folder, int note_id, const QTextDocument &body,
                    const QString &title, const QString &label);
// The same with the file's bytes made already (an encrypted note's file is ciphertext).
bool write_autosave_file(NoteStore &store, const QString &folder, int note_id, const QByteArray &bytes);

// The stored fields shown beside a recovered body.
struct RecoveredFields {
    QString title;
    QString label;
    int is_crypt = 0;
};

// The note's title and tag line from the main database, for a body recovered from its autosave
// file; nullopt when the note no longer exists.
std::optional<RecoveredFields> recovered_note_fields(NoteStore &store, int note_id);

} // namespace yunshan
