#include "session/open_note.h"

#include "platform/dialogs.h"

#include <exception>

namespace yunshan {

NoteToOpen read_note_to_open(NoteStore &store, Dialogs &dialogs, int note_id, int mode)
{
    NoteToOpen note;
    UnlockOutcome unlocked;
    try {
        if (mode >= 1) {
            unlocked = unlock_entry(store, dialogs, note_id, mode);
            if (unlocked.status != UnlockOutcome::Status::Unlocked)
                return note;
        }
        note.stored = read_stored_note(store, note_id);
        decrypt_stored_note(note.stored, mode, unlocked.password, unlocked.form);
    } catch (const NoteCryptError &e) {
        wipe_password(unlocked.password);
        dialogs.error(e.text());
        note.status = NoteToOpen::Status::Failed;
        return note;
    } catch (const std::exception &e) {
        wipe_password(unlocked.password);
        dialogs.error(QString::fromUtf8(e.what()));
        note.status = NoteToOpen::Status::Failed;
        return note;
    }
    note.status = NoteToOpen::Status::Ready;
    note.note_id = note_id;
    note.mode = mode;
    note.title = unlocked.title;
    note.password = unlocked.password;
    wipe_password(unlocked.password);
    note.legacy_form = unlocked.legacy_form();
    return note;
}

} // namespace yunshan
