// Moving a note to another minor category: the move panel and its buttons.
#include "app/ui/move_panel.h"
#include "app/ui/tform2.h"
#include "catalogue/move_note.h"
#include "platform/dialogs.h"

#include <QListWidget>

#include <exception>

namespace yunshan {

namespace {

// The selected entry's text, nullopt when no entry is selected.
std::optional<QString> selected_entry(const QListWidget *l)
{
    const QListWidgetItem *item = l->currentItem();
    if (!item || !item->isSelected())
        return std::nullopt;
    return item->text();
}

} // namespace

void TForm2::N71Click()
{
    if (read_only())
        return;
    const QListWidgetItem *item = ListBox3->currentItem();
    const int row = item && item->isSelected() ? ListBox3->currentRow() : -1;
    if (row < 0) {
        dialogs_.message(QStringLiteral("请先选中一个要移动的笔记。"));
        return;
    }
    move_note_id = list.noteIdList.value(row, note.noteId);
    move_panel_->show_for(item->text(), selected_entry(ListBox2).value_or(QString()));
}

void TForm2::Button4Click()
{
    const std::optional<QString> target = selected_entry(ListBox2);
    MoveOutcome outcome = MoveOutcome::NoTarget;
    try {
        outcome = move_note(store, move_note_id, move_panel_->source(), target);
    } catch (const std::exception &e) {
        dialogs_.error(QString::fromUtf8(e.what()));
        return;
    }
    if (outcome != MoveOutcome::Moved) {
        dialogs_.message(move_outcome_text(outcome));
        return;
    }
    selection.section_index = -1;
    ListBox2Click();
    move_panel_->hide();
}

} // namespace yunshan
