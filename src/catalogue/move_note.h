#pragma once
// Moving a note to another minor category: only the note's title row changes (its major and
// minor category), on both databases.
#include <QString>

#include <optional>

namespace yunshan {

class NoteStore;

enum class MoveOutcome {
    Moved,
    NoTarget,      // no minor category selected
    Unchanged,     // the target is the minor category the note is in
    TargetMissing, // the target has no row (deleted meanwhile): nothing is written
};

// Moves note `note_id` from the minor category captioned `source` (empty when unknown) to the
// one captioned `target` (nullopt: none selected). Throws DbError.
MoveOutcome move_note(NoteStore &store, int note_id, const QString &source, const std::optional<QString> &target);

// The message for an outcome other than Moved.
QString move_outcome_text(MoveOutcome outcome);

} // namespace yunshan
