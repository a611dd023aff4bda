// Moving a note to another minor category: the move panel and its buttons.
#include "app/ui/catalogue_pane.h"
#include "app/ui/move_panel.h"
#include "app/ui/note_list_pane.h"
#include "app/ui/tform2.h"
#include "catalogue/move_note.h"
#include "platform/dialogs.h"
#include "session/note_list_model.h"

#include <exception>

namespace yunshan {

void TForm2::start_moving_note()
{
    if (read_only())
        return;
    const int row = note_list_pane_->selected_row();
    if (row < 0) {
        dialogs_.message(QStringLiteral("请先选中一个要移动的笔记。"));
        return;
    }
    const NoteListModel::Entry entry = note_list_model_->entry(row);
    move_note_id = row < note_list_model_->count() ? entry.note_id : note.noteId;
    move_panel_->show_for(entry.text, catalogue_pane_->minor_caption().value_or(QString()));
}

void TForm2::confirm_move()
{
    const std::optional<QString> target = catalogue_pane_->minor_caption();
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
    open_minor_category();
    move_panel_->hide();
}

} // namespace yunshan
