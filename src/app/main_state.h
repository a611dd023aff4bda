#pragma once
// State of the main window that lives for the whole run, kept in plain structs so that the
// rules working on it need no widgets. `TForm2` owns one of each.
#include <QList>
#include <QString>

namespace yunshan {

// Remembered selections of the three lists (-1: none).
struct CatalogueSelection {
    int class_index = -1;
    int section_index = -1;
    int note_index = -1; // open-entry index: the note-list entry whose note is open
    int select = 0;      // list the user acted on last: 1 major, 2 minor, 3 note
};

// The entries of the note list, parallel to the list's items.
struct NoteListState {
    QList<int> noteIdList;
    QList<int> is_crypt_list;
    QList<int> is_fast_list;
    int search_offset = 0;
    int search_flag = 0;
    QString list_key;              // search text or minor-category caption of the list shown
    bool search_highlight = false; // the search text is marked in the list and found on opening
    int hits_index = -1;           // entry under the mouse pointer, for hints
};

// The open note.
struct OpenNoteState {
    int noteId = -1;           // open note, -1 none
    int noteId_bei = -1;       // last note opened or created
    int img_id = -1;           // selected picture, -1 none
    int is_rtf = 1;            // 1: rich-text body, 0: plain
    int is_crypt = 0;          // 0 plain, 1 encrypted with title, 2 body only
    QString key_crypt;         // password of the open encrypted note
    int title_mark = 0;        // -1 suspended, 0 unchanged, 1 changed
    int body_mark = 0;         // -1 suspended, 0 unchanged, 1 changed
    bool search_marks = false; // the search text is marked in the body ("高亮" reads "取消")
};

} // namespace yunshan
