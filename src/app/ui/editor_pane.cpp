#include "app/ui/editor_pane.h"

#include "app/ui/command_helpers.h"
#include "app/ui/headings_delegate.h"
#include "catalogue/note_list.h"
#include "editor/editor_tools.h"
#include "editor/find.h"
#include "editor/fitted_pictures.h"
#include "editor/headings.h"
#include "editor/links.h"
#include "editor/note_loader.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QListWidget>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextTable>
#include <QToolTip>
#include <QVBoxLayout>

#include <algorithm>

namespace yunshan {

EditorPane::EditorPane(const QFont &font, QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("EditorPane"));
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    editor_ = new QTextEdit(this);
    fit_pictures_to_text_width(*editor_->document());
    editor_->setObjectName(QStringLiteral("RichEdit1"));
    editor_->setAccessibleName(QStringLiteral("笔记内容"));
    editor_->setAcceptRichText(true);
    editor_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    editor_->setFont(font);
    column->addWidget(editor_);
    setFocusProxy(editor_);

    headings_ = new QListWidget(this);
    headings_->hide(); // until the window places it
    headings_->setObjectName(QStringLiteral("ListBox4"));
    headings_->setAccessibleName(QStringLiteral("小标题列表"));
    headings_->setFont(font);
    headings_->setUniformItemSizes(true);
    headings_->setSelectionMode(QAbstractItemView::SingleSelection);
    headings_->setMouseTracking(true);
    headings_->setItemDelegate(new HeadingsDelegate(*this, headings_));

    connect(editor_, &QTextEdit::textChanged, this, &EditorPane::bodyChanged);
    connect(editor_, &QTextEdit::selectionChanged, this,
            [this] { Q_EMIT selectionLengthChanged(selection_length_text(editor_->textCursor())); });
    connect(headings_, &QListWidget::itemClicked, this, &EditorPane::headingClicked);
    connect(headings_, &QListWidget::itemActivated, this, &EditorPane::headingClicked);
    editor_->viewport()->installEventFilter(this);
    headings_->viewport()->installEventFilter(this);
}

EditorPane::~EditorPane() = default;

bool EditorPane::find_next(const QString &text)
{
    QTextCursor cursor = editor_->textCursor();
    if (!find_next_in(*editor_->document(), cursor, text))
        return false;
    editor_->setFocus();
    editor_->setTextCursor(cursor);
    return true;
}

bool EditorPane::toggle_bold()
{
    QTextCursor c = editor_->textCursor();
    return yunshan::toggle_bold(c);
}

bool EditorPane::toggle_red()
{
    QTextCursor c = editor_->textCursor();
    return yunshan::toggle_red(c);
}

// ---------------------------------------------------------------------------------------------
// Headings

void EditorPane::fill_headings()
{
    BusyCursor busy;
    headings_->clear();
    headings_->addItems(heading_lines(*editor_->document()));
}

void EditorPane::clear_headings()
{
    headings_->clear();
}

bool EditorPane::headings_filled() const
{
    return headings_->count() > 0;
}

bool EditorPane::jump_to_selected_heading()
{
    const QListWidgetItem *item = headings_->currentItem();
    if (!item || !item->isSelected())
        return true;
    const QString key = heading_search_key(item->text());
    QTextCursor c(editor_->document());
    c.setPosition(0);
    if (find_forward(*editor_->document(), c, key, FindOptions{})) {
        editor_->setFocus();
        editor_->setTextCursor(c);
        return true;
    }
    c.setPosition(0);
    editor_->setTextCursor(c);
    return false;
}

void EditorPane::track_heading_hint(const QPoint &pos, int &hint_row)
{
    const QListWidgetItem *item = headings_->itemAt(pos);
    const int row = item ? headings_->row(item) : -1;
    heading_hint_row_ = row;
    if (row < 0) {
        heading_hint_.clear();
        QToolTip::hideText();
        return;
    }
    if (row == hint_row)
        return;
    hint_row = row;
    heading_hint_.clear();
    const QFontMetrics fm(headings_->font());
    if (fm.horizontalAdvance(entry_hint_measure_text(row, item->text())) > headings_->width())
        heading_hint_ = item->text();
    else
        QToolTip::hideText();
}

void EditorPane::set_list_metrics(int font_height, int item_height)
{
    list_font_height_ = font_height;
    list_item_height_ = item_height;
    headings_->doItemsLayout();
}

void EditorPane::set_match(const QString &text)
{
    if (text == match_)
        return;
    match_ = text;
    headings_->viewport()->update();
}

// ---------------------------------------------------------------------------------------------
// Mouse presses and clicks in the editor, the link look of what it is about to draw; mouse moves
// over the headings list.

bool EditorPane::eventFilter(QObject *watched, QEvent *e)
{
    if (watched == editor_->viewport()) {
        if (e->type() == QEvent::Paint) {
            show_links_in(static_cast<QPaintEvent *>(e)->rect());
        } else if (e->type() == QEvent::MouseButtonPress) {
            press_ = static_cast<QMouseEvent *>(e)->position().toPoint();
            Q_EMIT caretPressed(caret_position_text(editor_->cursorForPosition(press_)));
        } else if (e->type() == QEvent::MouseButtonRelease) {
            const auto *m = static_cast<QMouseEvent *>(e);
            const QPoint at = m->position().toPoint();
            // A click, not the end of a drag that selected text.
            if (m->button() == Qt::LeftButton && (at - press_).manhattanLength() < QApplication::startDragDistance() &&
                !editor_->textCursor().hasSelection()) {
                const QString link = link_under(at);
                if (!link.isEmpty())
                    Q_EMIT linkClicked(link);
            }
        }
    } else if (watched == headings_->viewport()) {
        if (e->type() == QEvent::MouseMove)
            Q_EMIT headingsPointerMoved(static_cast<QMouseEvent *>(e)->position().toPoint());
        else if (e->type() == QEvent::Leave)
            Q_EMIT headingsPointerMoved(QPoint(-1, -1));
    }
    return QWidget::eventFilter(watched, e);
}

// Only blocks on the screen are looked at: an opened note is neither scanned nor laid out whole
// for it.
void EditorPane::show_links_in(const QRect &area) const
{
    QTextDocument *doc = editor_->document();
    QAbstractTextDocumentLayout *layout = doc->documentLayout();
    const qreal scrolled = editor_->verticalScrollBar()->value();
    const qreal margin = doc->documentMargin();
    // The first line at the area's top (a point in the margin could hit any block).
    const qreal top = std::max<qreal>(area.top() + scrolled, margin + 1);
    const qreal bottom = area.bottom() + scrolled;
    const int at = layout->hitTest(QPointF(margin + 1, top), Qt::FuzzyHit);
    if (at < 0)
        return;
    // Down to the first block below the area outside any table: the cells of a table row come
    // one after another, each from the row's top.
    QTextBlock last = doc->findBlock(at);
    for (QTextBlock b = last.next(); b.isValid(); b = b.next()) {
        last = b;
        if (layout->blockBoundingRect(b).top() > bottom && !QTextCursor(b).currentTable())
            break;
    }
    LinkLook::of(*doc).show_blocks(doc->findBlock(at), last);
}

QString EditorPane::link_under(const QPoint &at) const
{
    const QString anchor = editor_->anchorAt(at);
    if (!anchor.isEmpty())
        return anchor;
    const QPoint in_doc = at + QPoint(editor_->horizontalScrollBar()->value(), editor_->verticalScrollBar()->value());
    const int pos = editor_->document()->documentLayout()->hitTest(in_doc, Qt::ExactHit);
    if (pos < 0)
        return {};
    const QTextBlock block = editor_->document()->findBlock(pos);
    return link_at(block.text(), pos - block.position());
}

} // namespace yunshan
