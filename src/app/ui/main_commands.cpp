#include "app/ui/main_commands.h"

#include "app/ui/command_button.h"
#include "app/ui/program_pictures.h"

#include <QAbstractButton>
#include <QAction>
#include <QLayout>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <QToolButton>

namespace yunshan {

namespace {

constexpr int kToolBarHeight = 36;
constexpr int kToolButtonWidth = 59;

constexpr int key(QKeyCombination k)
{
    return k.toCombined();
}

const char kEncryptWithTitleHint[] = "加密笔记包括标题和标签，加密后的笔记不能被全文搜索，如忘记密码数据将无法恢复";
const char kEncryptContentHint[] = "仅加密笔记的内容，不包括标题和标签，标题标签可搜索，查看此笔记需输入密码";
const char kMoveNoteHint[] = "选中当前笔记，然后再选个别的的大类子类，然后确定";

} // namespace

// One menu item; an item without id is a separator.
struct MainCommands::MenuItem {
    const char *id = nullptr;
    const char *text = "";
    int shortcut = 0;
    const char *hint = "";
};

// One button: a tool-bar button has a picture; a text button has none.
struct MainCommands::CommandButton {
    const char *id;
    const char *text;
    const char *hint = "";
    const char *picture = nullptr;
};

MainCommands::MainCommands(QMainWindow &window) : QObject(&window), window_(window)
{
    setObjectName(QStringLiteral("MainCommands"));
    QMenuBar *bar = window.menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    const auto top = [bar](const char *title) { return bar->addMenu(QString::fromUtf8(title)); };

    add_menu(top("文件"), "MenuFile",
             {{"N2", "导入数据"},
              {"N3", "导出为文本…"},
              {"N23", "导出为数据库…", 0, "导出当前选中的大类为一个单独的笔记数据库"},
              {},
              {"N91", "立即从网盘同步…"},
              {"N92", "立即备份到网盘…"},
              {"N24", "将备份文件转为正式…", 0, "选中一个备份文件，用此备份文件替换当前主数据文件"},
              {},
              {"N38", "设置登陆密码…", 0, "设置一个密码，使用本笔记软件时需先输入密码。登陆密码不影响全文搜索"},
              {"N39", "取消登陆密码…", 0, "去掉原先设置的登陆密码"},
              {},
              {"N41", "加密当前笔记(含标题)", 0, kEncryptWithTitleHint},
              {"N67", "加密当前笔记(仅内容)", 0, kEncryptContentHint},
              {"N42", "取消当前笔记加密…"},
              {},
              {"MenuNewNote", "新建笔记", key(Qt::CTRL | Qt::Key_N)},
              {"N65", "保存笔记", key(Qt::CTRL | Qt::Key_S)},
              {"MenuSaveAs", "另存为……"},
              {},
              {"N45", "打印设置…"},
              {"N44", "打印…"},
              {},
              {"N73", "当前笔记设为常用", 0, "点击显示常用笔记菜单时会列出以方便查找"},
              {"N74", "当前笔记取消常用标记"},
              {"N75", "列出全部常用笔记", key(Qt::CTRL | Qt::Key_H)},
              {},
              {"N81", "列出全部加密笔记"},
              {},
              {"N85", "退出(强制备份)"},
              {},
              {"N86", "退出(不备份)"}});
    add_menu(top("编辑"), "MenuEdit",
             {{"N9", "查找…", 0, "在全部笔记内查找关键词"},
              {"MenuFindNext", "查找下一个", key(QKeyCombination(Qt::Key_F3)), "在当前笔记内查找下一个关键字"},
              {},
              {"MenuCopy", "复制", key(Qt::CTRL | Qt::Key_C)},
              {"MenuPaste", "粘贴", key(Qt::CTRL | Qt::Key_V)},
              {},
              {"MenuPastePicture", "粘贴图片", 0, "从剪贴板粘贴一个图片作为附件"},
              {"MenuAddPicture", "添加图片", 0, "导入一个图片文件作为附件，支持jpg和png格式"},
              {},
              {"N71", "移动当前笔记到…", 0, kMoveNoteHint},
              {"N29", "剪切当前小类到…"},
              {"N30", "合并当前小类到…"},
              {"N31", "合并当前大类到…"},
              {},
              {"MenuBold", "字体加粗", key(Qt::CTRL | Qt::Key_B), "当前选中文字粗体显示"},
              {"MenuRed", "字体标红", key(Qt::CTRL | Qt::Key_R), "当前选中文字红色显示"}});
    for (const char *hidden : {"N29", "N30", "N31"})
        action(hidden)->setVisible(false);
    add_menu(top("设置"), "MenuSettings",
             {{"N11", "数据库路径", 0, "设置主备数据库和登陆密码"},
              {"MenuBackupSettings", "备份设置"},
              {"MenuWebdavSettings", "webDAV同步设置"}});
    add_menu(top("帮助"), "MenuHelp",
             {{"N14", "帮助", 0, "查看使用说明"},
              {"N15", "关于", 0, "查看使用说明"},
              {"N83", "意见建议"},
              {},
              {"N94", "检查更新"}});

    add_menu(new QMenu(&window), "PopupMenu1",
             {{"N36", "当前笔记内查找", key(Qt::CTRL | Qt::Key_F), "在当前笔记内查找关键字，快捷键Ctrl+F"},
              {},
              {"Popup1Undo", "撤销", key(Qt::CTRL | Qt::Key_Z), "撤销当前的更改"},
              {},
              {"Popup1Cut", "剪切", key(Qt::CTRL | Qt::Key_X), "剪切当前内容到剪贴板"},
              {"Popup1Copy", "复制", key(Qt::CTRL | Qt::Key_C), "复制当前内容到剪贴板"},
              {"Popup1Paste", "粘贴文本", key(Qt::CTRL | Qt::Key_V),
               "从剪贴板复制文本并粘贴，如要粘贴图片，请用快捷键Ctrl+V"},
              {},
              {"Popup1Delete", "删除", key(QKeyCombination(Qt::Key_Delete)), "删除当前选中的文本"},
              {"Popup1SelectAll", "全选", key(Qt::CTRL | Qt::Key_A), "选中全部内容"},
              {},
              {"Popup1DefaultFont", "编辑器默认字体", 0, "修改整体显示的字体和文字大小"},
              {},
              {"Popup1EncryptTitle", "加密此笔记(含标题)", 0, kEncryptWithTitleHint},
              {"Popup1EncryptContent", "加密此笔记(仅内容)", 0, kEncryptContentHint},
              {"Popup1Decrypt", "取消加密"},
              {},
              {"Popup1Print", "打印", key(Qt::CTRL | Qt::Key_P), "打印当前笔记"},
              {},
              {"Popup1SaveAs", "另存为……"}});
    add_menu(new QMenu(&window), "PopupMenu2",
             {{"Popup2New", "新建笔记", 0, "创建一个新的笔记"},
              {"Popup2Save", "保存笔记", 0, "保存当前修改后的笔记"},
              {},
              {"Popup2Delete", "删除笔记", 0, "删除此笔记"},
              {},
              {"Popup2EncryptTitle", "加密笔记(含标题)", 0, kEncryptWithTitleHint},
              {"Popup2EncryptContent", "加密笔记(仅内容)", 0, kEncryptContentHint},
              {"Popup2Decrypt", "取消加密"},
              {},
              {"Popup2Print", "打印笔记"},
              {},
              {"Popup2Move", "移动当前笔记到…", 0, kMoveNoteHint},
              {},
              {"Popup2AddFavourite", "添加到常用列表", 0, "把当前笔记添加到常用列表里，以便快速打开"},
              {"Popup2RemoveFavourite", "取消常用列表标记", 0, "取消当前笔记的常用列表标记"},
              {"Popup2ShowFavourites", "显示常用列表"}});

    // The encrypt-with-title commands carry the lock, "添加到常用列表" the favourite mark.
    for (const char *id : {"N41", "Popup1EncryptTitle", "Popup2EncryptTitle"})
        action(id)->setIcon(mark_picture(MarkPicture::Lock));
    action("Popup2AddFavourite")->setIcon(mark_picture(MarkPicture::Favourite));

    build_tool_bar(window);
}

QMenu *MainCommands::add_menu(QMenu *menu, const char *id, std::initializer_list<MenuItem> items)
{
    menu->setObjectName(QString::fromLatin1(id));
    menus_.insert(menu->objectName(), menu);
    for (const MenuItem &item : items) {
        if (!item.id) {
            menu->addSeparator();
            continue;
        }
        auto *a = new QAction(QString::fromUtf8(item.text), &window_);
        a->setObjectName(QString::fromLatin1(item.id));
        if (item.shortcut)
            a->setShortcut(QKeySequence(item.shortcut));
        if (*item.hint) {
            a->setStatusTip(QString::fromUtf8(item.hint));
            a->setToolTip(a->statusTip());
        }
        menu->addAction(a);
        actions_.insert(a->objectName(), a);
    }
    connect(menu, &QMenu::hovered, this, [this](QAction *a) { Q_EMIT hintShown(a->statusTip()); });
    return menu;
}

QToolButton *MainCommands::add_button(QWidget *parent, const CommandButton &entry)
{
    QToolButton *b =
        make_command_button(parent, entry.id, QString::fromUtf8(entry.text), QString::fromUtf8(entry.hint));
    buttons_.insert(b->objectName(), b);
    return b;
}

void MainCommands::build_tool_bar(QMainWindow &window)
{
    tool_bar_ = new QToolBar(QStringLiteral("工具栏"), &window);
    tool_bar_->setObjectName(QStringLiteral("ToolBar1"));
    tool_bar_->setMovable(false);
    tool_bar_->setFloatable(false);
    tool_bar_->setFixedHeight(kToolBarHeight);
    tool_bar_->setIconSize(QSize(16, 16));
    tool_bar_->setContextMenuPolicy(Qt::PreventContextMenu);
    // Fifteen 59-pixel buttons, the search box and its three buttons fill the 1117 pixels.
    tool_bar_->setContentsMargins(0, 0, 0, 0);
    tool_bar_->layout()->setContentsMargins(0, 0, 0, 0);
    tool_bar_->layout()->setSpacing(0);
    tool_bar_->setStyleSheet(QStringLiteral("QToolBar { spacing: 0px; padding: 0px; border: none; }"));
    window.addToolBar(Qt::TopToolBarArea, tool_bar_);

    // A null id ends a group of buttons. The picture buttons of the tool bar do what the
    // picture panel's "添加" and "删除" do.
    const CommandButton tools[] = {
        {"ToolButton1", "新建大类", "", "class-new"},
        {"ToolButton2", "删除大类", "", "class-delete"},
        {"ToolButton3", "新建小类", "", "section-new"},
        {"ToolButton4", "删除小类", "", "section-delete"},
        {nullptr, ""},
        {"ToolButton6", "新建笔记", "", "note-new"},
        {"ToolButtonSave", "保存笔记", "", "note-save"},
        {"ToolButtonAddPicture", "添加图片", "", "picture-add"},
        {"ToolButtonDeletePicture", "删除图片", "", "picture-delete"},
        {"ToolButton7", "删除笔记", "", "note-delete"},
        {nullptr, ""},
        {"ToolButton12", "置顶", "对当前选中的大类或者小类或者文章置顶显示", "pin-top"},
        {"ToolButton16", "取消置顶", "对当前选中的大类或者小类或者文章取消置顶", "pin-remove"},
        {"ToolButton13", "上移", "对当前选中的大类或者小类或者文章位置上移显示", "move-up"},
        {"ToolButton14", "下移", "对当前选中的大类或者小类或者文章位置下移显示", "move-down"},
        {"ToolButton17", "重命名", "对当前选中的大类或者小类或者文章重命名", "rename"},
        {"ToolButton18", "备份", "上传备份到网盘(如果可用)，以及在备份文件夹内创建一个备份文件", "backup"},
        {nullptr, ""},
    };
    for (const CommandButton &entry : tools) {
        if (!entry.id) {
            tool_bar_->addSeparator();
            continue;
        }
        QToolButton *b = add_button(tool_bar_, entry);
        b->setIcon(program_picture(entry.picture));
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        b->setFixedSize(kToolButtonWidth, kToolBarHeight);
        tool_bar_->addWidget(b);
        writing_buttons_.append(b);
    }

    search_box_ = new QLineEdit(tool_bar_);
    search_box_->setObjectName(QStringLiteral("Edit1"));
    search_box_->setAccessibleName(QStringLiteral("搜索关键字"));
    search_box_->setFixedWidth(108);
    tool_bar_->addWidget(search_box_);

    const CommandButton search_buttons[] = {
        {"Button1", "搜索", "在全部笔记内查找关键字"},
        {"Button3", "↓", "在当前文章内向下搜索关键字"},
        {"Button2", "高亮", "高亮显示或取消显示当前笔记内全部关键字"},
    };
    for (const CommandButton &entry : search_buttons) {
        QToolButton *b = add_button(tool_bar_, entry);
        b->setToolButtonStyle(Qt::ToolButtonTextOnly);
        b->setFixedHeight(kToolBarHeight - 10);
        tool_bar_->addWidget(b);
    }
    button("Button3")->setAccessibleName(QStringLiteral("向下查找"));
}

QList<QToolButton *> MainCommands::make_editing_buttons(QWidget *parent)
{
    const CommandButton buttons[] = {
        {"SpeedButtonNew", "新建", "新建一个笔记"},
        {"SpeedButton2", "保存", "保存当前笔记"},
        {"SpeedButton3", "另存", "另存为RTF文件"},
        {"SpeedButton8", "加粗", "当前选中文字加粗显示"},
        {"SpeedButton9", "标红", "当前选中文字红色显示"},
        {"SpeedButton10", "字体", "当前选中文字其他字体颜色大小等的设置"},
        {"SpeedButton11", "插入", "添加图片到笔记中，也可以直接截屏后Ctrl+V粘贴图片到笔记中"},
        {"SpeedButton12", "粘贴", "从剪贴板粘贴图片或截屏后Ctrl+V粘贴图片到笔记中"},
        {"Label3", "默认", "编辑器整体字体大小"},
    };
    QList<QToolButton *> made;
    for (const CommandButton &entry : buttons)
        made.append(add_button(parent, entry));
    button("SpeedButton3")->setVisible(false);
    for (QToolButton *b : made)
        writing_buttons_.append(b);
    return made;
}

QAction *MainCommands::action(const char *id) const
{
    QAction *a = actions_.value(QLatin1String(id));
    Q_ASSERT_X(a, "MainCommands::action", id);
    return a;
}

QToolButton *MainCommands::button(const char *id) const
{
    QToolButton *b = buttons_.value(QLatin1String(id));
    Q_ASSERT_X(b, "MainCommands::button", id);
    return b;
}

QMenu *MainCommands::menu(const char *id) const
{
    QMenu *m = menus_.value(QLatin1String(id));
    Q_ASSERT_X(m, "MainCommands::menu", id);
    return m;
}

QList<QWidget *> MainCommands::writing_buttons() const
{
    return writing_buttons_;
}

void MainCommands::bind(const char *id, QObject *receiver, std::function<void()> run)
{
    if (QAction *a = actions_.value(QLatin1String(id)))
        connect(a, &QAction::triggered, receiver, std::move(run));
    else
        connect(button(id), &QAbstractButton::clicked, receiver, std::move(run));
}

} // namespace yunshan
