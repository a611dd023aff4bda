#include "app/ui/headings_delegate.h"

#include "app/ui/editor_pane.h"
#include "app/ui/tform2.h"
#include "editor/headings.h"
#include "platform/rounding.h"

#include <QAbstractItemView>
#include <QLineEdit>
#include <QPainter>

namespace yunshan {

void HeadingsDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const QRect r = option.rect;
    const QString heading = index.data(Qt::DisplayRole).toString();
    const ListRowColours colours = begin_entry(painter, option);
    const QFontMetrics fm(option.font);
    const bool red = heading_in_red(heading, form_.Edit1->text(), form_.list.search_highlight);
    painter->setPen(red ? QColor(255, 0, 0) : colours.text);
    const int top = r.top() + round_half_even(form_.listfontheight * 0.3 / 2);
    painter->drawText(QPoint(r.left() + 4, top + fm.ascent()), heading_entry_text(index.row(), heading));
    painter->restore();
}

QSize HeadingsDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QSize s = EntryListDelegate::sizeHint(option, index);
    s.setWidth(QFontMetrics(option.font).horizontalAdvance(heading_entry_text(index.row(), index.data().toString())) +
               8);
    return s;
}

QString HeadingsDelegate::armed_hint() const
{
    return form_.editor_pane()->heading_hint();
}

} // namespace yunshan
