// Note list and the open note: the minor-category fill and clearing the view.
#include "app/ui/tform2.h"

#include <QLineEdit>
#include <QListWidget>
#include <QTextEdit>

namespace yunshan {

void TForm2::clear_note_view()
{
    note.title_mark = -1;
    note.body_mark = -1;
    Edit2->clear();
    Edit3->clear();
    RichEdit1->clear();
    set_panel(5, QString());
    note.noteId = -1;
    note.is_crypt = 0;
    note.key_crypt.clear();
    note.title_mark = 0;
    note.body_mark = 0;
    set_save_enabled(false);
}

void TForm2::fill_section_notes(const QString &caption)
{
    Q_UNUSED(caption);
    list.search_flag = 100;
    ListBox3->clear();
    list.noteIdList.clear();
    list.is_crypt_list.clear();
    list.is_fast_list.clear();
}

int TForm2::find_open_note_index() const
{
    return list.noteIdList.indexOf(note.noteId);
}

} // namespace yunshan
