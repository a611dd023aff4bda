// The open note's editing: save, save as, new note, delete note, change tracking, the entering
// preparation, the autosave timer and the recovery of an autosaved body.
#include "app/ui/catalogue_pane.h"
#include "app/ui/editor_pane.h"
#include "app/ui/note_list_pane.h"
#include "app/ui/picture_pane.h"
#include "app/ui/tform2.h"
#include "crypto/note_crypt.h"
#include "editor/note_loader.h"
#include "editor/note_save.h"
#include "editor/rtf/rtf.h"
#include "notes/autosave.h"
#include "notes/note_lifetime.h"
#include "platform/dialogs.h"
#include "platform/paths.h"
#include "platform/private_files.h"
#include "session/note_list_model.h"
#include "store/note_rows.h"
#include "store/set_table.h"

#include <QDate>
#include <QFile>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTextEdit>
#include <QTimer>

#include <exception>

namespace yunshan {

namespace {

// Enter in the title field, and the focus entering the title field or the editor.
class EditorEvents : public QObject {
  public:
    explicit EditorEvents(TForm2 &form) : QObject(&form), form_(form) {}

  protected:
    bool eventFilter(QObject *watched, QEvent *e) override
    {
        if (e->type() == QEvent::FocusIn &&
            (watched == form_.title_field() || watched == form_.editor_pane()->editor())) {
            // Only the user entering the field counts: not the window getting active again
            // (after a message box, say), nor the program moving the focus itself.
            const Qt::FocusReason reason = static_cast<QFocusEvent *>(e)->reason();
            if (reason == Qt::MouseFocusReason || reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
                reason == Qt::ShortcutFocusReason)
                form_.title_focused();
        } else if (watched == form_.title_field() && e->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent *>(e)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                form_.title_entered();
                return true; // consumed
            }
        }
        return QObject::eventFilter(watched, e);
    }

  private:
    TForm2 &form_;
};

} // namespace

void TForm2::setup_editor_tracking()
{
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);
    autosave.cycle_seconds = autosave_cycle_seconds();
    connect(Timer1, &QTimer::timeout, this, &TForm2::autosave_timer_tick);
    connect(title_field_, &QLineEdit::textChanged, this, &TForm2::fields_changed);
    connect(tag_field_, &QLineEdit::textChanged, this, &TForm2::fields_changed);
    connect(editor_pane_, &EditorPane::bodyChanged, this, &TForm2::body_changed);
    auto *events = new EditorEvents(*this);
    events->setObjectName(QStringLiteral("EditorTrackingEvents")); // deleted first at destruction
    title_field_->installEventFilter(events);
    editor()->installEventFilter(events);
}

void TForm2::report_backup_failure(const QString &message)
{
    set_panel(0, connection_status_text(store.status()));
    dialogs_.error(message);
}

// ---------------------------------------------------------------------------------------------
// Saving

void TForm2::save_open_note()
{
    if (read_only())
        return;
    if (note.noteId < 0) {
        // Only the open note is saved: text typed elsewhere never lands in another note.
        dialogs_.message(QStringLiteral("请先新建笔记。"));
        return;
    }
    SaveRequest r;
    r.note_id = note.noteId;
    r.is_crypt = crypt.is_crypt;
    r.key_crypt = crypt.key_crypt;
    r.is_rtf = note.is_rtf == BodyKind::Rtf ? 1 : 0;
    r.title_changed = note.title_mark == ChangeMark::Changed;
    r.body_changed = note.body_mark == ChangeMark::Changed;
    r.title = title_field_->text();
    r.label = tag_field_->text();
    r.body = editor()->document();
    r.legacy_form = crypt.legacy_form; // a note in the old encrypted form is rewritten whole
    NoteSaveResult result;
    try {
        result = save_note(store, r);
    } catch (const std::exception &e) {
        dialogs_.error(QString::fromUtf8(e.what()));
        return; // marks and buttons stay: the user can save again
    }
    if (result.outcome == SaveOutcome::NoteMissing) {
        dialogs_.error(QStringLiteral("这个笔记在数据库中已经不存在，没有保存。"));
        return;
    }
    crypt.is_crypt = result.is_crypt;
    // Pending encryption changes are now stored; the list marks follow.
    note_saved(crypt);
    note_list_model_->set_mode(note.noteId, crypt.is_crypt);

    // The open note's entry shows the title field's text.
    int row = selection.note_index;
    if (note_list_model_->note_id(row) != note.noteId)
        row = find_open_note_index();
    note_list_model_->set_text(row, title_field_->text());

    note.title_mark = ChangeMark::Unchanged;
    note.body_mark = ChangeMark::Unchanged;
    set_save_enabled(false);
    Timer1->stop();
    autosave.time_count = 0;

    // The end of the autosave cycle: the copy of this note is no longer needed.
    try {
        end_autosave_cycle(store, run.tmp_save, note.noteId);
    } catch (const std::exception &e) {
        dialogs_.error(QString::fromUtf8(e.what()));
    }
}

void TForm2::save_note_if_changed()
{
    if (save_enabled())
        save_open_note();
}

void TForm2::save_note_as_rtf()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString proposal = save_as_file_name(title_field_->text());
    const QString path = dialogs_.save_file(QStringLiteral("另存为"), save_as_filter(),
                                            folder.isEmpty() ? proposal : join_path(folder, proposal));
    if (path.isEmpty())
        return;
    const QString error = write_note_file(path, *editor()->document());
    if (!error.isEmpty())
        dialogs_.error(error);
}

// ---------------------------------------------------------------------------------------------
// New and delete

void TForm2::new_note()
{
    if (read_only())
        return;
    if (settle_unsaved_note(QStringLiteral("笔记没保存，是否保存或者取消当前操作？")) == UnsavedNote::Cancelled)
        return; // not saved: the changes stay in the view
    const int section_row = catalogue_pane_->minor_row();
    if (section_row < 0) {
        dialogs_.message(QStringLiteral("请先选择一个小类，以备在其下创建笔记。"));
        return;
    }
    if (!store.main_connected())
        return;
    const QString class_caption = catalogue_pane_->major_caption().value_or(QString());
    const QString section_caption = catalogue_pane_->minor_caption().value_or(QString());
    NewNote created;
    try {
        created = create_note(store, class_caption, section_caption, note_list_model_->count(),
                              new_note_caption(QDate::currentDate(), QLocale::system()));
    } catch (const std::exception &e) {
        dialogs_.error(QString::fromUtf8(e.what()));
        return;
    }
    note_list_model_->append(NoteListModel::Entry{created.note_id, 0, false, created.caption});

    note.title_mark = ChangeMark::Suspended;
    clear_note_view();
    Timer1->stop(); // whatever was unsaved is saved or dropped now
    autosave.time_count = 0;
    note.noteId = created.note_id;
    note.noteId_bei = created.note_id;
    note.is_rtf = BodyKind::Plain;
    set_panel(4, QStringLiteral("TXT"));
    note.title_mark = ChangeMark::Suspended;
    title_field_->setText(created.caption);
    note.title_mark = ChangeMark::Unchanged;
    note.body_mark = ChangeMark::Unchanged;
    const int row = note_list_model_->count() - 1;
    select_note_entry(row);
    selection.note_index = row;
    set_save_enabled(false);
}

void TForm2::delete_selected_note()
{
    if (read_only())
        return;
    const int row = note_list_pane_->selected_row();
    if (row < 0 || row >= note_list_model_->count()) {
        dialogs_.message(QStringLiteral("请先选择一个要删除的笔记。"));
        return;
    }
    const QString text = note_list_model_->entry(row).text;
    if (dialogs_.question_yes_no(QStringLiteral("是否删除笔记“") + text + QStringLiteral("”?")) != Dialogs::Answer::Yes)
        return;
    // The note the question named.
    const int id = note_list_model_->note_id(row);
    bool deleted = false;
    try {
        deleted = delete_note(store, id);
    } catch (const std::exception &e) {
        dialogs_.error(QString::fromUtf8(e.what()));
        return;
    }
    // Its autosave copy goes with it, so no later start offers the body of a deleted note.
    QFile::remove(autosave_path(run.tmp_save, id));

    clear_note_view();
    Timer1->stop();
    autosave.time_count = 0;
    if (catalogue_pane_->minor_row() >= 0) {
        selection.section_index = -1;
        open_minor_category();
    } else {
        // A search, favourites or encrypted-note list: the entry goes, the rest stays.
        selection.note_index = -1;
        select_note_entry(-1); // first, so that no other entry opens in its place
        note_list_model_->remove(row);
        select_note_entry(-1);
    }
    note.noteId = -1;
    note.title_mark = ChangeMark::Unchanged;
    note.body_mark = ChangeMark::Unchanged;
    set_save_enabled(false);
    // Deleted meanwhile (the list was out of date): the entry goes, but nothing was deleted now.
    dialogs_.message(deleted ? QStringLiteral("删除成功。") : QStringLiteral("这个笔记在数据库中已经不存在。"));
}

// ---------------------------------------------------------------------------------------------
// Change tracking

void TForm2::fields_changed()
{
    if (note.title_mark == ChangeMark::Suspended)
        return;
    note.title_mark = ChangeMark::Changed;
    set_save_enabled(true);
}

void TForm2::body_changed()
{
    set_panel(1, QStringLiteral("字数:") + QString::number(editor()->document()->characterCount() - 1));
    if (note.title_mark == ChangeMark::Suspended)
        return;
    if (note.body_mark == ChangeMark::Suspended) {
        note.body_mark = ChangeMark::Unchanged;
        return;
    }
    note.body_mark = ChangeMark::Changed;
    set_save_enabled(true);
    if (!read_only() && !Timer1->isActive())
        Timer1->start();
}

void TForm2::title_entered()
{
    editor()->setFocus();
}

void TForm2::title_focused()
{
    static bool running = false; // its own messages and commands move the focus
    // Only while no note is open and no entry selected (a recovered note need not be listed).
    // Without a database there is nowhere to put a note (panel 0 says so).
    if (running || note_list_pane_->selected_row() >= 0 || note.noteId >= 0 || !store.main_connected() || read_only())
        return;
    running = true;
    const auto done = qScopeGuard([] { running = false; });
    const QString no_section = QStringLiteral("没有小类无法保存笔记，请先建立小类。");
    if (catalogue_pane_->major_row() < 0) {
        if (catalogue_pane_->major_count() == 0) {
            dialogs_.message(no_section);
            return;
        }
        catalogue_pane_->select_major(0);
        open_major_category();
    }
    if (catalogue_pane_->minor_row() < 0 && catalogue_pane_->minor_count() == 0)
        new_minor_category();
    if (catalogue_pane_->minor_count() == 0) {
        dialogs_.message(no_section);
        return;
    }
    if (catalogue_pane_->minor_row() < 0) {
        catalogue_pane_->select_minor(0);
        open_minor_category();
    }
    if (note_list_model_->count() == 0) {
        new_note();
    } else {
        select_note_entry(0);
        open_selected_note();
        // The body mark stays 0: the first change of the body counts.
    }
}

// ---------------------------------------------------------------------------------------------
// Autosave

void TForm2::autosave_timer_tick()
{
    if (!autosave_tick(autosave, note.noteId))
        return;
    Timer1->stop();
    if (read_only())
        return;
    // The copy of an encrypted note (or of one whose database form still is) is encrypted with
    // the note's password; without a password in memory nothing is written out.
    QString password = autosave_password(crypt, note.command_note_id());
    const bool needs_password = crypt.is_crypt == kEncryptedWithTitle || crypt.is_crypt == kEncryptedContentOnly;
    if (needs_password && password.isEmpty())
        return;
    try {
        const QByteArray bytes = autosave_file_bytes(
            autosave_bytes(*editor()->document(), title_field_->text(), tag_field_->text()), crypt.is_crypt, password);
        if (!write_autosave_file(store, run.tmp_save, note.noteId, bytes))
            dialogs_.error(QStringLiteral("自动保存文件写入失败：") + autosave_path(run.tmp_save, note.noteId));
    } catch (const std::exception &e) {
        dialogs_.error(QString::fromUtf8(e.what()));
    }
    wipe_password(password);
}

TForm2::UnsavedNote TForm2::settle_unsaved_note(const QString &question)
{
    if (!save_enabled())
        return UnsavedNote::Saved;
    switch (dialogs_.question_yes_no_cancel(question)) {
    case Dialogs::Answer::Yes:
        save_open_note();
        return save_enabled() ? UnsavedNote::Cancelled : UnsavedNote::Saved;
    case Dialogs::Answer::No:
        QFile::remove(autosave_path(run.tmp_save, note.noteId_bei));
        // Marks of an encryption change that is dropped go back to the stored mode.
        drop_pending_crypt_changes();
        return UnsavedNote::Dropped;
    default:
        return UnsavedNote::Cancelled;
    }
}

bool TForm2::settle_note_before_database_change()
{
    if (settle_unsaved_note(QStringLiteral("笔记没保存，是否保存或者取消当前操作？")) == UnsavedNote::Cancelled)
        return false;
    clear_note_view();
    note.noteId_bei = -1;
    return true;
}

bool TForm2::recover_autosave(int note_id, const QString &file)
{
    if (read_only())
        return false; // the instance that writes may still be working on it
    // Only a file of this user's own, never through a link.
    const auto bytes = read_private_file(file);
    if (!bytes)
        return false;
    std::optional<RecoveredFields> fields;
    StoredNote stored;
    try {
        fields = recovered_note_fields(store, note_id);
        if (fields)
            stored = read_stored_note(store, note_id);
    } catch (const std::exception &e) {
        dialogs_.error(QString::fromUtf8(e.what()));
        return false;
    }
    // A deleted note has nowhere to go. In every case where nothing is recovered the file stays
    // for a later start.
    if (!fields)
        return false;
    const int stored_mode = fields->is_crypt;
    const bool stored_encrypted = stored_mode == kEncryptedWithTitle || stored_mode == kEncryptedContentOnly;
    // A plain copy is never put beside an encrypted note.
    if (stored_encrypted && !is_encrypted_autosave(*bytes))
        return false;

    AutosaveRecovery recovered = yunshan::recover_autosave(*bytes, dialogs_);
    if (recovered.status == AutosaveRecovery::Status::Cancelled ||
        recovered.status == AutosaveRecovery::Status::WrongPassword)
        return false;
    const auto forget = qScopeGuard([&recovered] { wipe_password(recovered.password); });

    // The stored form of an encrypted note is read with the file's password, so that the note
    // can be saved and left as it was opened.
    QString stored_title = fields->title;
    bool legacy = false;
    if (stored_encrypted) {
        try {
            const std::optional<UnlockedCaption> unlocked =
                unlock_caption(fields->title, stored_mode, recovered.password);
            if (!unlocked) {
                dialogs_.message(wrong_password_text());
                return false;
            }
            decrypt_stored_note(stored, stored_mode, recovered.password, unlocked->form);
            stored_title = unlocked->title;
            legacy = unlocked->form == TextForm::Legacy8Bit;
        } catch (const NoteCryptError &e) {
            dialogs_.error(e.text());
            return false;
        }
    }

    clear_note_view();
    const int row = note_list_model_->row_of(note_id);
    select_note_entry(row);
    selection.note_index = row;
    note.noteId = note_id;
    note.noteId_bei = note_id;
    const bool mode_pending = restore_autosave_mode(
        crypt, note_id, stored_mode,
        recovered.status == AutosaveRecovery::Status::Unlocked ? recovered.mode : static_cast<int>(kPlainNote),
        recovered.password);
    note_list_model_->set_mode(note_id, crypt.is_crypt);
    crypt.legacy_form = legacy;
    if (row >= 0 && crypt.is_crypt == kEncryptedWithTitle)
        note_list_model_->set_text(row, stored_title);

    // The title and tag line as they were typed, when the file holds them.
    const std::optional<AutosaveFields> typed = autosave_fields(recovered.rtf);
    note.title_mark = ChangeMark::Suspended;
    title_field_->setText(typed ? typed->title : stored_title);
    tag_field_->setText(typed ? typed->label : stored.label);
    read_rtf(recovered.rtf, *editor()->document());
    note.is_rtf = BodyKind::Rtf;
    set_panel(4, QStringLiteral("RTF"));
    set_panel(5, QStringLiteral("笔记更新时间:") + regional_date_time(stored.put, QLocale::system()));
    for (const StoredPicture &p : stored.pictures)
        picture_pane_->add_thumbnail(p.bytes, p.id);
    note.title_mark = mode_pending || (typed && (typed->title != stored_title || typed->label != stored.label))
                          ? ChangeMark::Changed
                          : ChangeMark::Unchanged;
    // The recovered body is not stored yet: it counts as an unsaved change.
    note.body_mark = ChangeMark::Changed;
    set_save_enabled(true);
    return true;
}

} // namespace yunshan
