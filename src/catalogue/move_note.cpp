#include "catalogue/move_note.h"

#include "store/note_store.h"
#include "store/sql_text.h"

namespace yunshan {

QString move_note_sql(const QString &target, int note_id)
{
    const QString t = double_quotes(target);
    return QStringLiteral("update title set classId=(select classId from Section where caption='") + t +
           QStringLiteral("'),sectionId=(select id from Section where caption='") + t +
           QStringLiteral("') where noteId=") + QString::number(note_id);
}

MoveOutcome move_note(NoteStore &store, int note_id, const QString &source, const std::optional<QString> &target)
{
    if (!target)
        return MoveOutcome::NoTarget;
    if (*target == source)
        return MoveOutcome::Unchanged;
    // A missing target would leave the note in no category at all.
    if (store.get_first_integer(QStringLiteral("select count(*) from Section where caption='") +
                                double_quotes(*target) + QStringLiteral("'")) == 0)
        return MoveOutcome::TargetMissing;
    store.set_first_string(move_note_sql(*target, note_id));
    return MoveOutcome::Moved;
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
