// The major- and minor-category lists as the window answers them (the lists themselves are
// CataloguePane's): their fill from the store, the two clicks, and the commands on categories
// (create, delete, pin, unpin, move up, move down, rename).
#include "app/ui/catalogue_pane.h"
#include "app/ui/command_helpers.h"
#include "app/ui/tform2.h"
#include "catalogue/category_commands.h"
#include "platform/dialogs.h"
#include "session/note_list_model.h"
#include "store/category_rows.h"

#include <QLineEdit>
#include <QListWidget>

#include <exception>

namespace yunshan {

namespace {

// Empties the note list; the page offset and the list kind stay.
void clear_note_entries(TForm2 &f)
{
    f.note_list_model()->clear();
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
    catalogue_pane_->set_item_heights(listfontheight);
    connect(catalogue_pane_, &CataloguePane::majorClicked, this, &TForm2::open_major_category, Qt::UniqueConnection);
    connect(catalogue_pane_, &CataloguePane::minorClicked, this, &TForm2::open_minor_category, Qt::UniqueConnection);
}

void TForm2::load_class()
{
    if (!store.main_connected())
        return;
    catalogue_pane_->fill_major(class_captions(store));
}

void TForm2::reload_catalogue(bool open_first_section)
{
    selection = CatalogueSelection();
    list = NoteListState();
    catalogue_pane_->clear();
    note_list_model_->clear();
    update_note_list_match();
    load_class();
    if (catalogue_pane_->major_count() == 0)
        return;
    catalogue_pane_->select_major(0);
    open_major_category();
    if (open_first_section && catalogue_pane_->minor_count() > 0) {
        catalogue_pane_->select_minor(0);
        open_minor_category();
    }
}

void TForm2::open_major_category()
{
    selection.select = kTargetMajor;
    const int index = catalogue_pane_->major_row();
    if (index == selection.class_index || index < 0)
        return;
    const QString caption = catalogue_pane_->major_caption().value_or(QString());
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
    catalogue_pane_->fill_minor(captions);
    clear_note_entries(*this);
    selection.class_index = index;
    if (!save_enabled())
        clear_note_view();
}

void TForm2::open_minor_category()
{
    selection.select = kTargetMinor;
    const int index = catalogue_pane_->minor_row();
    if (index == selection.section_index && note_list_model_->count() > 0)
        return;
    if (index < 0)
        return;
    const QString caption = catalogue_pane_->minor_caption().value_or(QString());
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

void TForm2::new_major_category()
{
    if (read_only())
        return;
    if (!store.main_connected()) {
        dialogs_.message(no_database_text());
        Q_EMIT settingsRequested();
        return;
    }
    guarded(dialogs_, [this] {
        new_class(store, dialogs_, catalogue_pane_->major_captions(),
                  [this](const QString &entry) { catalogue_pane_->add_major(entry); });
    });
}

void TForm2::delete_major_category()
{
    if (read_only())
        return;
    const int row = catalogue_pane_->major_row();
    bool deleted = false;
    guarded(dialogs_,
            [&] { deleted = delete_category(store, dialogs_, kTargetMajor, catalogue_pane_->major_caption()); });
    if (!deleted)
        return;
    catalogue_pane_->remove_major(row);
    if (row == selection.class_index) {
        // The minor categories and notes on screen belonged to the deleted category.
        selection.class_index = -1;
        selection.section_index = -1;
        catalogue_pane_->clear_minor();
        clear_note_entries(*this);
        if (!save_enabled())
            clear_note_view();
    } else if (row < selection.class_index) {
        --selection.class_index;
    }
}

void TForm2::new_minor_category()
{
    if (read_only())
        return;
    NewSectionOutcome outcome = NewSectionOutcome::Stopped;
    guarded(dialogs_, [&] {
        outcome = new_section(store, dialogs_, catalogue_pane_->major_count(), catalogue_pane_->major_caption(),
                              catalogue_pane_->minor_count(),
                              [this](const QString &entry) { catalogue_pane_->add_minor(entry); });
    });
    if (outcome == NewSectionOutcome::CreateMajorFirst)
        new_major_category();
}

void TForm2::delete_minor_category()
{
    if (read_only())
        return;
    const int row = catalogue_pane_->minor_row();
    bool deleted = false;
    guarded(dialogs_,
            [&] { deleted = delete_category(store, dialogs_, kTargetMinor, catalogue_pane_->minor_caption()); });
    if (!deleted)
        return;
    catalogue_pane_->remove_minor(row);
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
    const CataloguePane &pane = *f.catalogue_pane();
    if (target == kTargetNote) {
        entries_count = f.note_list_model()->count();
        if (f.note.noteId < 0) {
            f.dialogs().error(no_entry_text(target));
            return false;
        }
        const int row = f.find_open_note_index();
        caption = row >= 0 ? f.note_list_model()->entry(row).text : QString();
        return true;
    }
    entries_count = target == kTargetMajor ? pane.major_count() : pane.minor_count();
    const auto text = target == kTargetMajor ? pane.major_caption() : pane.minor_caption();
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

void TForm2::pin_to_top()
{
    order_command(*this, OrderCommand::Pin);
}
void TForm2::move_up()
{
    order_command(*this, OrderCommand::MoveUp);
}
void TForm2::move_down()
{
    order_command(*this, OrderCommand::MoveDown);
}
void TForm2::unpin()
{
    order_command(*this, OrderCommand::Unpin);
}

void TForm2::apply_order_change(const QString &caption, const std::function<void()> &write, int target)
{
    try {
        write();
        if (target == kTargetMajor) {
            load_class();
            selection.class_index = index_ignoring_case(catalogue_pane_->major_captions(), caption);
            catalogue_pane_->select_major(selection.class_index);
        } else if (target == kTargetMinor) {
            selection.class_index = -1;
            open_major_category();
            selection.section_index = int(catalogue_pane_->minor_captions().indexOf(caption));
            catalogue_pane_->select_minor(selection.section_index);
        } else if (target == kTargetNote) {
            // The page is listed again with the open note kept open: the fill leaves the
            // editor alone while the save command is enabled.
            const bool was_enabled = save_enabled();
            set_save_enabled(true);
            selection.section_index = -1;
            open_minor_category();
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

void TForm2::rename_selected()
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
    guarded(dialogs_, [&] { name = rename_category_or_note(store, dialogs_, catalogue_pane_->major_captions(), t); });
    if (!name)
        return;
    if (target == kTargetNote) {
        // The title field follows without marking the note changed, unless it already is.
        if (!save_enabled()) {
            note.title_mark = ChangeMark::Suspended;
            title_field_->setText(*name);
            note.title_mark = ChangeMark::Unchanged;
        } else {
            title_field_->setText(*name);
        }
    }
    if (target == kTargetMajor) {
        const int row = catalogue_pane_->major_row();
        if (row >= 0)
            catalogue_pane_->set_major_caption(row, *name);
    } else if (target == kTargetMinor) {
        const int row = catalogue_pane_->minor_row();
        if (row >= 0)
            catalogue_pane_->set_minor_caption(row, *name);
    } else if (const int row = find_open_note_index(); row >= 0) {
        note_list_model_->set_text(row, *name);
    }
}

} // namespace yunshan
