#include "app/ui/application_setup.h"
#include "app/ui/catalogue_pane.h"
#include "app/ui/editor_pane.h"
#include "app/ui/move_panel.h"
#include "app/ui/progress_panel.h"
#include "app/ui/tform2.h"
#include "app/ui/update_notice.h"
#include "support/main_window_fixture.h"
#include "support/note_list_entries.h"
#include "support/url_catcher.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QEnterEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMetaMethod>
#include <QMimeData>
#include <QPrinter>
#include <QSignalSpy>
#include <QSplitter>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTextCursor>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QWindow>

#include <map>
#include <set>

namespace yunshan {
namespace {

using test::ScriptedDialogs;
using test::UrlCatcher;

class MainWindowTest : public test::MainWindowFixture {
  protected:
    void SetUp() override
    {
        build_window();
        show_window();
    }

    // Everything a command could change besides what it is meant to change.
    QStringList snapshot() const
    {
        QStringList s{form->windowTitle(),
                      QString::number(form->isVisible()),
                      QString::number(form->move_panel()->isVisible()),
                      QString::number(form->progress_panel()->isVisible()),
                      QString::number(form->note.noteId),
                      QString::number(int(form->note.is_rtf)),
                      QString::number(form->crypt.is_crypt),
                      QString::number(int(form->updates().run)),
                      QString::number(form->save_enabled())};
        for (int i = 0; i < 6; ++i)
            s << form->panel(i);
        return s;
    }
};

TEST_F(MainWindowTest, WindowLayoutAtStart)
{
    EXPECT_EQ(form->windowTitle(), QStringLiteral("云杉札记1.5.4"));
    // Client area: tool bar, panes and status bar, below the menu bar.
    EXPECT_EQ(form->width(), 1117);
    EXPECT_EQ(form->height() - form->menuBar()->height(), 731);
    EXPECT_EQ(form->commands().tool_bar()->height(), 36);
    EXPECT_EQ(form->statusBar()->height(), 19);
    EXPECT_EQ(form->commands().tool_bar()->height() + form->centralWidget()->height() + form->statusBar()->height(),
              731);

    EXPECT_EQ(form->pane_widths(), (PaneWidths{100, 102, 195, 490, 218}));
    EXPECT_EQ(form->g4width, 490);
    EXPECT_EQ(form->findChild<QSplitter *>(QStringLiteral("Splitter"))->handleWidth(), 3);
    EXPECT_EQ(form->catalogue_pane()->major_group()->title(), QStringLiteral("大类"));
    EXPECT_EQ(form->catalogue_pane()->minor_group()->title(), QStringLiteral("小类"));
    // The category groups are the splitter's first two panes, found by their names.
    EXPECT_EQ(form->findChild<QSplitter *>(QStringLiteral("Splitter"))->widget(0),
              form->findChild<QGroupBox *>(QStringLiteral("GroupBox1")));
    EXPECT_EQ(form->findChild<QSplitter *>(QStringLiteral("Splitter"))->widget(1),
              form->findChild<QGroupBox *>(QStringLiteral("GroupBox2")));
    EXPECT_EQ(form->findChild<QGroupBox *>(QStringLiteral("GroupBox4"))->title(), QStringLiteral("内容"));
    EXPECT_EQ(form->findChild<QGroupBox *>(QStringLiteral("GroupBox5"))->title(), QStringLiteral("图片"));
    EXPECT_EQ(form->findChild<QGroupBox *>(QStringLiteral("GroupBox6"))->height(), 96);
    EXPECT_EQ(form->findChild<QGroupBox *>(QStringLiteral("GroupBox7"))->height(), 56);
    EXPECT_EQ(form->search_box()->width(), 108);
    EXPECT_EQ(form->editor_pane()->editor()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_TRUE(form->editor_pane()->editor()->acceptRichText());

    for (QWidget *w :
         std::initializer_list<QWidget *>{form->catalogue_pane()->major_list(), form->catalogue_pane()->minor_list(),
                                          test::note_list(*form), form->editor_pane()->headings_list(),
                                          form->title_field(), form->tag_field(), form->editor_pane()->editor()}) {
        EXPECT_EQ(w->font().family(), ui_font_family()) << w->objectName().toStdString();
        EXPECT_EQ(w->font().pixelSize(), 16) << w->objectName().toStdString();
    }

    // Tool bar order, 59 pixels per button.
    QStringList captions;
    for (QToolButton *b : form->commands().tool_bar()->findChildren<QToolButton *>(Qt::FindDirectChildrenOnly))
        if (!b->objectName().startsWith(QStringLiteral("qt_")) && b->toolButtonStyle() == Qt::ToolButtonTextUnderIcon) {
            captions << b->text();
            EXPECT_EQ(b->width(), 59) << b->text().toStdString();
        }
    EXPECT_EQ(captions.join(u','),
              QStringLiteral("新建大类,删除大类,新建小类,删除小类,新建笔记,保存笔记,添加图片,删除图片,"
                             "删除笔记,置顶,取消置顶,上移,下移,重命名,备份"));

    // Status bar.
    const int widths[] = {82, 82, 82, 82, 82, 200};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(form->findChild<QLabel *>(QStringLiteral("StatusPanel%1").arg(i))->width(), widths[i])
            << "panel " << i;
    EXPECT_GE(form->findChild<QLabel *>(QStringLiteral("StatusPanel%1").arg(6))->width(), 50);
    EXPECT_EQ(form->panel(0), QStringLiteral("等待"));

    // Save commands disabled; hidden items hidden.
    EXPECT_FALSE(form->commands().button("ToolButtonSave")->isEnabled());
    EXPECT_FALSE(form->commands().button("SpeedButton2")->isEnabled());
    EXPECT_FALSE(form->commands().button("SpeedButton3")->isVisible());
    EXPECT_FALSE(form->commands().action("N29")->isVisible());
    EXPECT_FALSE(form->commands().action("N30")->isVisible());
    EXPECT_FALSE(form->commands().action("N31")->isVisible());
    EXPECT_FALSE(form->move_panel()->isVisible());
    EXPECT_FALSE(form->progress_panel()->isVisible());
    EXPECT_EQ(form->move_panel()->size(), QSize(249, 169));
    EXPECT_EQ(form->progress_panel()->size(), QSize(374, 105));
    // Client coordinates: measured from below the menu bar.
    const int menu = form->menuBar()->height();
    EXPECT_EQ(form->move_panel()->mapTo(form.get(), QPoint(0, 0)), QPoint(345, 264 + menu));
    EXPECT_EQ(form->progress_panel()->mapTo(form.get(), QPoint(0, 0)), QPoint(291, 231 + menu));
}

TEST_F(MainWindowTest, MenusHoldTheirItemsInOrder)
{
    auto items = [](QMenu *m) {
        QStringList out;
        for (QAction *a : m->actions())
            out << (a->isSeparator() ? QStringLiteral("-") : a->text());
        return out.join(u',');
    };
    EXPECT_EQ(
        items(form->commands().menu("MenuFile")),
        QStringLiteral("导入数据,导出为文本…,导出为数据库…,-,立即从网盘同步…,立即备份到网盘…,将备份文件转为正式…,-,"
                       "设置登陆密码…,取消登陆密码…,-,加密当前笔记(含标题),加密当前笔记(仅内容),取消当前笔记加密…,-,"
                       "新建笔记,保存笔记,另存为……,-,打印设置…,打印…,-,当前笔记设为常用,当前笔记取消常用标记,"
                       "列出全部常用笔记,-,列出全部加密笔记,-,退出(强制备份),-,退出(不备份)"));
    EXPECT_EQ(items(form->commands().menu("MenuEdit")),
              QStringLiteral("查找…,查找下一个,-,复制,粘贴,-,粘贴图片,添加图片,-,移动当前笔记到…,剪切当前小类到…,"
                             "合并当前小类到…,合并当前大类到…,-,字体加粗,字体标红"));
    EXPECT_EQ(items(form->commands().menu("MenuSettings")), QStringLiteral("数据库路径,备份设置,webDAV同步设置"));
    EXPECT_EQ(items(form->commands().menu("MenuHelp")), QStringLiteral("帮助,关于,意见建议,-,检查更新"));
    EXPECT_EQ(items(form->commands().menu("PopupMenu1")),
              QStringLiteral("当前笔记内查找,-,撤销,-,剪切,复制,粘贴文本,-,删除,全选,-,编辑器默认字体,-,"
                             "加密此笔记(含标题),加密此笔记(仅内容),取消加密,-,打印,-,另存为……"));
    EXPECT_EQ(items(form->commands().menu("PopupMenu2")),
              QStringLiteral("新建笔记,保存笔记,-,删除笔记,-,加密笔记(含标题),加密笔记(仅内容),取消加密,-,打印笔记,-,"
                             "移动当前笔记到…,-,添加到常用列表,取消常用列表标记,显示常用列表"));

    const std::map<QAction *, QKeySequence> keys{
        {form->commands().action("MenuNewNote"), QKeySequence(QStringLiteral("Ctrl+N"))},
        {form->commands().action("N65"), QKeySequence(QStringLiteral("Ctrl+S"))},
        {form->commands().action("N75"), QKeySequence(QStringLiteral("Ctrl+H"))},
        {form->commands().action("MenuFindNext"), QKeySequence(QStringLiteral("F3"))},
        {form->commands().action("MenuCopy"), QKeySequence(QStringLiteral("Ctrl+C"))},
        {form->commands().action("MenuPaste"), QKeySequence(QStringLiteral("Ctrl+V"))},
        {form->commands().action("MenuBold"), QKeySequence(QStringLiteral("Ctrl+B"))},
        {form->commands().action("MenuRed"), QKeySequence(QStringLiteral("Ctrl+R"))},
        {form->commands().action("N36"), QKeySequence(QStringLiteral("Ctrl+F"))},
        {form->commands().action("Popup1Undo"), QKeySequence(QStringLiteral("Ctrl+Z"))},
        {form->commands().action("Popup1Cut"), QKeySequence(QStringLiteral("Ctrl+X"))},
        {form->commands().action("Popup1Delete"), QKeySequence(QStringLiteral("Del"))},
        {form->commands().action("Popup1SelectAll"), QKeySequence(QStringLiteral("Ctrl+A"))},
        {form->commands().action("Popup1Print"), QKeySequence(QStringLiteral("Ctrl+P"))},
    };
    for (const auto &[action, key] : keys)
        EXPECT_EQ(action->shortcut(), key) << action->text().toStdString();
}

// Every action and button, what it does before the later work arrives.
enum class Does {
    Unfinished,
    Message,
    MessageAndSettings,
    Question,
    Settings,
    UpdateCheck,
    OpenHelp,
    HideMovePanel,
    Nothing,
    AsksForFile,
    AsksForFont,
    Question3,
    AsksForSaveFile
};

struct Command {
    const char *name;
    Does does;
    QString text = {}; // message text, for Does::Message
};

std::vector<Command> command_table()
{
    std::vector<Command> t;
    for (const char *n : {"N2", "N3", "N29", "N30", "N31"})
        t.push_back({n, Does::Unfinished});
    // Find and the editor's tools with an empty search box, no selected note or category, the
    // print dialogs cancelled and the font dialog cancelled.
    for (const char *n : {"MenuFindNext", "Button3", "Button2"})
        t.push_back({n, Does::Message, QStringLiteral("请先输入要查找的内容")});
    for (const char *n : {"N71", "Popup2Move"})
        t.push_back({n, Does::Message, QStringLiteral("请先选中一个要移动的笔记。")});
    t.push_back({"Button4", Does::Message, QStringLiteral("请先选中一个目的小类。")});
    for (const char *n : {"N44", "N45", "Popup1Print", "Popup2Print", "SpeedButton12", "N36"})
        t.push_back({n, Does::Nothing});
    for (const char *n : {"Popup1DefaultFont", "Label3", "SpeedButton10"})
        t.push_back({n, Does::AsksForFont});
    t.push_back({"N91", Does::Question,
                 QStringLiteral("将会从网盘下载数据库并替换当前的数据库（替换时会自动备份），是否从网盘同步？")});
    t.push_back({"N92", Does::Message,
                 QStringLiteral("webDAV协议所需的网址或者用户名或者密码都需要完整，不然无法连接网盘，请先设置。")});
    // Note commands with no note open (the save commands enabled, as if a body had been typed).
    for (const char *n : {"N65", "Popup2Save", "ToolButtonSave", "SpeedButton2"})
        t.push_back({n, Does::Message, QStringLiteral("请先新建笔记。")});
    for (const char *n : {"MenuNewNote", "Popup2New", "ToolButton6", "SpeedButtonNew"})
        t.push_back({n, Does::Question3, QStringLiteral("笔记没保存，是否保存或者取消当前操作？")});
    for (const char *n : {"Popup2Delete", "ToolButton7"})
        t.push_back({n, Does::Message, QStringLiteral("请先选择一个要删除的笔记。")});
    for (const char *n : {"MenuSaveAs", "Popup1SaveAs", "SpeedButton3"})
        t.push_back({n, Does::AsksForSaveFile});
    t.push_back({"N9", Does::Message, QStringLiteral("请在右上角输入关键字查找")});
    t.push_back({"N23", Does::Message, QStringLiteral("导出前请先选中一个大类。")});
    t.push_back({"N24", Does::Message, QStringLiteral("备份文件夹没有设置，请先设置备份文件夹。")});
    // Note-list commands without a database or a selected entry.
    for (const char *n : {"N73", "Popup2AddFavourite"})
        t.push_back({n, Does::Message, QStringLiteral("请先新建或者打开一个笔记以添加。")});
    for (const char *n : {"N74", "Popup2RemoveFavourite"})
        t.push_back({n, Does::Message, QStringLiteral("请先新建或者打开一个笔记以取消常用标记。")});
    t.push_back({"Button6", Does::Message, QStringLiteral("已经到第一页")});
    // Picture commands with no note open and no picture chosen.
    for (const char *n : {"SpeedButton4", "SpeedButton6", "MenuPastePicture", "MenuAddPicture", "ToolButtonAddPicture"})
        t.push_back({n, Does::Message, QStringLiteral("请先创建笔记。")});
    for (const char *n : {"SpeedButton5", "ToolButtonDeletePicture"})
        t.push_back({n, Does::Message, QStringLiteral("请先鼠标点击来选择一个要删除的图片。")});
    // Encryption with no note open: encrypting asks for a note, removing does nothing.
    for (const char *n :
         {"N41", "N67", "Popup1EncryptTitle", "Popup1EncryptContent", "Popup2EncryptTitle", "Popup2EncryptContent"})
        t.push_back({n, Does::Message, QStringLiteral("请先新建或者打开一个笔记以加密。")});
    for (const char *n : {"N42", "Popup1Decrypt", "Popup2Decrypt"})
        t.push_back({n, Does::Nothing});
    for (const char *n : {"N75", "N81", "Popup2ShowFavourites", "Button1", "Button7", "ButtonFavourites"})
        t.push_back({n, Does::Nothing});
    t.push_back({"N15", Does::Message, QStringLiteral("云杉札记 1.5.4，联系邮箱：yunshan-note@example.org")});
    t.push_back({"N83", Does::Message, QStringLiteral("任何意见建议可以发送邮件到 ") + TForm2::contact_address()});
    // Category commands without a database: nothing selected, nothing acted on yet.
    t.push_back(
        {"ToolButton1", Does::MessageAndSettings, QStringLiteral("数据库没有连接，请先指定一个保存笔记的文件夹。")});
    t.push_back({"ToolButton2", Does::Message, QStringLiteral("请先选择一个要删除的大类。")});
    t.push_back({"ToolButton3", Does::Question, QStringLiteral("建小类前需要先建大类，是否立即创建大类？")});
    t.push_back({"ToolButton4", Does::Message, QStringLiteral("请先选择一个要删除的小类。")});
    for (const char *n : {"ToolButton12", "ToolButton16", "ToolButton13", "ToolButton14", "ToolButton17"})
        t.push_back({n, Does::Nothing});
    for (const char *n : {"N11", "MenuBackupSettings", "MenuWebdavSettings", "N38", "N39"})
        t.push_back({n, Does::Settings});
    t.push_back({"N94", Does::UpdateCheck});
    t.push_back({"N14", Does::OpenHelp});
    t.push_back({"Button5", Does::HideMovePanel});
    // A file dialog, cancelled.
    t.push_back({"SpeedButton11", Does::AsksForFile});
    // Editing commands with no text control focused or nothing selected, and the tab buttons.
    for (const char *n : {"MenuBold", "MenuRed", "SpeedButton8", "SpeedButton9", "MenuCopy", "MenuPaste", "Popup1Undo",
                          "Popup1Cut", "Popup1Copy", "Popup1Paste", "Popup1Delete", "Popup1SelectAll",
                          "ToolButton18"}) // backup with no backup folder and no share: nothing to do
        t.push_back({n, Does::Nothing});
    // The find dialog's own buttons (the dialog exists once "当前笔记内查找" has run).
    for (const char *n : {"MatchCase", "WholeWord", "FindNext", "CancelButton"})
        t.push_back({n, Does::Nothing});
    return t;
}

TEST_F(MainWindowTest, BoldAndRedToggleTheSelectionAndMarkRichText)
{
    form->note.is_rtf = BodyKind::Plain;
    form->set_panel(4, QStringLiteral("TXT"));
    form->editor_pane()->editor()->setPlainText(QStringLiteral("加粗标红"));
    QTextCursor c = form->editor_pane()->editor()->textCursor();
    c.setPosition(0);
    c.setPosition(2, QTextCursor::KeepAnchor);
    form->editor_pane()->editor()->setTextCursor(c);

    form->findChild<QAction *>(QStringLiteral("MenuBold"))->trigger();
    EXPECT_EQ(form->note.is_rtf, BodyKind::Rtf);
    EXPECT_EQ(form->panel(4), QStringLiteral("RTF"));
    QTextCursor probe(form->editor_pane()->editor()->document());
    probe.setPosition(1);
    EXPECT_EQ(probe.charFormat().fontWeight(), QFont::Bold);

    form->commands().button("SpeedButton9")->click();
    probe.setPosition(2);
    EXPECT_EQ(probe.charFormat().foreground().color(), QColor(255, 0, 0));
    form->commands().button("SpeedButton8")->click(); // bold again: off
    EXPECT_NE(probe.charFormat().fontWeight(), QFont::Bold);
    probe.setPosition(3);
    EXPECT_NE(probe.charFormat().foreground().color(), QColor(255, 0, 0)); // outside the selection
}

TEST_F(MainWindowTest, EveryCommandIsWiredToItsHandler)
{
    UrlCatcher catcher;
    QSignalSpy settings_requested(form.get(), &TForm2::settingsRequested);
    QSignalSpy update(form.get(), &TForm2::updateCheckRequested);
    form->set_save_enabled(true); // so the save commands can be clicked
    form->print_dialog = [](QPrinter &) { return false; };
    form->printer_setup_dialog = [](QPrinter &) { return false; };
    form->setFocus();

    const std::vector<Command> table = command_table();
    std::set<QString> listed;
    for (const Command &c : table) {
        const QString name = QString::fromLatin1(c.name);
        SCOPED_TRACE(c.name);
        listed.insert(name);
        auto *action = form->findChild<QAction *>(name);
        auto *button = form->findChild<QAbstractButton *>(name);
        ASSERT_TRUE(action || button) << "no such command";

        if (c.does == Does::HideMovePanel)
            form->move_panel()->show();
        const QStringList before = snapshot();
        const qsizetype settings_before = settings_requested.count();
        const qsizetype update_before = update.count();
        const qsizetype urls_before = catcher.urls.size();
        form->updates().run = UpdateCheckRun::StartUp;
        switch (c.does) {
        case Does::Unfinished:
            dialogs.expect_message(TForm2::unfinished_text());
            break;
        case Does::Message:
        case Does::MessageAndSettings:
            dialogs.expect_message(c.text);
            break;
        case Does::Question:
            dialogs.expect_question(c.text, Dialogs::Answer::No);
            break;
        case Does::AsksForFile:
            dialogs.expect_file(ScriptedDialogs::Kind::OpenFile, QString());
            break;
        case Does::AsksForFont:
            dialogs.expect_font(QFont(), QColor(), Dialogs::Answer::Cancel);
            break;
        case Does::AsksForSaveFile:
            dialogs.expect_file(ScriptedDialogs::Kind::SaveFile, QString());
            break;
        case Does::Question3:
            dialogs.expect_question3(c.text, Dialogs::Answer::Cancel);
            break;
        default:
            break;
        }
        if (action)
            action->trigger();
        else
            button->click();
        dialogs.verify_done();

        EXPECT_EQ(settings_requested.count() - settings_before,
                  c.does == Does::Settings || c.does == Does::MessageAndSettings ? 1 : 0);
        EXPECT_EQ(update.count() - update_before, c.does == Does::UpdateCheck ? 1 : 0);
        EXPECT_EQ(catcher.urls.size() - urls_before, c.does == Does::OpenHelp ? 1 : 0);
        QStringList after = snapshot();
        if (c.does == Does::UpdateCheck) {
            EXPECT_EQ(form->updates().run, UpdateCheckRun::Manual);
            form->updates().run = UpdateCheckRun::StartUp;
            after = snapshot();
        }
        if (c.does == Does::HideMovePanel)
            EXPECT_FALSE(form->move_panel()->isVisible());
        else
            EXPECT_EQ(after, before);
    }
    ASSERT_EQ(catcher.urls.size(), 1);
    EXPECT_EQ(catcher.urls.front(), QUrl(TForm2::help_url()));

    // Nothing of the window is left out of the table (the exit items close the window: tested below).
    listed.insert(QStringLiteral("N85"));
    listed.insert(QStringLiteral("N86"));
    for (QAction *a : form->findChildren<QAction *>(Qt::FindDirectChildrenOnly)) {
        if (a->isSeparator() || a->objectName().isEmpty())
            continue;
        EXPECT_TRUE(listed.count(a->objectName())) << "action not in the table: " << a->objectName().toStdString();
        EXPECT_FALSE(a->text().isEmpty());
    }
    for (QAbstractButton *b : form->findChildren<QAbstractButton *>()) {
        if (b->objectName().isEmpty() || b->objectName().startsWith(QStringLiteral("qt_")) ||
            b->parent() == form->note_list_pane()->tabs()->tabBar()) // the tab bar's own scroll buttons
            continue;
        EXPECT_TRUE(listed.count(b->objectName())) << "button not in the table: " << b->objectName().toStdString();
        QAccessibleInterface *a = QAccessible::queryAccessibleInterface(b);
        EXPECT_FALSE(a->text(QAccessible::Name).isEmpty()) << b->objectName().toStdString();
    }

    // Enter in the search box searches; without a database it lists nothing.
    form->list_encrypted_notes();
    ASSERT_EQ(form->list.search_flag, kEncryptedList);
    QTest::keyClick(form->search_box(), Qt::Key_Return);
    dialogs.verify_done();
    EXPECT_EQ(form->list.search_flag, kSearchList);
}

TEST_F(MainWindowTest, NoteListAndHeadingsArePageTabsSwitchedByKeyboardAndScreenReader)
{
    QTabBar *bar = form->note_list_pane()->tabs()->tabBar();
    QAccessibleInterface *bar_a = QAccessible::queryAccessibleInterface(bar);
    ASSERT_GE(bar_a->childCount(), 2); // the two tabs, then the bar's scroll buttons
    QAccessibleInterface *notes_tab = bar_a->child(0);
    QAccessibleInterface *headings_tab = bar_a->child(1);
    EXPECT_EQ(notes_tab->role(), QAccessible::PageTab);
    EXPECT_EQ(headings_tab->role(), QAccessible::PageTab);
    EXPECT_EQ(notes_tab->text(QAccessible::Name), QStringLiteral("笔记列表"));
    EXPECT_EQ(headings_tab->text(QAccessible::Name), QStringLiteral("小标题"));
    EXPECT_EQ(headings_tab->text(QAccessible::Description),
              QStringLiteral("显示当前笔记内的章节小标题，某行#开头即可自动创建小标题"));
    EXPECT_TRUE(test::note_list(*form)->isVisible());

    // The screen reader's action switches the page.
    headings_tab->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(form->editor_pane()->headings_list()->isVisible());
    EXPECT_FALSE(test::note_list(*form)->isVisible());

    // So do the arrow keys on the focused tab bar.
    bar->setFocus();
    QTest::keyClick(bar, Qt::Key_Left);
    EXPECT_TRUE(test::note_list(*form)->isVisible());
    QTest::keyClick(bar, Qt::Key_Right);
    EXPECT_TRUE(form->editor_pane()->headings_list()->isVisible());

    // The pointer over "小标题" shows its hint in the status bar.
    QTest::mouseMove(bar, bar->tabRect(1).center());
    EXPECT_EQ(form->panel(6), QStringLiteral("显示当前笔记内的章节小标题，某行#开头即可自动创建小标题"));
    QTest::mouseMove(bar, bar->tabRect(0).center());
    EXPECT_EQ(form->panel(6), QString());
}

TEST_F(MainWindowTest, HighlightButtonNameFollowsItsText)
{
    form->search_box()->setText(QStringLiteral("x"));
    QAccessibleInterface *a = QAccessible::queryAccessibleInterface(form->commands().button("Button2"));
    EXPECT_EQ(a->text(QAccessible::Name), QStringLiteral("高亮"));
    form->commands().button("Button2")->click();
    EXPECT_EQ(form->commands().button("Button2")->text(), QStringLiteral("取消"));
    EXPECT_EQ(a->text(QAccessible::Name), QStringLiteral("取消"));
    form->commands().button("Button2")->click();
    EXPECT_EQ(a->text(QAccessible::Name), QStringLiteral("高亮"));
}

TEST_F(MainWindowTest, ProgressPanelClosesWithItsX)
{
    form->progress_panel()->show();
    QTest::mouseClick(form->findChild<QLabel *>(QStringLiteral("Label9")), Qt::LeftButton);
    EXPECT_FALSE(form->progress_panel()->isVisible());
}

TEST_F(MainWindowTest, ExitItemsRequestTheClose)
{
    form->commands().action("N86")->trigger();
    EXPECT_FALSE(form->isVisible());
    form->show();
    form->commands().action("N85")->trigger();
    EXPECT_FALSE(form->isVisible());
}

TEST_F(MainWindowTest, EditorMenuEnablingFollowsEncryptionMode)
{
    struct Case {
        int is_crypt;
        bool title, content, decrypt;
    } const cases[] = {{0, true, true, false}, {1, false, true, true}, {2, true, false, true}};
    for (const Case &c : cases) {
        form->crypt.is_crypt = c.is_crypt;
        form->commands().menu("PopupMenu1")->popup(form->editor_pane()->editor()->mapToGlobal(QPoint(10, 10)));
        EXPECT_EQ(form->commands().action("Popup1EncryptTitle")->isEnabled(), c.title) << c.is_crypt;
        EXPECT_EQ(form->commands().action("Popup1EncryptContent")->isEnabled(), c.content) << c.is_crypt;
        EXPECT_EQ(form->commands().action("Popup1Decrypt")->isEnabled(), c.decrypt) << c.is_crypt;
        form->commands().menu("PopupMenu1")->hide();
    }
}

TEST_F(MainWindowTest, NoteListMenuEnablingFollowsSelectionAndSaveButton)
{
    test::put_note_entries(*form, {QStringLiteral("甲"), QStringLiteral("乙")}, {1, 2});
    form->note_list_model()->set_favourite(1, true);
    form->crypt.is_crypt = 2;

    auto open_menu = [&] {
        form->commands().menu("PopupMenu2")->popup(test::note_list(*form)->mapToGlobal(QPoint(5, 5)));
        form->commands().menu("PopupMenu2")->hide();
    };

    form->select_note_entry(1);
    open_menu();
    EXPECT_FALSE(form->commands().action("Popup2Save")->isEnabled());
    EXPECT_FALSE(form->commands().action("Popup2AddFavourite")->isEnabled());
    EXPECT_TRUE(form->commands().action("Popup2RemoveFavourite")->isEnabled());
    EXPECT_TRUE(form->commands().action("Popup2EncryptTitle")->isEnabled());
    EXPECT_FALSE(form->commands().action("Popup2EncryptContent")->isEnabled());
    EXPECT_TRUE(form->commands().action("Popup2Decrypt")->isEnabled());

    // No entry selected: the favourite entries keep their previous state.
    form->select_note_entry(-1);
    form->set_save_enabled(true);
    open_menu();
    EXPECT_TRUE(form->commands().action("Popup2Save")->isEnabled());
    EXPECT_FALSE(form->commands().action("Popup2AddFavourite")->isEnabled());
    EXPECT_TRUE(form->commands().action("Popup2RemoveFavourite")->isEnabled());

    form->select_note_entry(0);
    open_menu();
    EXPECT_TRUE(form->commands().action("Popup2AddFavourite")->isEnabled());
    EXPECT_FALSE(form->commands().action("Popup2RemoveFavourite")->isEnabled());
}

TEST_F(MainWindowTest, CtrlVWithPictureOnClipboardMarksTheBodyRtf)
{
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    form->editor_pane()->editor()->setFocus();
    form->note.is_rtf = BodyKind::Plain;
    form->set_panel(4, QStringLiteral("TXT"));

    // Text only on the clipboard: nothing changes, the text is pasted.
    QGuiApplication::clipboard()->setText(QStringLiteral("abc"));
    QTest::keyClick(form->editor_pane()->editor(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(form->note.is_rtf, BodyKind::Plain);
    EXPECT_EQ(form->panel(4), QStringLiteral("TXT"));
    EXPECT_EQ(form->editor_pane()->editor()->toPlainText(), QStringLiteral("abc"));

    // Ctrl+V in another control: nothing changes.
    QImage picture(8, 8, QImage::Format_RGB32);
    picture.fill(Qt::red);
    QGuiApplication::clipboard()->setImage(picture);
    form->title_field()->setFocus();
    QTest::keyClick(form->title_field(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(form->note.is_rtf, BodyKind::Plain);

    // A picture, in the editor: marked before the editor sees the key, which is not consumed.
    form->editor_pane()->editor()->setFocus();
    bool seen_by_editor = false;
    bool marked_when_seen = false;
    struct Probe : QObject {
        std::function<void()> on_key;
        bool eventFilter(QObject *, QEvent *e) override
        {
            if (e->type() == QEvent::KeyPress)
                on_key();
            return false;
        }
    } probe;
    probe.on_key = [&] {
        seen_by_editor = true;
        marked_when_seen = form->note.is_rtf == BodyKind::Rtf && form->panel(4) == QStringLiteral("RTF");
    };
    form->editor_pane()->editor()->installEventFilter(&probe);
    QTest::keyClick(form->editor_pane()->editor(), Qt::Key_V, Qt::ControlModifier);
    form->editor_pane()->editor()->removeEventFilter(&probe);
    EXPECT_TRUE(seen_by_editor);
    EXPECT_TRUE(marked_when_seen);
    EXPECT_EQ(form->note.is_rtf, BodyKind::Rtf);
    EXPECT_EQ(form->panel(4), QStringLiteral("RTF"));
}

TEST_F(MainWindowTest, EditCommandsActOnTheFocusedControl)
{
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    form->title_field()->setText(QStringLiteral("标题文字"));
    form->title_field()->setFocus();
    form->commands().action("Popup1SelectAll")->trigger();
    EXPECT_EQ(form->title_field()->selectedText(), QStringLiteral("标题文字"));
    form->commands().action("Popup1Delete")->trigger();
    EXPECT_EQ(form->title_field()->text(), QString());
    form->commands().action("Popup1Undo")->trigger();
    EXPECT_EQ(form->title_field()->text(), QStringLiteral("标题文字"));

    form->editor_pane()->editor()->setPlainText(QStringLiteral("正文"));
    form->editor_pane()->editor()->setFocus();
    form->commands().action("Popup1SelectAll")->trigger();
    form->commands().action("MenuCopy")->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("正文"));
    EXPECT_EQ(form->title_field()->text(), QStringLiteral("标题文字")); // untouched
}

TEST_F(MainWindowTest, HintsGoToPanelSix)
{
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QCoreApplication::sendEvent(form->commands().button("ToolButton12"), &enter);
    EXPECT_EQ(form->panel(6), QStringLiteral("对当前选中的大类或者小类或者文章置顶显示"));
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(form->commands().button("ToolButton12"), &leave);
    EXPECT_EQ(form->panel(6), QString());

    form->commands().menu("MenuEdit")->popup(form->mapToGlobal(QPoint(20, 20)));
    form->commands().menu("MenuEdit")->setActiveAction(form->commands().action("N9"));
    EXPECT_EQ(form->panel(6), QStringLiteral("在全部笔记内查找关键词"));
    form->commands().menu("MenuEdit")->hide();

    form->commands().menu("PopupMenu1")->popup(form->editor_pane()->editor()->mapToGlobal(QPoint(10, 10)));
    form->commands().menu("PopupMenu1")->setActiveAction(form->commands().action("Popup1Print"));
    EXPECT_EQ(form->panel(6), QStringLiteral("打印当前笔记"));
    form->commands().menu("PopupMenu1")->hide();
}

TEST_F(MainWindowTest, ResizeSharesTheExtraWidthWithTheEditor)
{
    // 382 more pixels go to the picture pane (218 -> 600); the rule moves 55 to the editor.
    form->resize(1117 + 382, form->height());
    QTRY_COMPARE(form->pane_widths(), (PaneWidths{100, 102, 195, 545, 545}));
}

// The real window at a few widths, each from the start layout: the three lists keep their
// widths; only the editor and picture panes change, as the resize rule says.
TEST_F(MainWindowTest, ResizingTheWindowLeavesTheListsAlone)
{
    struct Case {
        int width;
        PaneWidths panes; // editor 0: whatever is left beside a picture pane of 1
    };
    const Case cases[] = {
        {1000, {100, 102, 195, 490, 101}}, // the picture pane gives the 117 pixels
        {900, {100, 102, 195, 490, 1}},
        {1300, {100, 102, 195, 490, 401}},
        {1499, {100, 102, 195, 545, 545}},
        {800, {100, 102, 195, 800 - 12 - 397 - 1, 1}}, // narrower than the four left panes
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.width);
        build_window();
        show_window();
        ASSERT_EQ(form->pane_widths(), (PaneWidths{100, 102, 195, 490, 218}));
        form->resize(c.width, form->height());
        QTRY_COMPARE(form->width(), c.width);
        QTRY_COMPARE(form->pane_widths(), c.panes);
    }
}

TEST_F(MainWindowTest, StatusPanelsShowTheirWholeText)
{
    QLabel *update_time = form->findChild<QLabel *>(QStringLiteral("StatusPanel5"));
    ASSERT_TRUE(update_time);
    const int normal = update_time->width();
    const QString long_time = QStringLiteral("笔记更新时间:2024年12月31日星期二 下午11:59:59");
    form->set_panel(5, long_time);
    QTRY_VERIFY(update_time->width() >= update_time->fontMetrics().horizontalAdvance(long_time));
    form->set_panel(5, QStringLiteral("笔记更新时间:2024/1/2 08:09:10"));
    QTRY_COMPARE(update_time->width(), normal);
}

TEST_F(MainWindowTest, ReadOnlyModeDisablesEditingControls)
{
    form->set_save_enabled(true);
    form->enter_read_only_mode();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("云杉札记1.5.4 只读"));
    EXPECT_TRUE(form->read_only());
    for (QToolButton *b : form->commands().tool_bar()->findChildren<QToolButton *>(Qt::FindDirectChildrenOnly)) {
        if (b->toolButtonStyle() == Qt::ToolButtonTextUnderIcon) {
            EXPECT_FALSE(b->isEnabled()) << b->text().toStdString();
        }
    }
    for (QWidget *w : std::initializer_list<QWidget *>{
             form->title_field(), form->tag_field(), form->commands().button("SpeedButtonNew"),
             form->commands().button("SpeedButton2"), form->commands().button("SpeedButton8"),
             form->commands().button("SpeedButton9"), form->commands().button("SpeedButton10"),
             form->commands().button("SpeedButton11"), form->commands().button("SpeedButton12"),
             form->commands().button("Label3"), form->findChild<QToolButton *>(QStringLiteral("SpeedButton4")),
             form->findChild<QToolButton *>(QStringLiteral("SpeedButton5")),
             form->findChild<QToolButton *>(QStringLiteral("SpeedButton6"))})
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    // Reading stays possible: lists, search, editor, menus.
    EXPECT_TRUE(form->catalogue_pane()->major_list()->isEnabled());
    EXPECT_TRUE(form->search_box()->isEnabled());
    EXPECT_TRUE(form->commands().button("Button1")->isEnabled());
    EXPECT_TRUE(form->commands().action("N9")->isEnabled());
    EXPECT_TRUE(form->editor_pane()->editor()->isEnabled());
}

TEST_F(MainWindowTest, ReadOnlyModeLastsForTheRun)
{
    form->enter_read_only_mode();
    form->set_save_enabled(true); // a body change in read-only mode
    EXPECT_FALSE(form->save_enabled());
    EXPECT_FALSE(form->commands().button("ToolButtonSave")->isEnabled());
    EXPECT_FALSE(form->commands().button("SpeedButton2")->isEnabled());
    for (QWidget *w : std::initializer_list<QWidget *>{
             form->commands().button("ToolButton1"), form->commands().button("ToolButton7"),
             form->commands().button("ToolButton18"), form->title_field(), form->tag_field(),
             form->commands().button("SpeedButton8"), form->findChild<QGroupBox *>(QStringLiteral("GroupBox7"))}) {
        w->setEnabled(true);
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    }
    EXPECT_FALSE(form->findChild<QToolButton *>(QStringLiteral("SpeedButton4"))->isEnabled());
    // Controls read-only mode leaves alone keep working as before.
    form->search_box()->setEnabled(false);
    form->search_box()->setEnabled(true);
    EXPECT_TRUE(form->search_box()->isEnabled());
}

TEST_F(MainWindowTest, ScreenReadersReadWhatThePanelsShow)
{
    form->set_panel(0, QStringLiteral("主备就绪"));
    form->set_panel(4, QStringLiteral("RTF"));
    for (int i : {0, 4}) {
        QLabel *p = form->findChild<QLabel *>(QStringLiteral("StatusPanel%1").arg(i));
        QAccessibleInterface *a = QAccessible::queryAccessibleInterface(p);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->text(QAccessible::Name), p->text());
        EXPECT_EQ(a->text(QAccessible::Description), QStringLiteral("状态栏%1").arg(i));
    }
}

TEST_F(MainWindowTest, TitleIsTheCaptionAlone)
{
    // Qt appends an application display name to window titles that do not end in it.
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), QCoreApplication::applicationName());
    EXPECT_EQ(form->windowTitle(), QStringLiteral("云杉札记1.5.4"));
    EXPECT_EQ(form->windowHandle()->title(), QStringLiteral("云杉札记1.5.4"));
}

} // namespace
} // namespace yunshan
