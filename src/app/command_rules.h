#pragma once
// Enabling rules of the two context menus, worked out from the open note and the note list.
#include "catalogue/note_list.h"

#include <optional>

namespace yunshan {

// The three encryption entries of either context menu.
struct EncryptionMenuState {
    bool encrypt_with_title = false;   // 加密此笔记(含标题) / 加密笔记(含标题)
    bool encrypt_content_only = false; // 加密此笔记(仅内容) / 加密笔记(仅内容)
    bool remove_encryption = false;    // 取消加密

    friend bool operator==(const EncryptionMenuState &, const EncryptionMenuState &) = default;
};

// The favourite entries of the note list's menu.
struct FavouriteMenuState {
    bool add = false;    // 添加到常用列表
    bool remove = false; // 取消常用列表标记

    friend bool operator==(const FavouriteMenuState &, const FavouriteMenuState &) = default;
};

struct NoteListMenuState {
    bool save = false; // 保存笔记: exactly as the save button
    EncryptionMenuState encryption;
    // Empty: no entry selected, both favourite entries keep their previous state.
    std::optional<FavouriteMenuState> favourite;
};

// `is_crypt`: 0 plain, 1 encrypted with title, 2 body only.
EncryptionMenuState encryption_menu_state(int is_crypt);

// `selected_favourite`: the favourite mark of the note list's selected entry, none when no entry
// is selected.
NoteListMenuState note_list_menu_state(bool save_enabled, int is_crypt, std::optional<bool> selected_favourite);

} // namespace yunshan
