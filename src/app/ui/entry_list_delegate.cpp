#include "app/ui/entry_list_delegate.h"

#include "app/ui/tform2.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

namespace yunshan {

EntryListDelegate::EntryListDelegate(TForm2 &form, QObject *parent) : QStyledItemDelegate(parent), form_(form) {}

QSize EntryListDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QSize s = QStyledItemDelegate::sizeHint(option, index);
    if (form_.note_item_height > 0)
        s.setHeight(form_.note_item_height);
    return s;
}

bool EntryListDelegate::helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                                  const QModelIndex &index)
{
    if (event->type() != QEvent::ToolTip)
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    const QString hint = armed_hint();
    if (index.isValid() && index.row() == form_.list.hits_index && !hint.isEmpty())
        QToolTip::showText(event->globalPos(), hint, view, option.rect);
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
