#pragma once
// Drawing of the headings list: running number and heading, the selected entry on a light
// violet, a heading holding the search text in red. The display data stays the heading.
#include <QStyledItemDelegate>

namespace yunshan {

class TForm2;

class HeadingsDelegate : public QStyledItemDelegate {
  public:
    HeadingsDelegate(TForm2 &form, QObject *parent);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

  private:
    TForm2 &form_;
};

} // namespace yunshan
