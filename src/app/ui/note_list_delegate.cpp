#include "app/ui/note_list_delegate.h"

#include "app/ui/tform2.h"
#include "catalogue/note_list.h"
#include "platform/rounding.h"
#include "session/note_list_model.h"

#include <QAbstractItemView>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>

namespace yunshan {

namespace {

class NoteEntryItem : public QListWidgetItem {
  public:
    NoteEntryItem(const TForm2 &form, const QString &text) : QListWidgetItem(text), form_(form) {}

    QVariant data(int role) const override
    {
        if (role != Qt::AccessibleDescriptionRole || !listWidget())
            return QListWidgetItem::data(role);
        const int row = listWidget()->row(this);
        NoteListModel::Entry entry;
        entry.mode = form_.list.is_crypt_list.value(row);
        entry.favourite = form_.list.is_fast_list.value(row) > 0;
        entry.text = text();
        return NoteListModel::description(
            row + 1, entry, entry_marked_text(entry.text, form_.Edit1->text(), form_.list.search_highlight));
    }

  private:
    const TForm2 &form_;
};

// Width of the list-mark pictures of an entry drawn with font height `h`.
int mark_size(int h)
{
    return qMax(8, round_half_even(h * 0.6));
}

} // namespace

QListWidgetItem *new_note_entry(const TForm2 &form, const QString &text)
{
    return new NoteEntryItem(form, text);
}

void NoteListDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const QRect r = option.rect;
    const int row = index.row();
    const NoteListState &list = form_.list;
    const ListRowColours colours = begin_entry(painter, option);
    const QFontMetrics fm(option.font);
    const int h = form_.listfontheight;
    const int x = r.left() + 4;
    const int baseline = r.top() + round_half_even(h * 0.3 / 2) + fm.ascent();
    const QString text = index.data(Qt::DisplayRole).toString();
    const auto pieces = entry_pieces(row, text, form_.Edit1->text(), list.search_highlight,
                                     [&fm](const QString &s) { return fm.horizontalAdvance(s); });
    // The pictures sit after the number: the lock in the lower half of the row, the favourite
    // mark at its top. The text after the number moves right by what the pictures need beyond
    // the blank, so that neither covers a character.
    const QString number = QString::number(row + 1);
    const int picture_x = x + fm.horizontalAdvance(number);
    const int size = mark_size(h);
    const bool marked = list.is_crypt_list.value(row) > 0 || list.is_fast_list.value(row) > 0;
    const int shift = marked ? qMax(0, size + 2 - fm.horizontalAdvance(QLatin1Char(' '))) : 0;
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

    if (list.is_crypt_list.value(row) > 0)
        mark_picture(MarkPicture::Lock)
            .paint(painter, QRect(picture_x, r.top() + round_half_even(h * 0.8 / 2), size, size));
    if (list.is_fast_list.value(row) > 0)
        mark_picture(MarkPicture::Favourite).paint(painter, QRect(picture_x, r.top(), size, size));
    painter->restore();
}

QSize NoteListDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QSize s = EntryListDelegate::sizeHint(option, index);
    // Every entry is as wide as the list's horizontal scroll range.
    if (form_.note_list_scroll_width > 0)
        s.setWidth(form_.note_list_scroll_width);
    return s;
}

QString NoteListDelegate::armed_hint() const
{
    return form_.note_list_hint;
}

} // namespace yunshan
