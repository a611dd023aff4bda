// Per-note encryption commands: encrypt with title, encrypt the content only, remove the
// encryption. They change the open note's mode in memory; the next save stores it.
#include "app/ui/note_list_pane.h"
#include "app/ui/tform2.h"
#include "crypto/note_crypt.h"
#include "session/note_list_model.h"

#include <functional>

namespace yunshan {

namespace {

// The selected entry, the note the command acts on and its outcome.
void run_command(TForm2 &form, const std::function<CryptCommandResult(int note_id, bool entry_selected)> &command)
{
    const int row = form.note_list_pane()->current_row();
    const int note_id = form.note.command_note_id();
    if (command(note_id, row >= 0 && row < form.note_list_model()->count()) != CryptCommandResult::Changed)
        return;
    form.note_list_model()->set_mode(note_id, form.crypt.is_crypt); // the lock picture follows
    form.note.title_mark = ChangeMark::Changed;
    form.note.body_mark = ChangeMark::Changed;
    form.set_save_enabled(true);
}

} // namespace

void TForm2::encrypt_note_with_title()
{
    // A mode change that can never be saved would leave the list marks wrong.
    if (refused_in_read_only())
        return;
    run_command(*this, [this](int id, bool selected) {
        return encrypt_open_note(crypt, dialogs_, id, selected, kEncryptedWithTitle);
    });
}

void TForm2::encrypt_note_content()
{
    if (refused_in_read_only())
        return;
    run_command(*this, [this](int id, bool selected) {
        return encrypt_open_note(crypt, dialogs_, id, selected, kEncryptedContentOnly);
    });
}

void TForm2::decrypt_note()
{
    if (refused_in_read_only())
        return;
    run_command(*this, [this](int id, bool) { return remove_note_encryption(crypt, id); });
}

void TForm2::drop_pending_crypt_changes()
{
    for (const ListMark &m : leave_without_saving(crypt, note.command_note_id()))
        note_list_model_->set_mode(m.note_id, m.mode);
}

} // namespace yunshan
