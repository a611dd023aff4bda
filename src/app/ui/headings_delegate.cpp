#include "app/ui/headings_delegate.h"

#include "app/list_colours.h"
#include "app/ui/tform2.h"
#include "editor/headings.h"
#include "platform/rounding.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QLineEdit>
#include <QPainter>
#include <QToolTip>

namespace yunshan {

HeadingsDelegate::HeadingsDelegate(TForm2 &form, QObject *parent) : QStyledItemDelegate(parent), form_(form) {}

void HeadingsDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const QRect r = option.rect;
    const QString heading = index.data(Qt::DisplayRole).toString();
    painter->save();
    painter->setClipRect(r);
    const ListRowColours colours = list_row_colours(option.palette, option.state & QStyle::State_Selected);
    painter->fillRect(r, colours.background);
    painter->setFont(option.font);
    const QFontMetrics fm(option.font);
    const bool red = heading_in_red(heading, form_.Edit1->text(), form_.list.search_highlight);
    painter->setPen(red ? QColor(255, 0, 0) : colours.text);
    const int top = r.top() + round_half_even(form_.listfontheight * 0.3 / 2);
    painter->drawText(QPoint(r.left() + 4, top + fm.ascent()), heading_entry_text(index.row(), heading));
    painter->restore();
}

QSize HeadingsDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QSize s = QStyledItemDelegate::sizeHint(option, index);
    if (form_.note_item_height > 0)
        s.setHeight(form_.note_item_height);
    s.setWidth(QFontMetrics(option.font).horizontalAdvance(heading_entry_text(index.row(), index.data().toString())) +
               8);
    return s;
}

bool HeadingsDelegate::helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                                 const QModelIndex &index)
{
    if (event->type() != QEvent::ToolTip)
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    if (index.isValid() && index.row() == form_.list.hits_index && !form_.heading_hint.isEmpty())
        QToolTip::showText(event->globalPos(), form_.heading_hint, view, option.rect);
    else
        QToolTip::hideText();
    return true;
}

} // namespace yunshan
