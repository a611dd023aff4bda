// Note list and the open note: the four list kinds, paging, favourites, hints, opening a note,
// the silent find after a search.
#include "app/ui/catalogue_pane.h"
#include "app/ui/command_helpers.h"
#include "app/ui/editor_pane.h"
#include "app/ui/main_commands.h"
#include "app/ui/note_list_pane.h"
#include "app/ui/picture_pane.h"
#include "app/ui/program_pictures.h"
#include "app/ui/tform2.h"
#include "catalogue/category_commands.h"
#include "catalogue/note_list.h"
#include "crypto/note_crypt.h"
#include "editor/fitted_pictures.h"
#include "editor/note_loader.h"
#include "editor/rtf/rtf.h"
#include "notes/autosave.h"
#include "platform/dialogs.h"
#include "session/note_list_model.h"
#include "session/open_note.h"
#include "store/note_rows.h"
#include "store/note_search_index.h"

#include <QApplication>
#include <QFile>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QLocale>
#include <QPointer>
#include <QScrollArea>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>

#include <algorithm>
#include <exception>

namespace yunshan {

namespace {

// The window's first show, and Enter in the search box.
class NoteListEvents : public QObject {
  public:
    explicit NoteListEvents(TForm2 &form) : form_(form) {}

  protected:
    bool eventFilter(QObject *watched, QEvent *e) override
    {
        NoteListPane *pane = form_.note_list_pane();
        if (watched == &form_ && e->type() == QEvent::Show && pane->scroll_width() == 0) {
            // The horizontal scroll range: twice the list's width when the window is first shown
            // (by then the page control has laid out its pages).
            pane->set_scroll_width(2 * pane->note_list_view()->width());
        } else if (watched == form_.search_box() && e->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent *>(e)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                form_.search_from_box();
                return true; // the box never sees the key
            }
        }
        return QObject::eventFilter(watched, e);
    }

  private:
    TForm2 &form_;
};

const QString kUpdateTime = QStringLiteral("笔记更新时间:");
// Builds of at least this many notes show their progress in the status bar.
constexpr int kIndexProgressFrom = 2000;
constexpr int kIndexStartDelayMs = 2000;

// A body is built in a document the editor does not show yet and then handed over: filling the
// shown document would lay out every change, and dropping a large body is much quicker than
// clearing it. The editor owns the new document; its previous one goes with the handover.
// The document has no page size until the editor gives it its own: with one, its layout would
// lay out every block as it is read; handed over, it is laid out as far as the editor shows it
// and the rest a little at a time afterwards.
QTextDocument *new_editor_document(QTextEdit *editor)
{
    auto *doc = new QTextDocument(editor);
    doc->setDefaultFont(editor->font());
    doc->setPageSize(QSizeF(0, 0));
    fit_pictures_to_text_width(*doc); // wide pictures drawn at the editor's width
    return doc;
}

void show_editor_document(QTextEdit *editor, QTextDocument *doc)
{
    const QPointer<QTextDocument> old = editor->document();
    editor->setDocument(doc);
    // The editor hands the caret's format over to a new document (a size or colour typed last
    // would go on into the next note): the caret starts afresh, with the format the new
    // document has at its start.
    editor->setTextCursor(QTextCursor(doc));
    if (old && old->parent() == editor && old != doc)
        delete old.data();
}

} // namespace

void TForm2::setup_note_list()
{
    note_list_events_ = std::make_unique<NoteListEvents>(*this);
    for (QObject *watched : std::initializer_list<QObject *>{this, search_box()})
        watched->installEventFilter(note_list_events_.get());
    // An entry the user selects opens; the current entry given on focus alone does not.
    connect(note_list_pane_, &NoteListPane::noteActivated, this, [this] { open_selected_note(); });
    connect(note_list_pane_, &NoteListPane::mouseMoved, this, &TForm2::note_list_hover);
    connect(note_list_pane_, &NoteListPane::mouseLeft, this, &TForm2::note_list_left);
    // The red mark follows the search box's text while a search is shown.
    connect(search_box(), &QLineEdit::textChanged, this, [this] { update_note_list_match(); });
    // The search index builds on its own thread; large builds show their progress.
    search_index_ = new NoteSearchIndex(store, this);
    connect(search_index_, &NoteSearchIndex::build_progress, this, [this](int done, int total) {
        if (total >= kIndexProgressFrom)
            set_panel(6, QStringLiteral("正在建立搜索索引 ") + QString::number(done * 100 / std::max(total, 1)) +
                             QLatin1Char('%'));
    });
    connect(search_index_, &NoteSearchIndex::build_finished, this, [this] {
        if (panel(6).startsWith(QStringLiteral("正在建立搜索索引")))
            set_panel(6, QString());
    });
}

void TForm2::prepare_search_index()
{
    // A while after start-up, so the window is up first; the index catches up or builds.
    QTimer::singleShot(kIndexStartDelayMs, search_index_, [this] {
        try {
            if (!closing_)
                search_index_->ready();
        } catch (const std::exception &) {
            // the next search runs the plain statement and tries again
        }
    });
}

void TForm2::select_note_entry(int row)
{
    note_list_pane_->set_current_row(row);
}

void TForm2::update_note_list_match()
{
    const QString match = list.search_highlight ? search_box()->text() : QString();
    note_list_model_->set_match(match);
    editor_pane_->set_match(match);
}

// ---------------------------------------------------------------------------------------------
// Clearing the view

void TForm2::clear_note_view()
{
    note.noteId = -1;
    note.img_id = -1;
    // The fields are emptied as the program's doing, not as an edit (which would enable saving).
    note.title_mark = ChangeMark::Suspended;
    title_field_->clear();
    tag_field_->clear();
    note.title_mark = ChangeMark::Unchanged;
    crypt.is_crypt = 0;
    forget_open_note(crypt); // the password lives only while its note is open
    note.body_mark = ChangeMark::Suspended;
    show_editor_document(editor(), new_editor_document(editor()));
    note.body_mark = ChangeMark::Unchanged;
    note.search_marks = false;
    commands_->button("Button2")->setText(QStringLiteral("高亮"));
    set_save_enabled(false);
    set_panel(5, QString());
    picture_pane_->clear();
}

// ---------------------------------------------------------------------------------------------
// Filling the list

void TForm2::show_note_entries(const QList<NoteListRow> &rows)
{
    selection.note_index = -1;
    note_list_model_->set_rows(rows);
    update_note_list_match();
}

void TForm2::load_note_list(NoteListKind kind)
{
    const QString text = search_box()->text();
    catalogue_pane_->select_major(-1);
    selection.class_index = -1;
    catalogue_pane_->clear_minor();
    selection.section_index = -1;
    // A new search text or another list kind starts at the first page; paging keeps its page.
    choose_note_list(list, kind, kind == kSearchList ? text : QString());
    if (!store.main_connected())
        return;
    {
        BusyCursor busy;
        QList<NoteListRow> rows;
        try {
            std::optional<QList<NoteListRow>> found;
            if (kind == kSearchList && search_index_)
                found = search_index_->search(text, list.search_offset);
            rows = found ? *found : note_list_rows(store, kind, text, list.search_offset);
        } catch (const std::exception &e) {
            dialogs_.error(QString::fromUtf8(e.what()));
            return;
        }
        show_note_entries(rows);
        if (!rows.isEmpty()) {
            list.search_highlight = !text.isEmpty();
            update_note_list_match();
        }
        if (!save_enabled())
            clear_note_view();
    }
    if (note_list_model_->count() > 0 && !save_enabled()) {
        select_note_entry(0);
        open_selected_note();
    }
}

void TForm2::fill_section_notes(const QString &caption)
{
    selection.note_index = -1;
    list.search_highlight = false;
    update_note_list_match();
    editor_pane_->clear_headings();
    show_tab(0);
    choose_note_list(list, kSectionList, caption);
    if (!store.main_connected())
        return;
    QList<NoteListRow> rows;
    try {
        rows = note_list_rows(store, kSectionList, caption, list.search_offset);
    } catch (const std::exception &e) {
        dialogs_.error(QString::fromUtf8(e.what()));
        return;
    }
    show_note_entries(rows);
    selection.section_index = catalogue_pane_->minor_list()->currentRow();
    if (!save_enabled())
        clear_note_view();
}

int TForm2::find_open_note_index() const
{
    return note_list_model_->row_of(note.noteId);
}

void TForm2::search_all_notes()
{
    load_note_list(kSearchList);
}
void TForm2::search_from_box()
{
    load_note_list(kSearchList);
}
void TForm2::list_favourites()
{
    load_note_list(kFavouriteList);
}
void TForm2::list_encrypted_notes()
{
    load_note_list(kEncryptedList);
}

// ---------------------------------------------------------------------------------------------
// Paging

void TForm2::refill_note_page()
{
    if (is_search_box_list(list.search_flag)) {
        load_note_list(list.search_flag);
    } else if (is_section_list(list.search_flag)) {
        selection.section_index = -1;
        open_minor_category();
    }
}

void TForm2::next_page()
{
    next_note_page(list);
    refill_note_page();
}

void TForm2::previous_page()
{
    if (previous_note_page(list))
        refill_note_page();
    else
        dialogs_.message(QStringLiteral("已经到第一页"));
}

// ---------------------------------------------------------------------------------------------
// Favourites

void TForm2::mark_favourite(bool on, const QString &no_entry_text)
{
    if (refused_in_read_only())
        return; // the mark in the list stays as the database has it
    const int row = note_list_pane_->current_row();
    const bool listed = row >= 0 && row < note_list_model_->count();
    const NoteListModel::Entry entry = note_list_model_->entry(row);
    try {
        switch (set_favourite(store, listed ? std::optional<bool>(entry.favourite) : std::nullopt, entry.note_id, on)) {
        case FavouriteChange::NoEntry:
            dialogs_.message(no_entry_text);
            break;
        case FavouriteChange::Unchanged:
            break;
        case FavouriteChange::Changed:
            note_list_model_->set_favourite(row, on);
            break;
        }
    } catch (const std::exception &e) {
        dialogs_.error(QString::fromUtf8(e.what()));
    }
}

void TForm2::add_to_favourites()
{
    mark_favourite(true, QStringLiteral("请先新建或者打开一个笔记以添加。"));
}

void TForm2::remove_from_favourites()
{
    mark_favourite(false, QStringLiteral("请先新建或者打开一个笔记以取消常用标记。"));
}

// ---------------------------------------------------------------------------------------------
// Hints for long entries

void TForm2::note_list_hover(const QPoint &pos)
{
    const QListView *view = note_list_pane_->note_list_view();
    const QModelIndex at = view->indexAt(pos);
    const int row = at.isValid() ? at.row() : -1;
    if (row == list.hits_index)
        return;
    list.hits_index = row;
    QString hint;
    hintout = 0;
    if (row >= 0) {
        const QString text = note_list_model_->entry(row).text;
        const QFontMetrics fm(view->font());
        if (fm.horizontalAdvance(entry_hint_measure_text(row, text)) > view->width()) {
            hint = text;
            hintout = 500;
        }
    }
    note_list_pane_->arm_hint(row, hint);
    if (hint.isEmpty())
        QToolTip::hideText();
}

void TForm2::note_list_left()
{
    hintout = 0;
}

// ---------------------------------------------------------------------------------------------
// Opening a note

void TForm2::open_selected_note()
{
    selection.select = kTargetNote;
    const int i = note_list_pane_->current_row();
    if (i == selection.note_index)
        return; // open already
    const auto back_to_open_entry = [this] { select_note_entry(selection.note_index); };

    switch (settle_unsaved_note(QStringLiteral("有笔记没保存，是否保存？"))) {
    case UnsavedNote::Cancelled:
        back_to_open_entry(); // cancelled, or not saved (the error was shown): the changes stay
        return;
    case UnsavedNote::Dropped:
        note.title_mark = ChangeMark::Unchanged;
        note.body_mark = ChangeMark::Unchanged;
        set_save_enabled(false);
        break;
    case UnsavedNote::Saved:
        break;
    }

    const bool listed = i >= 0 && i < note_list_model_->count();
    if (!listed) {
        clear_note_view();
        return;
    }

    const NoteListModel::Entry entry = note_list_model_->entry(i);
    NoteToOpen opened = read_note_to_open(store, dialogs_, entry.note_id, entry.mode);
    if (opened.status != NoteToOpen::Status::Ready) {
        back_to_open_entry();
        return;
    }
    const int id = opened.note_id;
    const int mode = opened.mode;
    const StoredNote &stored = opened.stored;

    // The thumbnails are decoded on a helper thread while the body is read below.
    QList<QByteArray> picture_bytes;
    for (const StoredPicture &p : stored.pictures)
        picture_bytes.append(p.bytes);
    picture_pane_->start_thumbnails(picture_bytes);

    clear_note_view();
    crypt.key_crypt = opened.password;
    wipe_password(opened.password);
    crypt.legacy_form = opened.legacy_form;
    note.noteId = id;
    note.noteId_bei = id;
    crypt.is_crypt = mode;
    // A title encrypted with the note is shown in its entry once the note is open. A content-only
    // title comes from the stored caption whole, not from the entry's shortened text.
    if (mode == kEncryptedWithTitle)
        note_list_model_->set_text(i, opened.title);

    note.title_mark = ChangeMark::Suspended;
    editor_pane_->clear_headings();
    title_field_->setText(mode >= 1 ? opened.title : note_list_model_->entry(i).text);

    note.body_mark = ChangeMark::Suspended;
    QString body;
    QStringList warnings;
    QTextDocument *doc = new_editor_document(editor());
    if (stored.has_rtf) {
        warnings = read_rtf(stored.rtf, *doc).warnings;
        show_editor_document(editor(), doc);
        tag_field_->setText(stored.label);
        set_panel(5, kUpdateTime + regional_date_time(stored.put, QLocale::system()));
        note.is_rtf = BodyKind::Rtf;
        set_panel(4, crypt.legacy_form ? QStringLiteral("rtf") : QStringLiteral("RTF"));
        body = editor()->toPlainText();
    } else {
        note.is_rtf = BodyKind::Plain;
        set_panel(4, crypt.legacy_form ? QStringLiteral("txt") : QStringLiteral("TXT"));
        if (stored.has_notes_row) {
            tag_field_->setText(stored.label);
            body = plain_body_text(stored.content);
            doc->setPlainText(body);
            set_panel(5, kUpdateTime + regional_date_time(stored.put, QLocale::system()));
        }
        show_editor_document(editor(), doc);
    }
    // Parts of a body that could not be read as written are named in the status bar.
    set_panel(6, warnings.join(QLatin1Char(' ')));
    QTextCursor start = editor()->textCursor();
    start.setPosition(0);
    editor()->setTextCursor(start);

    QList<int> picture_ids;
    for (const StoredPicture &p : stored.pictures)
        picture_ids.append(static_cast<int>(p.id));
    picture_pane_->add_thumbnails(picture_ids);

    selection.note_index = i;
    note.title_mark = ChangeMark::Unchanged;
    note.body_mark = ChangeMark::Unchanged;
    set_save_enabled(false);
    commands_->button("Button2")->setText(QStringLiteral("高亮"));

    if (list.search_highlight) {
        silent_find_mark = 1;
        find_next();
        silent_find_mark = 0;
    }
    note_list_pane_->set_headings_icon(body_has_headings_mark(body) ? mark_picture(MarkPicture::Headings) : QIcon());
}

} // namespace yunshan
