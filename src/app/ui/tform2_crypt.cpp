// Per-note encryption commands: encrypt with title, encrypt the content only, remove the
// encryption. They change the open note's mode in memory; the next save stores it.
#include "app/ui/tform2.h"
#include "crypto/note_crypt.h"

#include <QListWidget>

namespace yunshan {

namespace {

void show_change(TForm2 &form, CryptCommandResult result)
{
    if (result != CryptCommandResult::Changed)
        return;
    form.ListBox3->viewport()->update(); // the lock picture follows the list mark
    form.set_save_enabled(true);
}

} // namespace

void TForm2::N41Click()
{
    // A mode change that can never be saved would leave the list marks wrong.
    if (refused_in_read_only())
        return;
    show_change(*this, encrypt_open_note(note, list, crypt, dialogs_, ListBox3->currentRow(), kEncryptedWithTitle));
}

void TForm2::N67Click()
{
    if (refused_in_read_only())
        return;
    show_change(*this, encrypt_open_note(note, list, crypt, dialogs_, ListBox3->currentRow(), kEncryptedContentOnly));
}

void TForm2::N42Click()
{
    if (refused_in_read_only())
        return;
    show_change(*this, remove_note_encryption(note, list, crypt));
}

} // namespace yunshan
