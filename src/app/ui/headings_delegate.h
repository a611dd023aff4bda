#pragma once
// Drawing of the headings list: running number and heading, the selected entry on a light
// violet, a heading holding the pane's match text in red. The display data stays the heading.
#include "app/ui/entry_list_delegate.h"

namespace yunshan {

class EditorPane;

class HeadingsDelegate : public EntryListDelegate {
  public:
    HeadingsDelegate(const EditorPane &pane, QObject *parent);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

  protected:
    EntryListState list_state() const override;

  private:
    const EditorPane &pane_;
};

} // namespace yunshan
