#pragma once
// The category lists of the main window: the group "大类" with the major categories (ListBox1)
// and the group "小类" with the minor categories (ListBox2). It knows nothing of the store or the
// selection the window keeps: the window fills the lists from captions, reads and marks their
// rows, and answers the click signals.
//
// The two groups are two panes of the window's splitter, each with its own width and handle, so
// the pane is no widget of its own: it places both groups in the `host` it is given (a splitter
// takes them as its first two panes) and lives as long as that host.
#include <QObject>
#include <QStringList>

#include <optional>

class QFont;
class QGroupBox;
class QListWidget;
class QWidget;

namespace yunshan {

class CataloguePane : public QObject {
    Q_OBJECT

  public:
    // Makes both groups as children of `host`, their lists in `list_font`.
    CataloguePane(QWidget *host, const QFont &list_font);
    ~CataloguePane() override;

    // Rows of a fixed height from the height of "测试" in the list font: 1.5 times that height,
    // the text a quarter of it below the row's top.
    void set_item_heights(int font_height);
    int item_height() const { return item_height_; }

    // Refills a list within one update; nothing is selected afterwards.
    void fill_major(const QStringList &captions);
    void fill_minor(const QStringList &captions);
    // One more entry at the end.
    void add_major(const QString &caption);
    void add_minor(const QString &caption);
    // Takes an entry away; nothing is selected afterwards.
    void remove_major(int row);
    void remove_minor(int row);
    // Gives an entry another caption.
    void set_major_caption(int row, const QString &caption);
    void set_minor_caption(int row, const QString &caption);
    // Empties both lists, or the minor one.
    void clear();
    void clear_minor();

    // The selected row, -1 when none is selected.
    int major_row() const;
    int minor_row() const;
    // The caption of the selected entry, none when none is selected.
    std::optional<QString> major_caption() const;
    std::optional<QString> minor_caption() const;
    // Every caption, top to bottom, and their number.
    QStringList major_captions() const;
    QStringList minor_captions() const;
    int major_count() const;
    int minor_count() const;
    // Marks row `row` as selected (-1: none) without a click signal.
    void select_major(int row);
    void select_minor(int row);

    // The widgets themselves, for views and tests that need them.
    QGroupBox *major_group() const { return GroupBox1; }
    QGroupBox *minor_group() const { return GroupBox2; }
    QListWidget *major_list() const { return ListBox1; }
    QListWidget *minor_list() const { return ListBox2; }

  Q_SIGNALS:
    // An entry was clicked, or the keyboard moved the current entry (its row, -1 when the move
    // left none selected).
    void majorClicked(int row);
    void minorClicked(int row);

  private:
    QGroupBox *GroupBox1 = nullptr;  // 大类
    QGroupBox *GroupBox2 = nullptr;  // 小类
    QListWidget *ListBox1 = nullptr; // major categories
    QListWidget *ListBox2 = nullptr; // minor categories
    int item_height_ = 0;
};

} // namespace yunshan
