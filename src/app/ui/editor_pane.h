#pragma once
// The note editor (RichEdit1) with what works on the body alone: find next, the headings list
// (ListBox4) and the jump to a heading, the link look and link clicks, the status counters and
// bold and red. It knows nothing of the store, the open note or dialogs: it reports through its
// signals and return values, and the window answers them.
//
// The headings list is shown in the note-list group's second tab, not in this pane: the pane
// creates, fills and draws it, and the window places it (headings_list()) in that tab's layout.
#include <QWidget>

class QFont;
class QListWidget;
class QTextEdit;

namespace yunshan {

class EditorPane : public QWidget {
    Q_OBJECT

  public:
    // The editor and the headings list in `font`.
    explicit EditorPane(const QFont &font, QWidget *parent = nullptr);
    ~EditorPane() override;

    QTextEdit *editor() const { return editor_; }
    QListWidget *headings_list() const { return headings_; }

    // Find next of `text` from the caret (or the end of the selection) to the end of the body,
    // ignoring letter case: the match is selected and the editor takes the focus. False when
    // there is no further match (nothing moves then).
    bool find_next(const QString &text);

    // Bold and red for the selection; true when the format changed.
    bool toggle_bold();
    bool toggle_red();

    // The headings list: filled from the body, emptied; `headings_filled` tells whether it holds
    // any entry.
    void fill_headings();
    void clear_headings();
    bool headings_filled() const;
    // Jumps to the selected heading's line: the caret goes there and the editor takes the focus.
    // False when the heading is not in the body (the caret goes to the top then); true also when
    // no heading is selected (nothing happens then).
    bool jump_to_selected_heading();
    // The hint of a heading too wide for the list, for the entry under `pos` in the list's
    // viewport ((-1, -1): the pointer left). `hint_row` is the armed row of the list hints,
    // kept by the caller; a row already armed keeps its hint.
    void track_heading_hint(const QPoint &pos, int &hint_row);
    QString heading_hint() const { return heading_hint_; }
    // The row the hint belongs to, as of the last pointer move over the list (-1: none).
    int heading_hint_row() const { return heading_hint_row_; }

    // The headings list's drawing: `font_height` is the height of "测试" in the list font,
    // `item_height` the entry height (0: the style's).
    void set_list_metrics(int font_height, int item_height);
    int list_font_height() const { return list_font_height_; }
    int list_item_height() const { return list_item_height_; }
    // The text a heading holding it is drawn in red for (letter case counts; empty: none).
    void set_match(const QString &text);
    QString match() const { return match_; }

  Q_SIGNALS:
    // The body changed: typing, or the program setting a document or text.
    void bodyChanged();
    // A press in the editor: the caret's line and column text ("行:… 列:…").
    void caretPressed(const QString &position_text);
    // The selection changed: its length text.
    void selectionLengthChanged(const QString &length_text);
    // A click (no drag, nothing selected) on a link or web address in the body.
    void linkClicked(const QString &link);
    // A click or Enter on a heading entry.
    void headingClicked();
    // The pointer moved over the headings list ((-1, -1) when it left).
    void headingsPointerMoved(const QPoint &pos);

  protected:
    bool eventFilter(QObject *watched, QEvent *e) override;

  private:
    // The blocks in `area` of the editor's viewport get their link look before they are drawn.
    void show_links_in(const QRect &area) const;
    // The link (anchor or web address) under a point of the editor's viewport.
    QString link_under(const QPoint &at) const;

    QTextEdit *editor_ = nullptr;
    QListWidget *headings_ = nullptr;
    QString heading_hint_;
    int heading_hint_row_ = -1;
    int list_font_height_ = 0;
    int list_item_height_ = 0;
    QString match_;
    QPoint press_;
};

} // namespace yunshan
