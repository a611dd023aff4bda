#pragma once
// Drawing of the headings list: running number and heading, the selected entry on a light
// violet, a heading holding the search text in red. The display data stays the heading.
#include "app/ui/entry_list_delegate.h"

namespace yunshan {

class HeadingsDelegate : public EntryListDelegate {
  public:
    using EntryListDelegate::EntryListDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

  protected:
    QString armed_hint() const override;
};

} // namespace yunshan
