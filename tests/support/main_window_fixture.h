#pragma once
// The main window on the folders of one program run: scripted dialogs, a settings file naming a
// main and a backup folder, and the window created as the program creates it at start-up, so
// that it connects (creating the databases when the folders are empty).
#include "app/ui/main_commands.h"
#include "app/ui/tform2.h"
#include "store/connection.h"
#include "support/note_list_entries.h"
#include "support/program_folders.h"
#include "support/scripted_dialogs.h"

#include <gtest/gtest.h>

#include <QListWidget>
#include <QString>
#include <QStringList>

#include <memory>

namespace yunshan::test {

class MainWindowFixture : public ::testing::Test, protected ProgramFolders {
  protected:
    // Every queued prompt must have been shown; then the window goes.
    void TearDown() override;

    // Constructs the window alone: nothing connected, nothing shown.
    void build_window();
    // Creates the window as the program does at start-up, closing the previous one first when
    // `destroy_first` (as the program does on its way out).
    void start(bool destroy_first = false);
    // start(), and both databases must be connected.
    void start_connected();
    // Shows the window and waits until it is on the screen.
    void show_window();
    // Writes test data into both databases, so that they stay mirrors.
    void exec(const QString &sql, const SqlParams &params = {});
    // The test data need not survive a power cut.
    void write_without_sync();

    // The window's widget named `name` (a test failure when there is none).
    template <class W> W *widget(const char *name) const
    {
        W *w = form->findChild<W *>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    static QStringList texts(const QListWidget *list);
    // The entries of the note list.
    QStringList entries() const { return note_texts(*form); }
    // Clicks entry `row` of the note list as the user does.
    void click_entry(int row);
    // Fills the minor category list with 甲类 and 乙类, marks `caption` and lists its notes.
    void show_section(const QString &caption);

    ScriptedDialogs dialogs;
    std::unique_ptr<TForm2> form;
};

} // namespace yunshan::test
