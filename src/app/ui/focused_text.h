#pragma once
// The standard editing commands of the menus (撤销, 剪切, 复制, 粘贴, 删除, 全选) on the text control
// that has the focus: the editor or a line edit. Undo and delete change nothing of a read-only
// control.
namespace yunshan {

void undo_in_focused_text();
void cut_focused_text();
void copy_focused_text();
void paste_into_focused_text();
void delete_focused_selection();
void select_all_focused_text();

} // namespace yunshan
