#pragma once
// What the note list's and the headings list's drawing share: the entry height of the list font,
// the row background, and the hint of an entry too wide for the list, shown only for the entry
// the mouse-move rule armed (`hits_index`).
#include "app/list_colours.h"

#include <QStyledItemDelegate>

namespace yunshan {

class TForm2;

class EntryListDelegate : public QStyledItemDelegate {
  public:
    EntryListDelegate(TForm2 &form, QObject *parent);

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

  protected:
    // The hint text of the armed entry, empty for none.
    virtual QString armed_hint() const = 0;
    // Saves the painter, clips it to the entry, fills the background (selected or not) and sets
    // the list font; the caller restores the painter. Returns the colours used.
    ListRowColours begin_entry(QPainter *painter, const QStyleOptionViewItem &option) const;

    TForm2 &form_;
};

} // namespace yunshan
