#include "app/ui/entry_list_delegate.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

namespace yunshan {

QSize EntryListDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QSize s = QStyledItemDelegate::sizeHint(option, index);
    const int height = list_state().item_height;
    if (height > 0)
        s.setHeight(height);
    return s;
}

bool EntryListDelegate::helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                                  const QModelIndex &index)
{
    if (event->type() != QEvent::ToolTip)
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    const EntryListState state = list_state();
    if (index.isValid() && index.row() == state.hint_row && !state.hint.isEmpty())
        QToolTip::showText(event->globalPos(), state.hint, view, option.rect);
    else
        QToolTip::hideText();
    return true;
}

ListRowColours EntryListDelegate::begin_entry(QPainter *painter, const QStyleOptionViewItem &option) const
{
    painter->save();
    painter->setClipRect(option.rect);
    const ListRowColours colours = list_row_colours(option.palette, option.state & QStyle::State_Selected);
    painter->fillRect(option.rect, colours.background);
    painter->setFont(option.font);
    return colours;
}

} // namespace yunshan
