// Find and highlight in the open note, the find dialog, and the editor's tools: the font of the
// selection, the default editor font, pasting a picture, the status counters, links, the
// headings list and printing.
#include "app/ui/command_helpers.h"
#include "app/ui/find_dialog.h"
#include "app/ui/headings_delegate.h"
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

// Mouse presses and clicks in the editor, the link look of what it is about to draw; mouse moves
// over the headings list.
class EditorEvents : public QObject {
  public:
    explicit EditorEvents(TForm2 &form) : form_(form) {}

  protected:
    bool eventFilter(QObject *watched, QEvent *e) override
    {
        if (watched == form_.RichEdit1->viewport()) {
            if (e->type() == QEvent::Paint) {
                show_links_in(static_cast<QPaintEvent *>(e)->rect());
            } else if (e->type() == QEvent::MouseButtonPress) {
                const auto *m = static_cast<QMouseEvent *>(e);
                press_ = m->position().toPoint();
                form_.RichEdit1MouseDown(press_);
            } else if (e->type() == QEvent::MouseButtonRelease) {
                const auto *m = static_cast<QMouseEvent *>(e);
                const QPoint at = m->position().toPoint();
                // A click, not the end of a drag that selected text.
                if (m->button() == Qt::LeftButton &&
                    (at - press_).manhattanLength() < QApplication::startDragDistance() &&
                    !form_.RichEdit1->textCursor().hasSelection()) {
                    const QString link = link_under(at);
                    if (!link.isEmpty())
                        form_.RichEdit1LinkClick(link);
                }
            }
        } else if (watched == form_.ListBox4->viewport()) {
            if (e->type() == QEvent::MouseMove)
                form_.ListBox4MouseMove(static_cast<QMouseEvent *>(e)->position().toPoint());
            else if (e->type() == QEvent::Leave)
                form_.ListBox4MouseMove(QPoint(-1, -1));
        }
        return QObject::eventFilter(watched, e);
    }

  private:
    // The blocks in `area` of the editor's viewport get their link look before they are drawn.
    // Only blocks on the screen are looked at: an opened note is neither scanned nor laid out
    // whole for it.
    void show_links_in(const QRect &area) const
    {
        QTextEdit *editor = form_.RichEdit1;
        QTextDocument *doc = editor->document();
        QAbstractTextDocumentLayout *layout = doc->documentLayout();
        const qreal scrolled = editor->verticalScrollBar()->value();
        const qreal margin = doc->documentMargin();
        // The first line at the area's top (a point in the margin could hit any block).
        const qreal top = std::max<qreal>(area.top() + scrolled, margin + 1);
        const qreal bottom = area.bottom() + scrolled;
        const int at = layout->hitTest(QPointF(margin + 1, top), Qt::FuzzyHit);
        if (at < 0)
            return;
        // Down to the first block below the area outside any table: the cells of a table row
        // come one after another, each from the row's top.
        QTextBlock last = doc->findBlock(at);
        for (QTextBlock b = last.next(); b.isValid(); b = b.next()) {
            last = b;
            if (layout->blockBoundingRect(b).top() > bottom && !QTextCursor(b).currentTable())
                break;
        }
        LinkLook::of(*doc).show_blocks(doc->findBlock(at), last);
    }

    // The link (anchor or web address) under a point of the editor's viewport.
    QString link_under(const QPoint &at) const
    {
        QTextEdit *editor = form_.RichEdit1;
        const QString anchor = editor->anchorAt(at);
        if (!anchor.isEmpty())
            return anchor;
        const QPoint in_doc = at + QPoint(editor->horizontalScrollBar()->value(), editor->verticalScrollBar()->value());
        const int pos = editor->document()->documentLayout()->hitTest(in_doc, Qt::ExactHit);
        if (pos < 0)
            return {};
        const QTextBlock block = editor->document()->findBlock(pos);
        return link_at(block.text(), pos - block.position());
    }

    TForm2 &form_;
    QPoint press_;
};

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
    last_font_ = RichEdit1->font();
    last_color_ = RichEdit1->palette().color(QPalette::Text);

    connect(RichEdit1, &QTextEdit::textChanged, this,
            [this] { set_panel(1, body_length_text(*RichEdit1->document())); });
    connect(RichEdit1, &QTextEdit::selectionChanged, this, &TForm2::RichEdit1SelectionChange);

    ListBox4->setItemDelegate(new HeadingsDelegate(*this, ListBox4));
    ListBox4->setMouseTracking(true);
    connect(ListBox4, &QListWidget::itemClicked, this, [this] { ListBox4Click(); });
    connect(ListBox4, &QListWidget::itemActivated, this, [this] { ListBox4Click(); });

    editor_events_ = std::make_unique<EditorEvents>(*this);
    RichEdit1->viewport()->installEventFilter(editor_events_.get());
    ListBox4->viewport()->installEventFilter(editor_events_.get());
}

// ---------------------------------------------------------------------------------------------
// Find next and the highlight

void TForm2::Button3Click()
{
    if (Edit1->text().isEmpty()) {
        dialogs_.message(kEnterText);
        return;
    }
    find_next();
}

void TForm2::Button2Click()
{
    if (Edit1->text().isEmpty()) {
        dialogs_.message(kEnterText);
        return;
    }
    silent_find_mark = 1;
    const bool on = !note.search_marks;
    Button2->setText(on ? QStringLiteral("取消") : QStringLiteral("高亮"));
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
    RichEdit1->setUpdatesEnabled(false);
    QTextDocument &doc = *RichEdit1->document();
    if (on) {
        int end = 0;
        const int found = apply_search_highlight(doc, Edit1->text(), &end);
        QTextCursor c = RichEdit1->textCursor();
        c.setPosition(end);
        RichEdit1->setTextCursor(c);
        if (found > 0)
            RichEdit1->setFocus();
    } else {
        remove_search_highlight(doc);
    }
    note.search_marks = on;
    RichEdit1->setUpdatesEnabled(true);
    note.title_mark = title_mark;
    note.body_mark = body_mark;
}

// ---------------------------------------------------------------------------------------------
// The find dialog

void TForm2::N36Click()
{
    if (!FindDialog1) {
        FindDialog1 = new FindDialog(this);
        connect(FindDialog1, &FindDialog::findRequested, this, &TForm2::FindDialog1Find);
        connect(FindDialog1, &FindDialog::closed, this, &TForm2::FindDialog1Close);
    }
    // At the editor's top right corner.
    const QPoint corner(RichEdit1->x() + RichEdit1->width(), RichEdit1->y());
    FindDialog1->move(GroupBox4->mapToGlobal(corner));
    FindDialog1->show();
    FindDialog1->raise();
    FindDialog1->activateWindow();
}

void TForm2::FindDialog1Find()
{
    QTextCursor c = RichEdit1->textCursor();
    if (find_forward(*RichEdit1->document(), c, FindDialog1->find_text(), FindDialog1->options())) {
        RichEdit1->setFocus();
        RichEdit1->setTextCursor(c);
    } else {
        dialogs_.message(kNotFound);
    }
}

void TForm2::FindDialog1Close()
{
    if (!isVisible())
        return;
    raise();
    activateWindow();
}

// ---------------------------------------------------------------------------------------------
// Fonts

void TForm2::SpeedButton10Click()
{
    QTextCursor c = RichEdit1->textCursor();
    QFont font = last_font_;
    QColor color = last_color_;
    if (c.hasSelection()) {
        const QTextCharFormat f = selection_format(c);
        font = f.font().resolve(RichEdit1->document()->defaultFont());
        color =
            f.foreground().style() == Qt::NoBrush ? RichEdit1->palette().color(QPalette::Text) : f.foreground().color();
    }
    if (!dialogs_.choose_font(QStringLiteral("字体"), font, color))
        return;
    last_font_ = font;
    last_color_ = color;
    c = RichEdit1->textCursor();
    if (apply_selection_font(c, font, color))
        mark_rich_text();
}

void TForm2::Label3Click()
{
    QFont font = RichEdit1->font();
    if (font.pointSize() <= 0)
        font.setPointSize(stored_editor_font(font).size.toInt());
    QColor color = RichEdit1->palette().color(QPalette::Text);
    if (!dialogs_.choose_font(QStringLiteral("编辑器默认字体"), font, color))
        return;
    RichEdit1->setFont(font);
    RichEdit1->document()->setDefaultFont(font);
    QPalette p = RichEdit1->palette();
    p.setColor(QPalette::Text, color);
    RichEdit1->setPalette(p);
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
    if (!clip || !clip->hasImage() || clip->hasText() || RichEdit1->isReadOnly())
        return false;
    const QImage image = qvariant_cast<QImage>(clip->imageData());
    if (image.isNull())
        return false;
    QTextCursor c = RichEdit1->textCursor();
    insert_rtf_at_selection(c, jpeg_rtf_fragment(encode_jpeg(image)));
    RichEdit1->setTextCursor(c);
    mark_rich_text();
    return true;
}

void TForm2::SpeedButton12Click()
{
    const QMimeData *clip = QGuiApplication::clipboard()->mimeData();
    if (!clip || !clip->hasImage())
        return;
    if (!paste_picture_into_body()) {
        // A bitmap with text beside it: the editor's own paste takes the rich text.
        RichEdit1->paste();
        mark_rich_text();
    }
    RichEdit1->setFocus();
}

// ---------------------------------------------------------------------------------------------
// Status counters and links

void TForm2::RichEdit1MouseDown(const QPoint &pos)
{
    set_panel(2, caret_position_text(RichEdit1->cursorForPosition(pos)));
}

void TForm2::RichEdit1SelectionChange()
{
    set_panel(3, selection_length_text(RichEdit1->textCursor()));
}

void TForm2::RichEdit1LinkClick(const QString &link)
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

void TForm2::TabSheet2Show()
{
    if (ListBox4->count() > 0 && !save_enabled())
        return;
    BusyCursor busy;
    ListBox4->clear();
    ListBox4->addItems(heading_lines(*RichEdit1->document()));
}

void TForm2::ListBox4Click()
{
    const QListWidgetItem *item = ListBox4->currentItem();
    if (!item || !item->isSelected())
        return;
    const QString key = heading_search_key(item->text());
    QTextCursor c(RichEdit1->document());
    c.setPosition(0);
    if (find_forward(*RichEdit1->document(), c, key, FindOptions{})) {
        RichEdit1->setFocus();
        RichEdit1->setTextCursor(c);
    } else {
        c.setPosition(0);
        RichEdit1->setTextCursor(c);
        dialogs_.message(kNotFound);
    }
}

void TForm2::ListBox4MouseMove(const QPoint &pos)
{
    const QListWidgetItem *item = ListBox4->itemAt(pos);
    const int row = item ? ListBox4->row(item) : -1;
    if (row < 0) {
        heading_hint.clear();
        QToolTip::hideText();
        return;
    }
    if (row == list.hits_index)
        return;
    list.hits_index = row;
    heading_hint.clear();
    const QFontMetrics fm(ListBox4->font());
    if (fm.horizontalAdvance(entry_hint_measure_text(row, item->text())) > ListBox4->width())
        heading_hint = item->text();
    else
        QToolTip::hideText();
}

// ---------------------------------------------------------------------------------------------
// Printing

QPrinter &TForm2::printer()
{
    if (!printer_)
        printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return *printer_;
}

void TForm2::N44Click()
{
    QPrinter &p = printer();
    if (!print_dialog || !print_dialog(p))
        return;
    p.setDocName(print_document_name(Edit2->text()));
    print_note(*RichEdit1->document(), RichEdit1->font(), p);
}

void TForm2::N45Click()
{
    if (printer_setup_dialog)
        printer_setup_dialog(printer());
}

} // namespace yunshan
