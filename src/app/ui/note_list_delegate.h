#pragma once
// Drawing of the note list's entries: running number, list-mark pictures and the search text in
// red. The item's display data stays the entry's text, so screen readers read what is shown.
#include "app/ui/program_pictures.h"

#include <QStyledItemDelegate>

namespace yunshan {

class TForm2;

class NoteListDelegate : public QStyledItemDelegate {
  public:
    explicit NoteListDelegate(TForm2 &form, QObject *parent);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

  private:
    TForm2 &form_;
};

} // namespace yunshan
