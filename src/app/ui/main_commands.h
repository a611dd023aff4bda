#pragma once
// The main window's commands: the four menus of the menu bar, the context menus of the editor
// (PopupMenu1) and of the note list (PopupMenu2), the tool bar with the search box and its
// buttons, and the buttons of the editing group. Every command widget is found by its id, its
// objectName ("N94", "ToolButton6", "SpeedButton2"); the window binds a handler to an id.
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <initializer_list>

class QAction;
class QLineEdit;
class QMainWindow;
class QMenu;
class QToolBar;
class QToolButton;
class QWidget;

namespace yunshan {

class MainCommands : public QObject {
    Q_OBJECT

  public:
    // Builds the menus into `window`'s menu bar, the context menus and the tool bar.
    explicit MainCommands(QMainWindow &window);

    // The buttons of the editing group (新建 … 默认), made as children of `parent`, in the order
    // they stand; "另存" (SpeedButton3) is hidden.
    QList<QToolButton *> make_editing_buttons(QWidget *parent);

    // The command of that id; a missing one is a programming error (asserted).
    QAction *action(const char *id) const;
    QToolButton *button(const char *id) const;
    QMenu *menu(const char *id) const;
    QToolBar *tool_bar() const { return tool_bar_; }
    QLineEdit *search_box() const { return search_box_; }

    // Runs `handler` of `receiver` when the command `id` is chosen (a menu item triggered or a
    // button clicked). Several ids may share a handler.
    template <class R> void bind(const char *id, R *receiver, void (R::*handler)())
    {
        bind(id, receiver, std::function<void()>([receiver, handler] { (receiver->*handler)(); }));
    }
    void bind(const char *id, QObject *receiver, std::function<void()> run);

    // The tool-bar and editing-group buttons of commands that change notes or categories: read-only
    // mode disables them for good. The search buttons are not among them.
    QList<QWidget *> writing_buttons() const;

  Q_SIGNALS:
    // The hint of the menu item under the mouse.
    void hintShown(const QString &hint);

  private:
    struct MenuItem;
    struct CommandButton;
    QMenu *add_menu(QMenu *menu, const char *id, std::initializer_list<MenuItem> items);
    QToolButton *add_button(QWidget *parent, const CommandButton &entry);
    void build_tool_bar(QMainWindow &window);

    QMainWindow &window_;
    QHash<QString, QAction *> actions_;
    QHash<QString, QToolButton *> buttons_;
    QHash<QString, QMenu *> menus_;
    QList<QWidget *> writing_buttons_;
    QToolBar *tool_bar_ = nullptr;
    QLineEdit *search_box_ = nullptr;
};

} // namespace yunshan
