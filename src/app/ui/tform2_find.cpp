// Find and highlight in the open note, the find dialog, and the editor's tools: the font of the
// selection, the default editor font, pasting a picture, and printing. The window's answers to
// the editor pane: the status counters, links, the headings list's clicks and hints.
#include "app/ui/command_helpers.h"
#include "app/ui/editor_pane.h"
#include "app/ui/find_dialog.h"
#include "app/ui/main_commands.h"
#include "app/ui/tform2.h"
#include "catalogue/note_list.h"
#include "editor/editor_tools.h"
#include "editor/find.h"
#include "editor/headings.h"
#include "editor/links.h"
#include "editor/print.h"
#include "pictures/inline_images.h"
#include "pictures/picture_codec.h"
#include "platform/dialogs.h"
#include "platform/settings_store.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QMouseEvent>
#include <QPageSetupDialog>
#include <QPaintEvent>
#include <QPrintDialog>
#include <QPrinter>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextTable>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>

namespace yunshan {

namespace {

const QString kEnterText = QStringLiteral("请先输入要查找的内容");
const QString kNotFound = QStringLiteral("内容没有找到");

// The character format at the start of the selection (as the formatting commands read it).
QTextCharFormat selection_format(const QTextCursor &c)
{
    QTextCursor probe(c.document());
    probe.setPosition(c.selectionStart() + 1);
    return probe.charFormat();
}

} // namespace

void TForm2::setup_editor_tools()
{
    print_dialog = [this](QPrinter &p) {
        QPrintDialog d(&p, this);
        return d.exec() == QDialog::Accepted;
    };
    printer_setup_dialog = [this](QPrinter &p) {
        QPageSetupDialog d(&p, this);
        return d.exec() == QDialog::Accepted;
    };
    open_url = [](const QUrl &url) { return QDesktopServices::openUrl(url); };
    last_font_ = editor()->font();
    last_color_ = editor()->palette().color(QPalette::Text);

    connect(editor_pane_, &EditorPane::bodyChanged, this,
            [this] { set_panel(1, body_length_text(*editor()->document())); });
    connect(editor_pane_, &EditorPane::selectionLengthChanged, this, [this](const QString &t) { set_panel(3, t); });
    connect(editor_pane_, &EditorPane::caretPressed, this, [this](const QString &t) { set_panel(2, t); });
    connect(editor_pane_, &EditorPane::linkClicked, this, &TForm2::open_link);

    connect(editor_pane_, &EditorPane::headingClicked, this, &TForm2::jump_to_heading);
    connect(editor_pane_, &EditorPane::headingsPointerMoved, this, &TForm2::headings_hover);
}

// ---------------------------------------------------------------------------------------------
// Find next and the highlight

void TForm2::find_next_in_note()
{
    if (search_box()->text().isEmpty()) {
        dialogs_.message(kEnterText);
        return;
    }
    find_next();
}

void TForm2::toggle_highlight()
{
    if (search_box()->text().isEmpty()) {
        dialogs_.message(kEnterText);
        return;
    }
    silent_find_mark = 1;
    const bool on = !note.search_marks;
    commands_->button("Button2")->setText(on ? QStringLiteral("取消") : QStringLiteral("高亮"));
    mark_all_matches(on);
    silent_find_mark = 0;
}

void TForm2::mark_all_matches(bool on)
{
    // Formatting, not an edit: neither mark notices it.
    const ChangeMark title_mark = note.title_mark;
    const ChangeMark body_mark = note.body_mark;
    note.title_mark = ChangeMark::Suspended;
    note.body_mark = ChangeMark::Suspended;
    editor()->setUpdatesEnabled(false);
    QTextDocument &doc = *editor()->document();
    if (on) {
        int end = 0;
        const int found = apply_search_highlight(doc, search_box()->text(), &end);
        QTextCursor c = editor()->textCursor();
        c.setPosition(end);
        editor()->setTextCursor(c);
        if (found > 0)
            editor()->setFocus();
    } else {
        remove_search_highlight(doc);
    }
    note.search_marks = on;
    editor()->setUpdatesEnabled(true);
    note.title_mark = title_mark;
    note.body_mark = body_mark;
}

// ---------------------------------------------------------------------------------------------
// The find dialog

void TForm2::find_in_note()
{
    if (!FindDialog1) {
        FindDialog1 = new FindDialog(this);
        connect(FindDialog1, &FindDialog::findRequested, this, &TForm2::find_dialog_next);
        connect(FindDialog1, &FindDialog::closed, this, &TForm2::find_dialog_closed);
    }
    // At the editor's top right corner.
    FindDialog1->move(editor()->mapToGlobal(QPoint(editor()->width(), 0)));
    FindDialog1->show();
    FindDialog1->raise();
    FindDialog1->activateWindow();
}

void TForm2::find_dialog_next()
{
    QTextCursor c = editor()->textCursor();
    if (find_forward(*editor()->document(), c, FindDialog1->find_text(), FindDialog1->options())) {
        editor()->setFocus();
        editor()->setTextCursor(c);
    } else {
        dialogs_.message(kNotFound);
    }
}

void TForm2::find_dialog_closed()
{
    if (!isVisible())
        return;
    raise();
    activateWindow();
}

// ---------------------------------------------------------------------------------------------
// Fonts

void TForm2::choose_selection_font()
{
    QTextCursor c = editor()->textCursor();
    QFont font = last_font_;
    QColor color = last_color_;
    if (c.hasSelection()) {
        const QTextCharFormat f = selection_format(c);
        font = f.font().resolve(editor()->document()->defaultFont());
        color =
            f.foreground().style() == Qt::NoBrush ? editor()->palette().color(QPalette::Text) : f.foreground().color();
    }
    if (!dialogs_.choose_font(QStringLiteral("字体"), font, color))
        return;
    last_font_ = font;
    last_color_ = color;
    c = editor()->textCursor();
    if (apply_selection_font(c, font, color))
        mark_rich_text();
}

void TForm2::choose_editor_font()
{
    QFont font = editor()->font();
    if (font.pointSize() <= 0)
        font.setPointSize(stored_editor_font(font).size.toInt());
    QColor color = editor()->palette().color(QPalette::Text);
    if (!dialogs_.choose_font(QStringLiteral("编辑器默认字体"), font, color))
        return;
    editor()->setFont(font);
    editor()->document()->setDefaultFont(font);
    QPalette p = editor()->palette();
    p.setColor(QPalette::Text, color);
    editor()->setPalette(p);
    if (settings_store) {
        const StoredEditorFont stored = stored_editor_font(font);
        settings_store->set_font_name(stored.name);
        settings_store->set_font_size(stored.size);
    }
}

// ---------------------------------------------------------------------------------------------
// Pasting a picture into the body

bool TForm2::paste_picture_into_body()
{
    const QMimeData *clip = QGuiApplication::clipboard()->mimeData();
    if (!clip || !clip->hasImage() || clip->hasText() || editor()->isReadOnly())
        return false;
    const QImage image = qvariant_cast<QImage>(clip->imageData());
    if (image.isNull())
        return false;
    QTextCursor c = editor()->textCursor();
    insert_rtf_at_selection(c, jpeg_rtf_fragment(encode_jpeg(image)));
    editor()->setTextCursor(c);
    mark_rich_text();
    return true;
}

void TForm2::paste_into_body()
{
    const QMimeData *clip = QGuiApplication::clipboard()->mimeData();
    if (!clip || !clip->hasImage())
        return;
    if (!paste_picture_into_body()) {
        // A bitmap with text beside it: the editor's own paste takes the rich text.
        editor()->paste();
        mark_rich_text();
    }
    editor()->setFocus();
}

// ---------------------------------------------------------------------------------------------
// Status counters and links

void TForm2::open_link(const QString &link)
{
    const std::optional<QUrl> url = openable_link(link);
    if (!url) {
        dialogs_.message(link_refused_text(link));
        return;
    }
    if (open_url)
        open_url(*url);
}

// ---------------------------------------------------------------------------------------------
// Headings

void TForm2::headings_tab_shown()
{
    if (editor_pane_->headings_filled() && !save_enabled())
        return;
    editor_pane_->fill_headings();
}

void TForm2::jump_to_heading()
{
    if (!editor_pane_->jump_to_selected_heading())
        dialogs_.message(kNotFound);
}

void TForm2::headings_hover(const QPoint &pos)
{
    editor_pane_->track_heading_hint(pos, list.hits_index);
}

void TForm2::find_next()
{
    if (editor_pane_->find_next(search_box()->text()))
        return;
    if (silent_find_mark == 0)
        dialogs_.message(kNotFound);
    else
        silent_find_mark = -1;
}

// ---------------------------------------------------------------------------------------------
// Printing

QPrinter &TForm2::printer()
{
    if (!printer_)
        printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return *printer_;
}

void TForm2::print_open_note()
{
    QPrinter &p = printer();
    if (!print_dialog || !print_dialog(p))
        return;
    p.setDocName(print_document_name(title_field_->text()));
    print_note(*editor()->document(), editor()->font(), p);
}

void TForm2::printer_setup()
{
    if (printer_setup_dialog)
        printer_setup_dialog(printer());
}

} // namespace yunshan
