// The main window's start-up and shut-down: window creation, the start-up worker's procedures,
// the close request and the final clean-up.
#include "app/start_page.h"
#include "app/startup.h"
#include "app/tmythread.h"
#include "app/ui/catalogue_pane.h"
#include "app/ui/editor_pane.h"
#include "app/ui/note_list_pane.h"
#include "app/ui/tform2.h"
#include "app/ui/update_notice.h"
#include "editor/rtf/rtf.h"
#include "platform/dialogs.h"
#include "platform/paths.h"
#include "platform/private_files.h"
#include "platform/rounding.h"
#include "platform/settings_store.h"
#include "store/note_search_index.h"
#include "store/schema.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QLineEdit>
#include <QListWidget>
#include <QTextCursor>
#include <QTextEdit>

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <utility>

namespace yunshan {

void TForm2::FormCreate(SettingsStore &settings)
{
    // 1. Item heights from the height of "测试" in the list font.
    listfontheight = QFontMetrics(catalogue_pane_->major_list()->font()).boundingRect(QStringLiteral("测试")).height();
    note_item_height = round_half_even(listfontheight * 1.3);
    setup_category_lists();
    note_list_pane_->set_metrics(listfontheight, note_item_height);
    editor_pane_->set_list_metrics(listfontheight, note_item_height);
    settings_store = &settings;
    // 2. The editor takes text as it comes (no automatic keyboard or font switching).
    editor()->setAcceptRichText(true);
    // 3. g4width was recorded when the panes were laid out.

    // Every later step runs on the main thread in order; an error skips the rest.
    try {
        // 4. Settings of this computer and the editor font.
        QString font_error;
        if (const auto font = read_start_settings(settings, run, font_error)) {
            QFont f = editor()->font();
            f.setFamily(font->name);
            if (font->size > 0)
                f.setPointSize(font->size);
            else if (font->size < 0)
                f.setPixelSize(-font->size);
            editor()->setFont(f);
        }
        if (!font_error.isEmpty())
            dialogs_.error(font_error); // the font stays as it is; start-up goes on

        // 5. The databases.
        store.Connect_to_db(run.zhu_db, run.bei_db, dialogs_, [this] { database_owned_elsewhere(); });
        // A read-only file beside the program makes the store read-only without that call.
        if (store.read_only() && !read_only())
            database_owned_elsewhere();
        show_connection_status();
        prepare_search_index();

        // 6., 7.
        load_class();
        selection = CatalogueSelection();
        note.img_id = -1;
        note.noteId = -1;
        note.noteId_bei = -1;

        // 8. With the main database: upgrade, then the first major and minor category.
        if (store.main_connected()) {
            upgrade_schema(store);
            if (!login_at_start())
                return;
            if (catalogue_pane_->major_count() > 0) {
                catalogue_pane_->select_major(0);
                open_major_category();
                if (catalogue_pane_->minor_count() > 0) {
                    catalogue_pane_->select_minor(0);
                    open_minor_category();
                }
            }
        }
    } catch (const std::exception &e) {
        dialogs_.error(QString::fromUtf8(e.what()));
        show_connection_status();
    }
    // 10. The folder of autosave files: the user's private state folder.
    run.tmp_save = autosave_folder();
    // An unsaved body of the last run is back before the window takes any input.
    recover_pending_autosave();

    connect(this, &TForm2::updateCheckRequested, this, [this] { start_worker(); });
}

void TForm2::show_connection_status()
{
    const QString problem = store.problem();
    set_panel(0, problem.isEmpty() ? connection_status_text(store.status())
                                   : connection_status_text(store.status()) + QStringLiteral("：") + problem);
}

void TForm2::database_owned_elsewhere()
{
    enter_read_only_mode();
    // Another instance holds the files, or the file itself cannot be written: the store says which.
    dialogs_.message(read_only_text());
}

std::function<void()> TForm2::unless_closing(std::function<void()> fn)
{
    return [this, fn = std::move(fn)] {
        if (closing_)
            throw std::runtime_error("the window is closing"); // the worker ends quietly
        fn();
    };
}

void TForm2::start_worker(int start_page_delay_ms)
{
    TMyThread::Hooks hooks;
    hooks.start_page = unless_closing([this] { show_start_page(); });
    auto [check, answer] = updates_->steps(updates_->run);
    hooks.update_check = std::move(check);
    hooks.update_answer = unless_closing(std::move(answer));
    hooks.deferred_step = unless_closing([this] { deferred_settings(); });
    hooks.manual_check_done = [this] { updates_->run = UpdateCheckRun::StartUp; };
    workers_.removeAll(QPointer<TMyThread>());
    auto *worker = new TMyThread(this, updates_->run, std::move(hooks), start_page_delay_ms);
    workers_.append(worker);
    worker->start();
}

bool TForm2::worker_running() const
{
    return std::any_of(workers_.begin(), workers_.end(), [](const QPointer<TMyThread> &w) { return !w.isNull(); });
}

void TForm2::show_start_page()
{
    // The user was quicker (or a recovered note is shown): what the editor holds stays.
    if (note.noteId >= 0 || save_enabled())
        return;
    note.title_mark = ChangeMark::Suspended;
    fill_start_page(*editor()->document());
    note.is_rtf = BodyKind::Rtf;
    set_panel(4, QStringLiteral("RTF"));
    QTextCursor c = editor()->textCursor();
    c.setPosition(0);
    editor()->setTextCursor(c);
    note.title_mark = ChangeMark::Unchanged;
}

void TForm2::recover_pending_autosave()
{
    if (!store.main_connected() || read_only())
        return; // the instance that writes may still be working on it
    try {
        const PendingAutosave pending = pending_autosave(store, run);
        if (pending.note_id >= 0)
            note_recovered_at_start_ = recover_autosave(pending.note_id, pending.file);
    } catch (const std::exception &e) {
        dialogs_.error(QString::fromUtf8(e.what()));
    }
}

void TForm2::deferred_settings()
{
    const DeferredStepResult r = deferred_settings_step(store, run);
    if (r.show_settings) {
        Q_EMIT settingsRequested();
        return;
    }
    if (r.start_download)
        startup_sync(note_recovered_at_start_);
}

bool TForm2::FormCloseQuery()
{
    closing_ = true;
    bool allowed = true;
    try {
        CloseActions actions;
        actions.save_note = [this] {
            save_open_note();
            return !save_enabled();
        };
        actions.exit_step = [this] { exit_step(); };
        allowed = close_request(store, run, note, save_enabled(), dialogs_, actions);
    } catch (const std::exception &e) {
        // An error in the exit steps (the note is saved or dropped by now) must not keep the
        // user from quitting.
        dialogs_.error(QString::fromUtf8(e.what()));
    }
    closing_ = allowed;
    if (allowed) {
        for (const QPointer<TMyThread> &w : std::as_const(workers_))
            if (w)
                w->abort();
    }
    return allowed;
}

void TForm2::closeEvent(QCloseEvent *e)
{
    if (transfers_->running()) {
        e->ignore(); // a backup or transfer is under way; its own events brought this close
        return;
    }
    if (FormCloseQuery())
        e->accept();
    else
        e->ignore();
}

void TForm2::FormDestroy()
{
    if (destroyed_)
        return;
    destroyed_ = true;
    closing_ = true;
    for (const QPointer<TMyThread> &w : std::as_const(workers_))
        if (w)
            w->abort();
    for (const QPointer<TMyThread> &w : std::as_const(workers_)) {
        if (w) {
            w->wait();
            delete w.data(); // ended: its pending deletion goes with it
        }
    }
    workers_.clear();
    // The search index stops its build and brings its file up to this run's writes; it goes
    // before the store it follows.
    if (search_index_)
        search_index_->finish();
    delete std::exchange(search_index_, nullptr);
    clear_note_view();
    store.close_all();
}

} // namespace yunshan
