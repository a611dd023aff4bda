#include "catalogue/move_note.h"

#include "store/note_rows.h"

namespace yunshan {

MoveOutcome move_note(NoteStore &store, int note_id, const QString &source, const std::optional<QString> &target)
{
    if (!target)
        return MoveOutcome::NoTarget;
    if (*target == source)
        return MoveOutcome::Unchanged;
    // A missing target would leave the note in no category at all.
    return move_note_row(store, note_id, *target) ? MoveOutcome::Moved : MoveOutcome::TargetMissing;
}

QString move_outcome_text(MoveOutcome outcome)
{
    switch (outcome) {
    case MoveOutcome::NoTarget:
        return QStringLiteral("请先选中一个目的小类。");
    case MoveOutcome::Unchanged:
        return QStringLiteral("当前大类与小类没有变化，无需移动。");
    case MoveOutcome::TargetMissing:
        return QStringLiteral("目的小类已不存在，请重新选择。");
    case MoveOutcome::Moved:
        break;
    }
    return {};
}

} // namespace yunshan
