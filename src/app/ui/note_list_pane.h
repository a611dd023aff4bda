#pragma once
// The note-list group of the main window (GroupBox3): the page control PageControl1 with the tab
// "笔记列表" (TabSheet1: the note list ListBox3 over a NoteListModel and the buttons "上一页",
// "下一页", "常用") and the tab "小标题" (TabSheet2), which shows the headings widget it is given.
// It knows nothing of the store or the open note: the window fills the model, answers the
// signals and arms the hint of a too-wide entry.
#include <QGroupBox>
#include <QString>

class QFont;
class QIcon;
class QListView;
class QTabWidget;
class QToolButton;

namespace yunshan {

class NoteListModel;
class NoteListDelegate;

class NoteListPane : public QGroupBox {
    Q_OBJECT

  public:
    NoteListPane(const QFont &list_font, QWidget *parent = nullptr);
    ~NoteListPane() override;

    // The entries shown; the pane does not own the model.
    void set_model(NoteListModel *model);
    NoteListModel *model() const { return model_; }
    // The headings widget, shown as the only content of TabSheet2.
    void set_headings_page(QWidget *headings);

    // The current entry's row, -1 for none.
    int current_row() const;
    // The row of the current entry when it is also selected, else -1.
    int selected_row() const;
    // Makes `row` current and selected (-1: none) without a noteActivated signal.
    void set_current_row(int row);

    // Drawing: `font_height` is the height of "测试" in the list font, `item_height` the entry
    // height. Every entry is `scroll_width` wide (0: as wide as its text), the list's horizontal
    // scroll range.
    void set_metrics(int font_height, int item_height);
    int font_height() const { return font_height_; }
    int item_height() const { return item_height_; }
    void set_scroll_width(int width);
    int scroll_width() const { return scroll_width_; }
    // The hint shown for entry `row` when the pointer rests on it (-1 or an empty text: none).
    void arm_hint(int row, const QString &hint);
    int hint_row() const { return hint_row_; }
    QString hint() const { return hint_; }

    // The tabs: 0 "笔记列表", 1 "小标题".
    void show_tab(int index);
    int current_tab() const;
    void set_headings_icon(const QIcon &icon);

    QListView *note_list_view() const { return ListBox3; }
    QTabWidget *tabs() const { return PageControl1; }
    QWidget *notes_page() const { return TabSheet1; }
    QWidget *headings_page() const { return TabSheet2; }

  Q_SIGNALS:
    // The user made entry `row` current and selected (click, keys).
    void noteActivated(int row);
    // The pointer moved over the list (`pos` in the viewport) or left it.
    void mouseMoved(const QPoint &pos);
    void mouseLeft();
    // The context menu was asked for at `global_pos`.
    void contextMenuRequested(const QPoint &global_pos);
    // The buttons under the list.
    void previousPageClicked();
    void nextPageClicked();
    void favouritesClicked();
    // The tab "小标题" became current.
    void headingsShown();
    // The status-bar hint of the tab under the pointer (empty: none).
    void tabHint(const QString &hint);

  protected:
    bool eventFilter(QObject *watched, QEvent *e) override;

  private:
    void selection_changed();

    QTabWidget *PageControl1 = nullptr;
    QWidget *TabSheet1 = nullptr;
    QWidget *TabSheet2 = nullptr;
    QListView *ListBox3 = nullptr;
    QToolButton *Button6 = nullptr;          // 上一页
    QToolButton *Button7 = nullptr;          // 下一页
    QToolButton *ButtonFavourites = nullptr; // 常用
    NoteListModel *model_ = nullptr;
    NoteListDelegate *delegate_ = nullptr;
    int quiet_ = 0; // > 0 while the pane itself changes the selection
    int font_height_ = 0;
    int item_height_ = 0;
    int scroll_width_ = 0;
    int hint_row_ = -1;
    QString hint_;
};

} // namespace yunshan
