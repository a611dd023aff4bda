#pragma once
// The open note as the main window tracks it: which note, its body kind, its picture and the
// change marks of its fields. Its encryption (mode, password, pending changes) is NoteCryptState.
namespace yunshan {

// The body kind (`is_rtf`): a note keeps an rtffile row once it was saved as Rtf.
enum class BodyKind : int {
    Plain = 0,
    Rtf = 1,
};

// The title and the body marks.
enum class ChangeMark : int {
    Suspended = -1, // the program fills or formats the fields itself: edits are not tracked
    Unchanged = 0,
    Changed = 1, // edited since the last open or save
};

struct OpenNoteState {
    int noteId = -1;     // open note, -1 none
    int noteId_bei = -1; // last note opened or created
    int img_id = -1;     // selected picture, -1 none
    BodyKind is_rtf = BodyKind::Rtf;
    ChangeMark title_mark = ChangeMark::Unchanged; // the title and the tag-line fields
    ChangeMark body_mark = ChangeMark::Unchanged;
    bool search_marks = false; // the search text is marked in the body ("高亮" reads "取消")

    // The note a save or an encryption command acts on: the open note, or the last one opened
    // or created.
    int command_note_id() const { return noteId >= 0 ? noteId : noteId_bei; }
};

} // namespace yunshan
