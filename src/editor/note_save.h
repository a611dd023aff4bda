#pragma once
// Writing the open note back: the stored fields by encryption mode, saving, and save-as.
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

// ---- Save as ----

QString save_as_filter();
// The title without the characters a file name may not hold, followed by ".rtf".
QString save_as_file_name(const QString &title);
// Writes the body to `path`: plain text (UTF-16LE with its mark, CR LF) for a ".txt" file, else
// RTF; a name without an extension gets ".rtf". Returns the error text, empty on success.
QString write_note_file(QString path, const QTextDocument &body);

} // namespace yunshan
