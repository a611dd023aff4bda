#pragma once
// Drawing of the note list's entries: running number, list-mark pictures and the search text in
// red, all read from the model's roles. The entry's display data stays its text, so screen
// readers read what is shown.
#include "app/ui/entry_list_delegate.h"

namespace yunshan {

class NoteListPane;

class NoteListDelegate : public EntryListDelegate {
  public:
    NoteListDelegate(const NoteListPane &pane, QObject *parent);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

  protected:
    // The hint of an entry too wide for the list, only for the entry the pane armed.
    EntryListState list_state() const override;

  private:
    const NoteListPane &pane_;
};

} // namespace yunshan
