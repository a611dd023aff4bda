#pragma once
// Drawing of the note list's entries: running number, list-mark pictures and the search text in
// red. The item's display data stays the entry's text, so screen readers read what is shown.
#include "app/ui/entry_list_delegate.h"
#include "app/ui/program_pictures.h"

class QListWidgetItem;

namespace yunshan {

class TForm2;

// A note-list entry of text `text` whose accessible description says what the drawing shows
// besides the text: its number, "已收藏", "已加密" and the marked search text.
QListWidgetItem *new_note_entry(const TForm2 &form, const QString &text);

class NoteListDelegate : public EntryListDelegate {
  public:
    using EntryListDelegate::EntryListDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

  protected:
    QString armed_hint() const override;
};

} // namespace yunshan
