#include "app/ui/catalogue_pane.h"

#include "app/list_colours.h"
#include "platform/rounding.h"

#include <QEvent>
#include <QGroupBox>
#include <QListWidget>
#include <QPainter>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QVBoxLayout>

#include <functional>
#include <utility>

namespace yunshan {

namespace {

// One category entry: a row of fixed height, the selected one on a light background, the text
// `text_top` below the row's top and 4 pixels in.
class CategoryItemDelegate : public QStyledItemDelegate {
  public:
    CategoryItemDelegate(int height, int text_top, QObject *parent)
        : QStyledItemDelegate(parent), height_(height), text_top_(text_top)
    {
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const QRect r = option.rect;
        const bool selected = option.state.testFlag(QStyle::State_Selected);
        painter->save();
        const ListRowColours colours = list_row_colours(option.palette, selected);
        painter->fillRect(r, colours.background);
        painter->setFont(option.font);
        painter->setPen(colours.text);
        const QFontMetrics fm(option.font);
        painter->drawText(QPoint(r.left() + 4, r.top() + text_top_ + fm.ascent()),
                          index.data(Qt::DisplayRole).toString());
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const QFontMetrics fm(option.font);
        return QSize(fm.horizontalAdvance(index.data(Qt::DisplayRole).toString()) + 8, height_);
    }

  private:
    int height_;
    int text_top_;
};

// Keyboard selection in a list counts as a click, as with the mouse: after the list has handled
// a key, the click runs when the current entry changed.
class KeyClicks : public QObject {
  public:
    KeyClicks(QListWidget *list, std::function<void()> click) : QObject(list), list_(list), click_(std::move(click))
    {
        list->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *e) override
    {
        if (watched == list_ && e->type() == QEvent::KeyPress) {
            const int before = list_->currentRow();
            QTimer::singleShot(0, this, [this, before] {
                if (list_ && list_->currentRow() != before)
                    click_();
            });
        }
        return false;
    }

  private:
    QPointer<QListWidget> list_;
    std::function<void()> click_;
};

QGroupBox *make_group(QWidget *parent, const char *name, const QString &title)
{
    auto *g = new QGroupBox(title, parent);
    g->setObjectName(QString::fromLatin1(name));
    g->setAccessibleName(title);
    return g;
}

QListWidget *make_list(QGroupBox *group, const char *name, const QString &accessible, const QFont &font)
{
    auto *l = new QListWidget(group);
    l->setObjectName(QString::fromLatin1(name));
    l->setAccessibleName(accessible);
    l->setFont(font);
    l->setUniformItemSizes(true);
    l->setSelectionMode(QAbstractItemView::SingleSelection);
    auto *column = new QVBoxLayout(group);
    column->setContentsMargins(2, 2, 2, 2);
    column->setSpacing(2);
    column->addWidget(l);
    return l;
}

int selected_row(const QListWidget *l)
{
    const QListWidgetItem *item = l->currentItem();
    return item && item->isSelected() ? l->currentRow() : -1;
}

std::optional<QString> selected_text(const QListWidget *l)
{
    const int row = selected_row(l);
    if (row < 0)
        return std::nullopt;
    return l->item(row)->text();
}

QStringList entries(const QListWidget *l)
{
    QStringList out;
    out.reserve(l->count());
    for (int i = 0; i < l->count(); ++i)
        out << l->item(i)->text();
    return out;
}

void refill(QListWidget *l, const QStringList &captions)
{
    l->setUpdatesEnabled(false);
    l->clear();
    l->addItems(captions);
    l->setUpdatesEnabled(true);
}

void mark_row(QListWidget *l, int row)
{
    if (row < 0) {
        l->setCurrentRow(-1);
        l->clearSelection();
    } else {
        l->setCurrentRow(row);
    }
}

void remove_row(QListWidget *l, int row)
{
    delete l->takeItem(row);
    mark_row(l, -1);
}

void set_caption(QListWidget *l, int row, const QString &caption)
{
    if (QListWidgetItem *item = l->item(row))
        item->setText(caption);
}

} // namespace

CataloguePane::CataloguePane(QWidget *host, const QFont &list_font) : QObject(host)
{
    setObjectName(QStringLiteral("CataloguePane"));
    GroupBox1 = make_group(host, "GroupBox1", QStringLiteral("大类"));
    ListBox1 = make_list(GroupBox1, "ListBox1", QStringLiteral("大类列表"), list_font);
    GroupBox2 = make_group(host, "GroupBox2", QStringLiteral("小类"));
    ListBox2 = make_list(GroupBox2, "ListBox2", QStringLiteral("小类列表"), list_font);

    connect(ListBox1, &QListWidget::itemClicked, this, [this] { Q_EMIT majorClicked(major_row()); });
    connect(ListBox2, &QListWidget::itemClicked, this, [this] { Q_EMIT minorClicked(minor_row()); });
    new KeyClicks(ListBox1, [this] { Q_EMIT majorClicked(major_row()); });
    new KeyClicks(ListBox2, [this] { Q_EMIT minorClicked(minor_row()); });
}

CataloguePane::~CataloguePane() = default;

void CataloguePane::set_item_heights(int font_height)
{
    item_height_ = round_half_even(font_height * 1.5);
    const int text_top = round_half_even(font_height * 0.5 / 2);
    for (QListWidget *l : {ListBox1, ListBox2}) {
        QAbstractItemDelegate *before = l->itemDelegate();
        l->setUniformItemSizes(true);
        l->setItemDelegate(new CategoryItemDelegate(item_height_, text_top, l));
        if (dynamic_cast<CategoryItemDelegate *>(before))
            before->deleteLater();
    }
}

void CataloguePane::fill_major(const QStringList &captions)
{
    refill(ListBox1, captions);
}
void CataloguePane::fill_minor(const QStringList &captions)
{
    refill(ListBox2, captions);
}

void CataloguePane::add_major(const QString &caption)
{
    ListBox1->addItem(caption);
}
void CataloguePane::add_minor(const QString &caption)
{
    ListBox2->addItem(caption);
}

void CataloguePane::remove_major(int row)
{
    remove_row(ListBox1, row);
}
void CataloguePane::remove_minor(int row)
{
    remove_row(ListBox2, row);
}

void CataloguePane::set_major_caption(int row, const QString &caption)
{
    set_caption(ListBox1, row, caption);
}
void CataloguePane::set_minor_caption(int row, const QString &caption)
{
    set_caption(ListBox2, row, caption);
}

void CataloguePane::clear()
{
    ListBox1->clear();
    ListBox2->clear();
}
void CataloguePane::clear_minor()
{
    ListBox2->clear();
}

int CataloguePane::major_row() const
{
    return selected_row(ListBox1);
}
int CataloguePane::minor_row() const
{
    return selected_row(ListBox2);
}

std::optional<QString> CataloguePane::major_caption() const
{
    return selected_text(ListBox1);
}
std::optional<QString> CataloguePane::minor_caption() const
{
    return selected_text(ListBox2);
}

QStringList CataloguePane::major_captions() const
{
    return entries(ListBox1);
}
QStringList CataloguePane::minor_captions() const
{
    return entries(ListBox2);
}

int CataloguePane::major_count() const
{
    return ListBox1->count();
}
int CataloguePane::minor_count() const
{
    return ListBox2->count();
}

void CataloguePane::select_major(int row)
{
    mark_row(ListBox1, row);
}
void CataloguePane::select_minor(int row)
{
    mark_row(ListBox2, row);
}

} // namespace yunshan
