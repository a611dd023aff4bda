#include "app/ui/note_list_delegate.h"

#include "app/ui/note_list_pane.h"
#include "app/ui/program_pictures.h"
#include "catalogue/note_list.h"
#include "platform/rounding.h"
#include "session/note_list_model.h"

#include <QPainter>

namespace yunshan {

namespace {

// Width of the list-mark pictures of an entry drawn with font height `h`.
int mark_size(int h)
{
    return qMax(8, round_half_even(h * 0.6));
}

} // namespace

NoteListDelegate::NoteListDelegate(const NoteListPane &pane, QObject *parent) : EntryListDelegate(parent), pane_(pane)
{
}

void NoteListDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const QRect r = option.rect;
    const int row = index.row();
    const ListRowColours colours = begin_entry(painter, option);
    const QFontMetrics fm(option.font);
    const int h = pane_.font_height();
    const int x = r.left() + 4;
    const int baseline = r.top() + round_half_even(h * 0.3 / 2) + fm.ascent();
    const QString text = index.data(Qt::DisplayRole).toString();
    const QString match = index.data(NoteListModel::MatchRole).toString();
    const bool locked = index.data(NoteListModel::ModeRole).toInt() > 0;
    const bool favourite = index.data(NoteListModel::FavouriteRole).toBool();
    const auto pieces =
        entry_pieces(row, text, match, !match.isEmpty(), [&fm](const QString &s) { return fm.horizontalAdvance(s); });
    // The pictures sit after the number: the lock in the lower half of the row, the favourite
    // mark at its top. The text after the number moves right by what the pictures need beyond
    // the blank, so that neither covers a character.
    const QString number = QString::number(row + 1);
    const int picture_x = x + fm.horizontalAdvance(number);
    const int size = mark_size(h);
    const int shift = locked || favourite ? qMax(0, size + 2 - fm.horizontalAdvance(QLatin1Char(' '))) : 0;
    for (const EntryPiece &p : pieces) {
        painter->setPen(p.red ? QColor(255, 0, 0) : colours.text);
        if (shift > 0 && p.x == 0 && p.text.startsWith(number + QLatin1Char(' '))) {
            painter->drawText(QPoint(x, baseline), number);
            painter->drawText(QPoint(x + fm.horizontalAdvance(number + QLatin1Char(' ')) + shift, baseline),
                              p.text.mid(number.size() + 1));
        } else {
            painter->drawText(QPoint(x + p.x + shift, baseline), p.text);
        }
    }

    if (locked)
        mark_picture(MarkPicture::Lock)
            .paint(painter, QRect(picture_x, r.top() + round_half_even(h * 0.8 / 2), size, size));
    if (favourite)
        mark_picture(MarkPicture::Favourite).paint(painter, QRect(picture_x, r.top(), size, size));
    painter->restore();
}

QSize NoteListDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QSize s = EntryListDelegate::sizeHint(option, index);
    // Every entry is as wide as the list's horizontal scroll range.
    if (pane_.scroll_width() > 0)
        s.setWidth(pane_.scroll_width());
    return s;
}

EntryListState NoteListDelegate::list_state() const
{
    return {pane_.item_height(), pane_.hint_row(), pane_.hint()};
}

} // namespace yunshan
