#pragma once
// Opening a note from the note list, the part that needs no window: the password of an encrypted
// entry, the note's rows and their decryption. Everything is read and decrypted before the view
// changes, so a wrong password, a database error or unreadable ciphertext leaves the open note
// as it was.
#include "crypto/note_crypt.h"
#include "store/note_rows.h"

#include <QString>

namespace yunshan {

class Dialogs;
class NoteStore;

struct NoteToOpen {
    enum class Status {
        Ready,     // read and decrypted: the fields below are set
        Cancelled, // the password entry was cancelled, or the password was wrong (said already)
        Failed,    // a database error or unreadable ciphertext (the error box was shown)
    };
    Status status = Status::Cancelled;
    int note_id = -1;
    int mode = kPlainNote;
    // The title of an encrypted note, as unlocked; a plain note's title is its entry's text.
    QString title;
    // The note's password while it is open (empty for a plain note). Whoever takes it over wipes
    // it when it is no longer needed.
    QString password;
    // The note was stored in the older 8-bit form: a save rewrites every field.
    bool legacy_form = false;
    StoredNote stored; // decrypted
};

// Reads note `note_id`, whose list mark is `mode`, for opening: an encrypted note asks for its
// password first. Failures are shown through `dialogs`; nothing is thrown.
NoteToOpen read_note_to_open(NoteStore &store, Dialogs &dialogs, int note_id, int mode);

} // namespace yunshan
