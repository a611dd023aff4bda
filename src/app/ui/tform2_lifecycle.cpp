// The main window's start-up and shut-down: window creation, the start-up worker's procedures,
// the close request and the final clean-up.
#include "app/start_page.h"
#include "app/startup.h"
#include "app/tmythread.h"
#include "app/ui/tform2.h"
#include "catalogue/category_lists.h"
#include "editor/rtf/rtf.h"
#include "platform/dialogs.h"
#include "platform/paths.h"
#include "platform/settings_store.h"
#include "store/schema.h"

#include <QCloseEvent>
#include <QFile>
#include <QFontMetrics>
#include <QLineEdit>
#include <QListWidget>
#include <QStyledItemDelegate>
#include <QTextCursor>
#include <QTextEdit>

#include <exception>

namespace yunshan {

namespace {

// Gives every entry of a list the same height.
class FixedHeightDelegate : public QStyledItemDelegate {
public:
    FixedHeightDelegate(int height, QObject *parent) : QStyledItemDelegate(parent), height_(height) {}
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QSize s = QStyledItemDelegate::sizeHint(option, index);
        s.setHeight(height_);
        return s;
    }

private:
    int height_;
};

void set_item_height(QListWidget *list, int height)
{
    list->setUniformItemSizes(true);
    list->setItemDelegate(new FixedHeightDelegate(height, list));
}

} // namespace

void TForm2::FormCreate(SettingsStore &settings)
{
    // 1. Item heights from the height of "测试" in the list font.
    listfontheight = QFontMetrics(ListBox1->font()).boundingRect(QStringLiteral("测试")).height();
    class_item_height = round_half_even(listfontheight * 1.5);
    note_item_height = round_half_even(listfontheight * 1.3);
    set_item_height(ListBox1, class_item_height);
    set_item_height(ListBox2, class_item_height);
    set_item_height(ListBox4, note_item_height);
    // 2. The editor takes text as it comes (no automatic keyboard or font switching).
    RichEdit1->setAcceptRichText(true);
    // 3. g4width was recorded when the panes were laid out.

    // Every later step runs on the main thread in order; an error skips the rest.
    try {
        // 4. Settings of this computer and the editor font.
        QString font_error;
        if (const auto font = read_start_settings(settings, run, font_error)) {
            QFont f = RichEdit1->font();
            f.setFamily(font->name);
            f.setPointSize(font->size);
            RichEdit1->setFont(f);
        }
        if (!font_error.isEmpty())
            dialogs_.error(font_error); // the font stays as it is; start-up goes on

        // 5. The databases.
        const int status = store.Connect_to_db(run.zhu_db, run.bei_db, dialogs_, [this] {
            enter_read_only_mode();
            dialogs_.message(QStringLiteral("已经有其他程序打开了数据库，现在以只读开启，只能查看不能保存。"));
        });
        set_panel(0, connection_status_text(status));

        // 6., 7.
        load_class();
        selection = CatalogueSelection();
        note.img_id = -1;
        note.noteId = -1;
        note.noteId_bei = -1;

        // 8. With the main database: upgrade, then the first major and minor category.
        if (store.main_connected()) {
            upgrade_schema(store);
            if (ListBox1->count() > 0) {
                ListBox1->setCurrentRow(0);
                ListBox1Click();
                if (ListBox2->count() > 0)
                    ListBox2->setCurrentRow(0);
            }
        }
    } catch (const std::exception &e) {
        dialogs_.error(QString::fromUtf8(e.what()));
    }
    // 10. The temporary folder for autosave files.
    run.tmp_save = temp_folder();

    connect(this, &TForm2::updateCheckRequested, this, [this] { start_worker(); });
}

void TForm2::start_worker(int start_page_delay_ms)
{
    TMyThread::Hooks hooks;
    hooks.start_page = [this] { show_start_page(); };
    hooks.update_check = update_check;
    hooks.deferred_step = [this] { deferred_settings(); };
    auto *worker = new TMyThread(this, n94_tag, std::move(hooks), start_page_delay_ms);
    worker_ = worker;
    worker->start();
}

void TForm2::show_start_page()
{
    note.title_mark = -1;
    fill_start_page(*RichEdit1->document());
    note.is_rtf = 1;
    set_panel(4, QStringLiteral("RTF"));
    QTextCursor c = RichEdit1->textCursor();
    c.setPosition(0);
    RichEdit1->setTextCursor(c);
    note.title_mark = 0;
}

void TForm2::deferred_settings()
{
    const DeferredStepResult r = deferred_settings_step(store, run);
    if (r.show_settings) {
        Q_EMIT settingsRequested();
        return;
    }
    if (r.recover_note_id >= 0) {
        QFile file(r.recover_file);
        if (file.open(QIODevice::ReadOnly)) {
            read_rtf(file.readAll(), *RichEdit1->document());
            note.noteId = r.recover_note_id;
            note.noteId_bei = r.recover_note_id;
        }
    }
    // The start-up download (r.start_download) comes with the WebDAV sync.
}

bool TForm2::FormCloseQuery()
{
    try {
        CloseActions actions;
        actions.save_note = [this] { SpeedButton2Click(); };
        actions.exit_step = [this] { exit_step(); };
        return close_request(store, run, note, save_enabled(), dialogs_, actions);
    } catch (const std::exception &e) {
        // An error in the exit steps must not keep the user from quitting.
        dialogs_.error(QString::fromUtf8(e.what()));
        return true;
    }
}

void TForm2::closeEvent(QCloseEvent *e)
{
    if (FormCloseQuery())
        e->accept();
    else
        e->ignore();
}

void TForm2::exit_step()
{
    // Backups at exit come with the local backup command.
}

void TForm2::FormDestroy()
{
    if (destroyed_)
        return;
    destroyed_ = true;
    if (worker_) {
        worker_->abort();
        worker_->wait();
    }
    clear_note_view();
    store.close_all();
}

void TForm2::load_class()
{
    if (!store.main_connected())
        return;
    const QStringList captions = class_captions(store);
    ListBox1->setUpdatesEnabled(false);
    ListBox1->clear();
    ListBox1->addItems(captions);
    ListBox1->setUpdatesEnabled(true);
}

void TForm2::ListBox1Click()
{
    const int index = ListBox1->currentRow();
    if (index == selection.class_index)
        return;
    const QListWidgetItem *item = ListBox1->currentItem();
    if (!item || item->text().isEmpty())
        return;
    selection.section_index = -1;
    if (!store.main_connected())
        return;
    const QStringList captions = section_captions(store, item->text());
    ListBox2->setUpdatesEnabled(false);
    ListBox2->clear();
    ListBox2->addItems(captions);
    ListBox2->setUpdatesEnabled(true);
    ListBox3->clear();
    list = NoteListState();
    selection.class_index = index;
    if (!save_enabled())
        clear_note_view();
}

} // namespace yunshan
