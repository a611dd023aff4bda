// The window's commands on a bare main window: every command is found by its id alone, binding
// reaches menu items and buttons, and read-only mode's list holds what writes and nothing else.
#include "app/ui/main_commands.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QSet>
#include <QToolBar>
#include <QToolButton>

namespace yunshan {
namespace {

class MainCommandsTest : public ::testing::Test {
  protected:
    QMainWindow window;
    MainCommands *commands = new MainCommands(window);
    QList<QToolButton *> editing = commands->make_editing_buttons(&window);
};

TEST_F(MainCommandsTest, EveryCommandIdNamesOneObject)
{
    // findChild by id must never have two candidates: a test or the driver would reach the wrong one.
    QSet<QString> seen;
    QStringList repeated;
    const QList<QObject *> all = window.findChildren<QObject *>();
    for (const QObject *o : all) {
        if (!qobject_cast<const QAction *>(o) && !qobject_cast<const QToolButton *>(o) &&
            !qobject_cast<const QMenu *>(o))
            continue;
        if (o->objectName().isEmpty() || o->objectName().startsWith(QLatin1String("qt_")))
            continue;
        if (seen.contains(o->objectName()))
            repeated << o->objectName();
        seen.insert(o->objectName());
    }
    EXPECT_TRUE(repeated.isEmpty()) << repeated.join(QLatin1Char(' ')).toStdString();
    for (const char *id : {"N2", "N94", "MenuNewNote", "Popup1Undo", "Popup2ShowFavourites"})
        EXPECT_EQ(window.findChild<QAction *>(QLatin1String(id)), commands->action(id)) << id;
    for (const char *id : {"ToolButton1", "ToolButton18", "Button3", "SpeedButtonNew", "Label3"})
        EXPECT_EQ(window.findChild<QToolButton *>(QLatin1String(id)), commands->button(id)) << id;
    EXPECT_EQ(window.findChild<QLineEdit *>(QStringLiteral("Edit1")), commands->search_box());
    EXPECT_EQ(window.findChild<QToolBar *>(QStringLiteral("ToolBar1")), commands->tool_bar());
}

TEST_F(MainCommandsTest, BindingRunsTheHandlerOfThatIdOnly)
{
    QStringList ran;
    commands->bind("N41", &window, [&ran] { ran << QStringLiteral("N41"); });
    commands->bind("ToolButton7", &window, [&ran] { ran << QStringLiteral("ToolButton7"); });
    commands->action("Popup2EncryptTitle")->trigger(); // the same text and picture, not bound here
    commands->action("N41")->trigger();
    commands->button("ToolButton7")->click();
    commands->button("ToolButton6")->click();
    EXPECT_EQ(ran, (QStringList{QStringLiteral("N41"), QStringLiteral("ToolButton7")}));
}

TEST_F(MainCommandsTest, ReadOnlyListHoldsTheWritingButtonsButNotTheSearch)
{
    QStringList ids;
    for (const QWidget *w : commands->writing_buttons())
        ids << w->objectName();
    EXPECT_EQ(ids.size(), 15 + editing.size());
    for (const char *id : {"ToolButton1", "ToolButtonSave", "ToolButton18", "SpeedButton2", "Label3"})
        EXPECT_TRUE(ids.contains(QLatin1String(id))) << id;
    for (const char *id : {"Button1", "Button2", "Button3", "Edit1"})
        EXPECT_FALSE(ids.contains(QLatin1String(id))) << id;
}

} // namespace
} // namespace yunshan
