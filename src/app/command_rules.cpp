#include "app/command_rules.h"

namespace yunshan {

EncryptionMenuState encryption_menu_state(int is_crypt)
{
    EncryptionMenuState s;
    s.encrypt_with_title = is_crypt == 0 || is_crypt == 2;
    s.encrypt_content_only = is_crypt == 0 || is_crypt == 1;
    s.remove_encryption = is_crypt > 0;
    return s;
}

NoteListMenuState note_list_menu_state(bool save_enabled, int is_crypt, std::optional<bool> selected_favourite)
{
    NoteListMenuState s;
    s.save = save_enabled;
    s.encryption = encryption_menu_state(is_crypt);
    if (selected_favourite)
        s.favourite = FavouriteMenuState{!*selected_favourite, *selected_favourite};
    return s;
}

} // namespace yunshan
