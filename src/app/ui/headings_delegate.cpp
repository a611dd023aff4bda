#include "app/ui/headings_delegate.h"

#include "app/ui/editor_pane.h"
#include "editor/headings.h"
#include "platform/rounding.h"

#include <QPainter>

namespace yunshan {

HeadingsDelegate::HeadingsDelegate(const EditorPane &pane, QObject *parent) : EntryListDelegate(parent), pane_(pane) {}

void HeadingsDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const QRect r = option.rect;
    const QString heading = index.data(Qt::DisplayRole).toString();
    const ListRowColours colours = begin_entry(painter, option);
    const QFontMetrics fm(option.font);
    const QString match = pane_.match();
    painter->setPen(heading_in_red(heading, match, !match.isEmpty()) ? QColor(255, 0, 0) : colours.text);
    const int top = r.top() + round_half_even(pane_.list_font_height() * 0.3 / 2);
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

EntryListState HeadingsDelegate::list_state() const
{
    return {pane_.list_item_height(), pane_.heading_hint_row(), pane_.heading_hint()};
}

} // namespace yunshan
