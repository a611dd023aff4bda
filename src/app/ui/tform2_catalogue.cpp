// The major- and minor-category lists: their fill, the two clicks, their drawing, and the
// commands on categories (create, delete, pin, unpin, move up, move down, rename).
#include "app/list_colours.h"
#include "app/ui/command_helpers.h"
#include "app/ui/tform2.h"
#include "catalogue/category_commands.h"
#include "platform/dialogs.h"
#include "platform/rounding.h"
#include "store/category_rows.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTimer>

#include <exception>

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

// Index of the selected entry, -1 when none is selected.
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

// Refills a list within one update.
void refill(QListWidget *l, const QStringList &captions)
{
    l->setUpdatesEnabled(false);
    l->clear();
    l->addItems(captions);
    l->setUpdatesEnabled(true);
}

// Marks an entry as selected without running its click (-1: none).
void mark_row(QListWidget *l, int row)
{
    if (row < 0) {
        l->setCurrentRow(-1);
        l->clearSelection();
    } else {
        l->setCurrentRow(row);
    }
}

// Empties the note list; the page offset and the list kind stay.
void clear_note_entries(TForm2 &f)
{
    f.ListBox3->clear();
    f.list.noteIdList.clear();
    f.list.is_crypt_list.clear();
    f.list.is_fast_list.clear();
    f.selection.note_index = -1;
}

QString no_entry_text(int target)
{
    switch (target) {
    case kTargetMajor:
        return QStringLiteral("请先选择一个大类。");
    case kTargetMinor:
        return QStringLiteral("请先选择一个小类。");
    default:
        return QStringLiteral("请先打开一篇笔记。");
    }
}

} // namespace

void TForm2::setup_category_lists()
{
    const int text_top = round_half_even(listfontheight * 0.5 / 2);
    for (QListWidget *l : {ListBox1, ListBox2}) {
        l->setUniformItemSizes(true);
        l->setItemDelegate(new CategoryItemDelegate(class_item_height, text_top, l));
    }
    connect(ListBox1, &QListWidget::itemClicked, this, &TForm2::ListBox1Click, Qt::UniqueConnection);
    connect(ListBox2, &QListWidget::itemClicked, this, &TForm2::ListBox2Click, Qt::UniqueConnection);
    if (!ListBox1->property("keyClicks").toBool()) {
        ListBox1->setProperty("keyClicks", true);
        new KeyClicks(ListBox1, [this] { ListBox1Click(); });
        new KeyClicks(ListBox2, [this] { ListBox2Click(); });
    }
}

void TForm2::load_class()
{
    if (!store.main_connected())
        return;
    refill(ListBox1, class_captions(store));
}

void TForm2::reload_catalogue(bool open_first_section)
{
    selection = CatalogueSelection();
    list = NoteListState();
    ListBox1->clear();
    ListBox2->clear();
    ListBox3->clear();
    load_class();
    if (ListBox1->count() == 0)
        return;
    ListBox1->setCurrentRow(0);
    ListBox1Click();
    if (open_first_section && ListBox2->count() > 0) {
        ListBox2->setCurrentRow(0);
        ListBox2Click();
    }
}

void TForm2::ListBox1Click()
{
    selection.select = kTargetMajor;
    const int index = selected_row(ListBox1);
    if (index == selection.class_index || index < 0)
        return;
    const QString caption = ListBox1->item(index)->text();
    if (caption.isEmpty())
        return;
    selection.section_index = -1;
    if (!store.main_connected())
        return;
    QStringList captions;
    try {
        captions = section_captions(store, caption);
    } catch (const std::exception &e) {
        dialogs_.error(QString::fromUtf8(e.what()));
        return;
    }
    refill(ListBox2, captions);
    clear_note_entries(*this);
    selection.class_index = index;
    if (!save_enabled())
        clear_note_view();
}

void TForm2::ListBox2Click()
{
    selection.select = kTargetMinor;
    const int index = selected_row(ListBox2);
    if (index == selection.section_index && ListBox3->count() > 0)
        return;
    if (index < 0)
        return;
    const QString caption = ListBox2->item(index)->text();
    if (caption.isEmpty())
        return;
    try {
        fill_section_notes(caption);
    } catch (const std::exception &e) {
        dialogs_.error(QString::fromUtf8(e.what()));
        return;
    }
    if (store.main_connected())
        selection.section_index = index;
}

// ---- New and delete ----

void TForm2::ToolButton1Click()
{
    if (read_only())
        return;
    if (!store.main_connected()) {
        dialogs_.message(no_database_text());
        Q_EMIT settingsRequested();
        return;
    }
    guarded(dialogs_, [this] {
        new_class(store, dialogs_, entries(ListBox1), [this](const QString &entry) { ListBox1->addItem(entry); });
    });
}

void TForm2::ToolButton2Click()
{
    if (read_only())
        return;
    const int row = selected_row(ListBox1);
    bool deleted = false;
    guarded(dialogs_, [&] { deleted = delete_category(store, dialogs_, kTargetMajor, selected_text(ListBox1)); });
    if (!deleted)
        return;
    delete ListBox1->takeItem(row);
    mark_row(ListBox1, -1);
    if (row == selection.class_index) {
        // The minor categories and notes on screen belonged to the deleted category.
        selection.class_index = -1;
        selection.section_index = -1;
        ListBox2->clear();
        clear_note_entries(*this);
        if (!save_enabled())
            clear_note_view();
    } else if (row < selection.class_index) {
        --selection.class_index;
    }
}

void TForm2::ToolButton3Click()
{
    if (read_only())
        return;
    NewSectionOutcome outcome = NewSectionOutcome::Stopped;
    guarded(dialogs_, [&] {
        outcome = new_section(store, dialogs_, ListBox1->count(), selected_text(ListBox1), ListBox2->count(),
                              [this](const QString &entry) { ListBox2->addItem(entry); });
    });
    if (outcome == NewSectionOutcome::CreateMajorFirst)
        ToolButton1Click();
}

void TForm2::ToolButton4Click()
{
    if (read_only())
        return;
    const int row = selected_row(ListBox2);
    bool deleted = false;
    guarded(dialogs_, [&] { deleted = delete_category(store, dialogs_, kTargetMinor, selected_text(ListBox2)); });
    if (!deleted)
        return;
    delete ListBox2->takeItem(row);
    mark_row(ListBox2, -1);
    if (row == selection.section_index) {
        selection.section_index = -1;
        clear_note_entries(*this);
        if (!save_enabled())
            clear_note_view();
    } else if (row < selection.section_index) {
        --selection.section_index;
    }
}

// ---- Ordering ----

namespace {

// The target's caption and the entry count of its list; false (after an error box) when the
// target has nothing selected.
bool order_target(TForm2 &f, int target, QString &caption, int &entries_count)
{
    QListWidget *l = target == kTargetMajor ? f.ListBox1 : target == kTargetMinor ? f.ListBox2 : f.ListBox3;
    entries_count = l->count();
    if (target == kTargetNote) {
        if (f.note.noteId < 0) {
            f.dialogs().error(no_entry_text(target));
            return false;
        }
        const int row = f.find_open_note_index();
        caption = row >= 0 ? l->item(row)->text() : QString();
        return true;
    }
    const auto text = selected_text(l);
    if (!text) {
        f.dialogs().error(no_entry_text(target));
        return false;
    }
    caption = *text;
    return true;
}

void order_command(TForm2 &f, OrderCommand command)
{
    if (f.read_only())
        return;
    const int target = f.selection.select;
    if (target != kTargetMajor && target != kTargetMinor && target != kTargetNote)
        return;
    QString caption;
    int count = 0;
    if (!order_target(f, target, caption, count))
        return;
    f.apply_order_change(
        caption, [&] { apply_order(f.store, command, target, caption, f.note.noteId, count); }, target);
}

} // namespace

void TForm2::ToolButton12Click()
{
    order_command(*this, OrderCommand::Pin);
}
void TForm2::ToolButton13Click()
{
    order_command(*this, OrderCommand::MoveUp);
}
void TForm2::ToolButton14Click()
{
    order_command(*this, OrderCommand::MoveDown);
}
void TForm2::ToolButton16Click()
{
    order_command(*this, OrderCommand::Unpin);
}

void TForm2::apply_order_change(const QString &caption, const std::function<void()> &write, int target)
{
    try {
        write();
        if (target == kTargetMajor) {
            load_class();
            selection.class_index = index_ignoring_case(entries(ListBox1), caption);
            mark_row(ListBox1, selection.class_index);
        } else if (target == kTargetMinor) {
            selection.class_index = -1;
            ListBox1Click();
            selection.section_index = int(entries(ListBox2).indexOf(caption));
            mark_row(ListBox2, selection.section_index);
        } else if (target == kTargetNote) {
            // The page is listed again with the open note kept open: the fill leaves the
            // editor alone while the save command is enabled.
            const bool was_enabled = save_enabled();
            set_save_enabled(true);
            selection.section_index = -1;
            ListBox2Click();
            set_save_enabled(was_enabled);
            selection.note_index = find_open_note_index();
            select_note_entry(selection.note_index); // marks the entry without opening it again
        }
    } catch (const std::exception &e) {
        dialogs_.error(QString::fromUtf8(e.what()));
    }
    selection.select = target;
}

// ---- Rename ----

void TForm2::ToolButton17Click()
{
    if (read_only())
        return;
    const int target = selection.select;
    if (target != kTargetMajor && target != kTargetMinor && target != kTargetNote)
        return;
    QString caption;
    int count = 0;
    if (!order_target(*this, target, caption, count))
        return;
    RenameTarget t;
    t.target = target;
    t.caption = caption;
    t.note_id = note.noteId;
    t.crypt_mode = crypt.is_crypt;
    t.password = crypt.key_crypt;
    t.crypt_change_pending = crypt.change_pending(note.noteId);
    t.legacy_form = crypt.legacy_form;
    std::optional<QString> name;
    guarded(dialogs_, [&] { name = rename_category_or_note(store, dialogs_, entries(ListBox1), t); });
    if (!name)
        return;
    if (target == kTargetNote) {
        // The title field follows without marking the note changed, unless it already is.
        if (!save_enabled()) {
            note.title_mark = ChangeMark::Suspended;
            Edit2->setText(*name);
            note.title_mark = ChangeMark::Unchanged;
        } else {
            Edit2->setText(*name);
        }
    }
    QListWidget *l = target == kTargetMajor ? ListBox1 : target == kTargetMinor ? ListBox2 : ListBox3;
    const int row = target == kTargetNote ? find_open_note_index() : selected_row(l);
    if (row >= 0)
        l->item(row)->setText(*name);
}

} // namespace yunshan
