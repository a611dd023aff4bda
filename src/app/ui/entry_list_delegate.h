#pragma once
// What the note list's and the headings list's drawing share: the entry height, the row
// background, and the hint of an entry too wide for the list, shown only for the entry the
// mouse-move rule armed.
#include "app/list_colours.h"

#include <QStyledItemDelegate>

namespace yunshan {

// What the shared drawing reads from the list's owner: the entry height (0: the style's), the
// armed entry's row (-1: none) and its hint text (empty: none).
struct EntryListState {
    int item_height = 0;
    int hint_row = -1;
    QString hint;
};

class EntryListDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // The style's size with the state's entry height when that is set.
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

  protected:
    virtual EntryListState list_state() const = 0;
    // Saves the painter, clips it to the entry, fills the background (selected or not) and sets
    // the list font; the caller restores the painter. Returns the colours used.
    ListRowColours begin_entry(QPainter *painter, const QStyleOptionViewItem &option) const;
};

} // namespace yunshan
