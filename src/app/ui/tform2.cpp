#include "app/ui/tform2.h"

#include "app/command_rules.h"
#include "app/startup.h"
#include "app/ui/application_setup.h"
#include "app/ui/catalogue_pane.h"
#include "app/ui/editor_pane.h"
#include "app/ui/move_panel.h"
#include "app/ui/note_list_pane.h"
#include "app/ui/picture_pane.h"
#include "app/ui/progress_panel.h"
#include "editor/editor_tools.h"
#include "editor/fitted_pictures.h"
#include "pictures/thumbnail.h"
#include "platform/dialogs.h"
#include "session/note_list_model.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QClipboard>
#include <QDesktopServices>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QPrinter>
#include <QScreen>
#include <QScrollArea>
#include <QSplitter>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QStyle>
#include <QTabBar>
#include <QTextCursor>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>

namespace yunshan {

namespace {

constexpr int kClientWidth = 1117;
constexpr int kClientHeight = 731;
constexpr int kToolBarHeight = 36;
constexpr int kStatusBarHeight = 19;
constexpr int kToolButtonWidth = 59;
constexpr int kListFontPixels = 16;
constexpr int kEditingGroupHeight = 96;
constexpr int kStartPaneWidths[5] = {100, 102, 195, 490, 218};
constexpr std::array<int, 7> kPanelWidths{82, 82, 82, 82, 82, 200, 50};
// Property of the controls read-only mode took away.
constexpr char kReadOnlyLocked[] = "yunshan_read_only_locked";

// The pane splitter; after it has shared out a new size, the window's resize rule runs.
class PaneSplitter : public QSplitter {
  public:
    using QSplitter::QSplitter;
    std::function<void()> after_resize;
    // Widths of the major, minor and note panes as last laid out by the program or dragged by
    // the user: when the window narrows, the splitter squeezes every pane before the resize
    // rule runs, and these give the three their widths back.
    std::array<int, 3> kept_left{};

  protected:
    void resizeEvent(QResizeEvent *e) override
    {
        QSplitter::resizeEvent(e);
        if (after_resize)
            after_resize();
    }
};

QFont list_font()
{
    QFont f(ui_font_family());
    f.setPixelSize(kListFontPixels);
    return f;
}

QGroupBox *make_group(QWidget *parent, const char *name, const QString &title)
{
    auto *g = new QGroupBox(title, parent);
    g->setObjectName(QString::fromLatin1(name));
    g->setAccessibleName(title.trimmed());
    return g;
}

QVBoxLayout *tight_column(QWidget *w, int margin = 2)
{
    auto *v = new QVBoxLayout(w);
    v->setContentsMargins(margin, margin, margin, margin);
    v->setSpacing(2);
    return v;
}

} // namespace

QString TForm2::unfinished_text()
{
    return QStringLiteral("功能未完成，请等待升级版本。");
}
QString TForm2::contact_address()
{
    return contact_email();
}
QString TForm2::help_url()
{
    return QStringLiteral("https://yunshan-note.example.org/help/");
}

TForm2::TForm2(Dialogs &dialogs, QWidget *parent) : QMainWindow(parent), dialogs_(dialogs)
{
    setObjectName(QStringLiteral("Form2"));
    caption_ = QStringLiteral("云杉札记") + QStringLiteral(YUNSHAN_VERSION);
    setWindowTitle(caption_);
    setAttribute(Qt::WA_AlwaysShowToolTips);

    build_menus();
    build_popup_menus();
    build_tool_bar();
    build_panes();
    build_status_bar();
    build_floating_panels();
    build_backup();
    build_update();
    setup_note_list();
    setup_picture_panel();
    setup_editor_tools();
    setup_editor_tracking();

    set_save_enabled(false);
    // A failed write to the backup database: the store has disconnected it; said once.
    store.set_backup_failure_handler([this](const QString &message) { report_backup_failure(message); });
    // The panes are laid out at their start widths; the editor pane's is the fall-back width.
    g4width = kStartPaneWidths[3];

    // Client area 1117 x 731 below the menu bar (tool bar, panes and status bar), centred.
    const int menu_height = menuBar()->isNativeMenuBar() ? 0 : menuBar()->sizeHint().height();
    resize(kClientWidth, kClientHeight + menu_height);
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }

    qApp->installEventFilter(this);
}

TForm2::~TForm2()
{
    // The editor's event filter reaches into this window: it goes before the widgets do.
    delete findChild<QObject *>(QStringLiteral("EditorTrackingEvents"), Qt::FindDirectChildrenOnly);
    FormDestroy();
    if (qApp)
        qApp->removeEventFilter(this);
}

QTextEdit *TForm2::editor() const
{
    return editor_pane_->editor();
}

// ---------------------------------------------------------------------------------------------
// Building the window

QAction *TForm2::make_action(QMenu *menu, const char *name, const QString &text, void (TForm2::*handler)(),
                             const QKeySequence &shortcut, const QString &hint)
{
    auto *a = new QAction(text, this);
    a->setObjectName(QString::fromLatin1(name));
    if (!shortcut.isEmpty())
        a->setShortcut(shortcut);
    if (!hint.isEmpty()) {
        a->setStatusTip(hint);
        a->setToolTip(hint);
    }
    if (handler)
        connect(a, &QAction::triggered, this, handler);
    if (menu)
        menu->addAction(a);
    return a;
}

QToolButton *TForm2::make_button(QWidget *parent, const char *name, const QString &text, void (TForm2::*handler)(),
                                 const QString &hint)
{
    auto *b = new QToolButton(parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setText(text); // no fixed accessible name: screen readers read the text, which some buttons change
    b->setAutoRaise(true);
    if (!hint.isEmpty()) {
        b->setToolTip(hint);
        b->setStatusTip(hint);
        b->setAccessibleDescription(hint);
    }
    if (handler)
        connect(b, &QToolButton::clicked, this, handler);
    return b;
}

void TForm2::build_menus()
{
    const QString hint_encrypt_title =
        QStringLiteral("加密笔记包括标题和标签，加密后的笔记不能被全文搜索，如忘记密码数据将无法恢复");
    const QString hint_encrypt_content =
        QStringLiteral("仅加密笔记的内容，不包括标题和标签，标题标签可搜索，查看此笔记需输入密码");

    QMenuBar *bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));

    MenuFile = bar->addMenu(QStringLiteral("文件"));
    MenuFile->setObjectName(QStringLiteral("MenuFile"));
    QMenu *m = MenuFile;
    N2 = make_action(m, "N2", QStringLiteral("导入数据"), &TForm2::N2Click);
    N3 = make_action(m, "N3", QStringLiteral("导出为文本…"), &TForm2::N3Click);
    N23 = make_action(m, "N23", QStringLiteral("导出为数据库…"), &TForm2::N23Click, {},
                      QStringLiteral("导出当前选中的大类为一个单独的笔记数据库"));
    m->addSeparator();
    N91 = make_action(m, "N91", QStringLiteral("立即从网盘同步…"), &TForm2::N91Click);
    N92 = make_action(m, "N92", QStringLiteral("立即备份到网盘…"), &TForm2::N92Click);
    N24 = make_action(m, "N24", QStringLiteral("将备份文件转为正式…"), &TForm2::N24Click, {},
                      QStringLiteral("选中一个备份文件，用此备份文件替换当前主数据文件"));
    m->addSeparator();
    N38 = make_action(m, "N38", QStringLiteral("设置登陆密码…"), &TForm2::N38Click, {},
                      QStringLiteral("设置一个密码，使用本笔记软件时需先输入密码。登陆密码不影响全文搜索"));
    N39 = make_action(m, "N39", QStringLiteral("取消登陆密码…"), &TForm2::N39Click, {},
                      QStringLiteral("去掉原先设置的登陆密码"));
    m->addSeparator();
    N41 = make_action(m, "N41", QStringLiteral("加密当前笔记(含标题)"), &TForm2::N41Click, {}, hint_encrypt_title);
    N67 = make_action(m, "N67", QStringLiteral("加密当前笔记(仅内容)"), &TForm2::N67Click, {}, hint_encrypt_content);
    N42 = make_action(m, "N42", QStringLiteral("取消当前笔记加密…"), &TForm2::N42Click);
    m->addSeparator();
    MenuNewNote = make_action(m, "MenuNewNote", QStringLiteral("新建笔记"), &TForm2::ToolButton6Click,
                              QKeySequence(Qt::CTRL | Qt::Key_N));
    N65 = make_action(m, "N65", QStringLiteral("保存笔记"), &TForm2::N65Click, QKeySequence(Qt::CTRL | Qt::Key_S));
    MenuSaveAs = make_action(m, "MenuSaveAs", QStringLiteral("另存为……"), &TForm2::SpeedButton3Click);
    m->addSeparator();
    N45 = make_action(m, "N45", QStringLiteral("打印设置…"), &TForm2::N45Click);
    N44 = make_action(m, "N44", QStringLiteral("打印…"), &TForm2::N44Click);
    m->addSeparator();
    N73 = make_action(m, "N73", QStringLiteral("当前笔记设为常用"), &TForm2::N73Click, {},
                      QStringLiteral("点击显示常用笔记菜单时会列出以方便查找"));
    N74 = make_action(m, "N74", QStringLiteral("当前笔记取消常用标记"), &TForm2::N74Click);
    N75 = make_action(m, "N75", QStringLiteral("列出全部常用笔记"), &TForm2::N75Click,
                      QKeySequence(Qt::CTRL | Qt::Key_H));
    m->addSeparator();
    N81 = make_action(m, "N81", QStringLiteral("列出全部加密笔记"), &TForm2::N81Click);
    m->addSeparator();
    N85 = make_action(m, "N85", QStringLiteral("退出(强制备份)"), &TForm2::N85Click);
    m->addSeparator();
    N86 = make_action(m, "N86", QStringLiteral("退出(不备份)"), &TForm2::N86Click);

    MenuEdit = bar->addMenu(QStringLiteral("编辑"));
    MenuEdit->setObjectName(QStringLiteral("MenuEdit"));
    m = MenuEdit;
    N9 = make_action(m, "N9", QStringLiteral("查找…"), &TForm2::N9Click, {}, QStringLiteral("在全部笔记内查找关键词"));
    MenuFindNext = make_action(m, "MenuFindNext", QStringLiteral("查找下一个"), &TForm2::Button3Click,
                               QKeySequence(Qt::Key_F3), QStringLiteral("在当前笔记内查找下一个关键字"));
    m->addSeparator();
    MenuCopy =
        make_action(m, "MenuCopy", QStringLiteral("复制"), &TForm2::edit_copy, QKeySequence(Qt::CTRL | Qt::Key_C));
    MenuPaste =
        make_action(m, "MenuPaste", QStringLiteral("粘贴"), &TForm2::edit_paste, QKeySequence(Qt::CTRL | Qt::Key_V));
    m->addSeparator();
    MenuPastePicture = make_action(m, "MenuPastePicture", QStringLiteral("粘贴图片"), &TForm2::SpeedButton6Click, {},
                                   QStringLiteral("从剪贴板粘贴一个图片作为附件"));
    MenuAddPicture = make_action(m, "MenuAddPicture", QStringLiteral("添加图片"), &TForm2::SpeedButton4Click, {},
                                 QStringLiteral("导入一个图片文件作为附件，支持jpg和png格式"));
    m->addSeparator();
    N71 = make_action(m, "N71", QStringLiteral("移动当前笔记到…"), &TForm2::N71Click, {},
                      QStringLiteral("选中当前笔记，然后再选个别的的大类子类，然后确定"));
    N29 = make_action(m, "N29", QStringLiteral("剪切当前小类到…"), &TForm2::N29Click);
    N30 = make_action(m, "N30", QStringLiteral("合并当前小类到…"), &TForm2::N30Click);
    N31 = make_action(m, "N31", QStringLiteral("合并当前大类到…"), &TForm2::N31Click);
    N29->setVisible(false);
    N30->setVisible(false);
    N31->setVisible(false);
    m->addSeparator();
    MenuBold = make_action(m, "MenuBold", QStringLiteral("字体加粗"), &TForm2::SpeedButton8Click,
                           QKeySequence(Qt::CTRL | Qt::Key_B), QStringLiteral("当前选中文字粗体显示"));
    MenuRed = make_action(m, "MenuRed", QStringLiteral("字体标红"), &TForm2::SpeedButton9Click,
                          QKeySequence(Qt::CTRL | Qt::Key_R), QStringLiteral("当前选中文字红色显示"));

    MenuSettings = bar->addMenu(QStringLiteral("设置"));
    MenuSettings->setObjectName(QStringLiteral("MenuSettings"));
    N11 = make_action(MenuSettings, "N11", QStringLiteral("数据库路径"), &TForm2::N11Click, {},
                      QStringLiteral("设置主备数据库和登陆密码"));
    MenuBackupSettings = make_action(MenuSettings, "MenuBackupSettings", QStringLiteral("备份设置"), &TForm2::N11Click);
    MenuWebdavSettings =
        make_action(MenuSettings, "MenuWebdavSettings", QStringLiteral("webDAV同步设置"), &TForm2::N11Click);

    MenuHelp = bar->addMenu(QStringLiteral("帮助"));
    MenuHelp->setObjectName(QStringLiteral("MenuHelp"));
    N14 = make_action(MenuHelp, "N14", QStringLiteral("帮助"), &TForm2::N14Click, {}, QStringLiteral("查看使用说明"));
    N15 = make_action(MenuHelp, "N15", QStringLiteral("关于"), &TForm2::N15Click, {}, QStringLiteral("查看使用说明"));
    N83 = make_action(MenuHelp, "N83", QStringLiteral("意见建议"), &TForm2::N83Click);
    MenuHelp->addSeparator();
    N94 = make_action(MenuHelp, "N94", QStringLiteral("检查更新"), &TForm2::N94Click);

    for (QMenu *menu : {MenuFile, MenuEdit, MenuSettings, MenuHelp})
        connect(menu, &QMenu::hovered, this, [this](QAction *a) { set_panel(6, a->statusTip()); });
}

void TForm2::build_popup_menus()
{
    const QString hint_encrypt_title =
        QStringLiteral("加密笔记包括标题和标签，加密后的笔记不能被全文搜索，如忘记密码数据将无法恢复");
    const QString hint_encrypt_content =
        QStringLiteral("仅加密笔记的内容，不包括标题和标签，标题标签可搜索，查看此笔记需输入密码");

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    QMenu *m = PopupMenu1;
    N36 = make_action(m, "N36", QStringLiteral("当前笔记内查找"), &TForm2::N36Click, QKeySequence(Qt::CTRL | Qt::Key_F),
                      QStringLiteral("在当前笔记内查找关键字，快捷键Ctrl+F"));
    m->addSeparator();
    Popup1Undo = make_action(m, "Popup1Undo", QStringLiteral("撤销"), &TForm2::edit_undo,
                             QKeySequence(Qt::CTRL | Qt::Key_Z), QStringLiteral("撤销当前的更改"));
    m->addSeparator();
    Popup1Cut = make_action(m, "Popup1Cut", QStringLiteral("剪切"), &TForm2::edit_cut,
                            QKeySequence(Qt::CTRL | Qt::Key_X), QStringLiteral("剪切当前内容到剪贴板"));
    Popup1Copy = make_action(m, "Popup1Copy", QStringLiteral("复制"), &TForm2::edit_copy,
                             QKeySequence(Qt::CTRL | Qt::Key_C), QStringLiteral("复制当前内容到剪贴板"));
    Popup1Paste = make_action(m, "Popup1Paste", QStringLiteral("粘贴文本"), &TForm2::edit_paste,
                              QKeySequence(Qt::CTRL | Qt::Key_V),
                              QStringLiteral("从剪贴板复制文本并粘贴，如要粘贴图片，请用快捷键Ctrl+V"));
    m->addSeparator();
    Popup1Delete = make_action(m, "Popup1Delete", QStringLiteral("删除"), &TForm2::edit_delete,
                               QKeySequence(Qt::Key_Delete), QStringLiteral("删除当前选中的文本"));
    Popup1SelectAll = make_action(m, "Popup1SelectAll", QStringLiteral("全选"), &TForm2::edit_select_all,
                                  QKeySequence(Qt::CTRL | Qt::Key_A), QStringLiteral("选中全部内容"));
    m->addSeparator();
    Popup1DefaultFont = make_action(m, "Popup1DefaultFont", QStringLiteral("编辑器默认字体"), &TForm2::Label3Click, {},
                                    QStringLiteral("修改整体显示的字体和文字大小"));
    m->addSeparator();
    Popup1EncryptTitle = make_action(m, "Popup1EncryptTitle", QStringLiteral("加密此笔记(含标题)"), &TForm2::N41Click,
                                     {}, hint_encrypt_title);
    Popup1EncryptContent = make_action(m, "Popup1EncryptContent", QStringLiteral("加密此笔记(仅内容)"),
                                       &TForm2::N67Click, {}, hint_encrypt_content);
    Popup1Decrypt = make_action(m, "Popup1Decrypt", QStringLiteral("取消加密"), &TForm2::N42Click);
    m->addSeparator();
    Popup1Print = make_action(m, "Popup1Print", QStringLiteral("打印"), &TForm2::N44Click,
                              QKeySequence(Qt::CTRL | Qt::Key_P), QStringLiteral("打印当前笔记"));
    m->addSeparator();
    Popup1SaveAs = make_action(m, "Popup1SaveAs", QStringLiteral("另存为……"), &TForm2::SpeedButton3Click);
    connect(PopupMenu1, &QMenu::aboutToShow, this, &TForm2::PopupMenu1Popup);

    PopupMenu2 = new QMenu(this);
    PopupMenu2->setObjectName(QStringLiteral("PopupMenu2"));
    m = PopupMenu2;
    Popup2New = make_action(m, "Popup2New", QStringLiteral("新建笔记"), &TForm2::ToolButton6Click, {},
                            QStringLiteral("创建一个新的笔记"));
    Popup2Save = make_action(m, "Popup2Save", QStringLiteral("保存笔记"), &TForm2::SpeedButton2Click, {},
                             QStringLiteral("保存当前修改后的笔记"));
    m->addSeparator();
    Popup2Delete = make_action(m, "Popup2Delete", QStringLiteral("删除笔记"), &TForm2::ToolButton7Click, {},
                               QStringLiteral("删除此笔记"));
    m->addSeparator();
    Popup2EncryptTitle = make_action(m, "Popup2EncryptTitle", QStringLiteral("加密笔记(含标题)"), &TForm2::N41Click, {},
                                     hint_encrypt_title);
    Popup2EncryptContent = make_action(m, "Popup2EncryptContent", QStringLiteral("加密笔记(仅内容)"), &TForm2::N67Click,
                                       {}, hint_encrypt_content);
    Popup2Decrypt = make_action(m, "Popup2Decrypt", QStringLiteral("取消加密"), &TForm2::N42Click);
    m->addSeparator();
    Popup2Print = make_action(m, "Popup2Print", QStringLiteral("打印笔记"), &TForm2::N44Click);
    m->addSeparator();
    Popup2Move = make_action(m, "Popup2Move", QStringLiteral("移动当前笔记到…"), &TForm2::N71Click, {},
                             QStringLiteral("选中当前笔记，然后再选个别的的大类子类，然后确定"));
    m->addSeparator();
    Popup2AddFavourite = make_action(m, "Popup2AddFavourite", QStringLiteral("添加到常用列表"), &TForm2::N73Click, {},
                                     QStringLiteral("把当前笔记添加到常用列表里，以便快速打开"));
    Popup2RemoveFavourite = make_action(m, "Popup2RemoveFavourite", QStringLiteral("取消常用列表标记"),
                                        &TForm2::N74Click, {}, QStringLiteral("取消当前笔记的常用列表标记"));
    Popup2ShowFavourites = make_action(m, "Popup2ShowFavourites", QStringLiteral("显示常用列表"), &TForm2::N75Click);
    connect(PopupMenu2, &QMenu::aboutToShow, this, &TForm2::PopupMenu2Popup);

    for (QMenu *menu : {PopupMenu1, PopupMenu2})
        connect(menu, &QMenu::hovered, this, [this](QAction *a) { set_panel(6, a->statusTip()); });
}

void TForm2::build_tool_bar()
{
    ToolBar1 = new QToolBar(QStringLiteral("工具栏"), this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setFixedHeight(kToolBarHeight);
    ToolBar1->setIconSize(QSize(16, 16));
    ToolBar1->setContextMenuPolicy(Qt::PreventContextMenu);
    // Fifteen 59-pixel buttons, the search box and its three buttons fill the 1117 pixels.
    ToolBar1->setContentsMargins(0, 0, 0, 0);
    ToolBar1->layout()->setContentsMargins(0, 0, 0, 0);
    ToolBar1->layout()->setSpacing(0);
    ToolBar1->setStyleSheet(QStringLiteral("QToolBar { spacing: 0px; padding: 0px; border: none; }"));
    addToolBar(Qt::TopToolBarArea, ToolBar1);

    QStyle *st = style();
    auto tool = [&](const char *name, const QString &text, void (TForm2::*handler)(), QStyle::StandardPixmap icon,
                    const QString &hint = {}) {
        QToolButton *b = make_button(ToolBar1, name, text, handler, hint);
        b->setIcon(st->standardIcon(icon));
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        b->setFixedSize(kToolButtonWidth, kToolBarHeight);
        ToolBar1->addWidget(b);
        return b;
    };
    ToolButton1 =
        tool("ToolButton1", QStringLiteral("新建大类"), &TForm2::ToolButton1Click, QStyle::SP_FileDialogNewFolder);
    ToolButton2 =
        tool("ToolButton2", QStringLiteral("删除大类"), &TForm2::ToolButton2Click, QStyle::SP_DialogDiscardButton);
    ToolButton3 = tool("ToolButton3", QStringLiteral("新建小类"), &TForm2::ToolButton3Click, QStyle::SP_DirIcon);
    ToolButton4 =
        tool("ToolButton4", QStringLiteral("删除小类"), &TForm2::ToolButton4Click, QStyle::SP_DialogDiscardButton);
    ToolBar1->addSeparator();
    ToolButton6 = tool("ToolButton6", QStringLiteral("新建笔记"), &TForm2::ToolButton6Click, QStyle::SP_FileIcon);
    ToolButtonSave =
        tool("ToolButtonSave", QStringLiteral("保存笔记"), &TForm2::SpeedButton2Click, QStyle::SP_DialogSaveButton);
    // The picture buttons of the tool bar do what the picture panel's "添加" and "删除" do.
    ToolButtonAddPicture = tool("ToolButtonAddPicture", QStringLiteral("添加图片"), &TForm2::SpeedButton4Click,
                                QStyle::SP_DialogOpenButton);
    ToolButtonDeletePicture = tool("ToolButtonDeletePicture", QStringLiteral("删除图片"), &TForm2::SpeedButton5Click,
                                   QStyle::SP_DialogCancelButton);
    ToolButton7 = tool("ToolButton7", QStringLiteral("删除笔记"), &TForm2::ToolButton7Click, QStyle::SP_TrashIcon);
    ToolBar1->addSeparator();
    ToolButton12 = tool("ToolButton12", QStringLiteral("置顶"), &TForm2::ToolButton12Click, QStyle::SP_ArrowUp,
                        QStringLiteral("对当前选中的大类或者小类或者文章置顶显示"));
    ToolButton16 = tool("ToolButton16", QStringLiteral("取消置顶"), &TForm2::ToolButton16Click, QStyle::SP_ArrowDown,
                        QStringLiteral("对当前选中的大类或者小类或者文章取消置顶"));
    ToolButton13 = tool("ToolButton13", QStringLiteral("上移"), &TForm2::ToolButton13Click, QStyle::SP_ArrowBack,
                        QStringLiteral("对当前选中的大类或者小类或者文章位置上移显示"));
    ToolButton14 = tool("ToolButton14", QStringLiteral("下移"), &TForm2::ToolButton14Click, QStyle::SP_ArrowForward,
                        QStringLiteral("对当前选中的大类或者小类或者文章位置下移显示"));
    ToolButton17 = tool("ToolButton17", QStringLiteral("重命名"), &TForm2::ToolButton17Click,
                        QStyle::SP_FileDialogDetailedView, QStringLiteral("对当前选中的大类或者小类或者文章重命名"));
    ToolButton18 = tool("ToolButton18", QStringLiteral("备份"), &TForm2::ToolButton18Click, QStyle::SP_DriveNetIcon,
                        QStringLiteral("上传备份到网盘(如果可用)，以及在备份文件夹内创建一个备份文件"));
    ToolBar1->addSeparator();

    Edit1 = new QLineEdit(ToolBar1);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setAccessibleName(QStringLiteral("搜索关键字"));
    Edit1->setFixedWidth(108);
    ToolBar1->addWidget(Edit1);

    auto text_button = [&](const char *name, const QString &text, void (TForm2::*handler)(), const QString &hint) {
        QToolButton *b = make_button(ToolBar1, name, text, handler, hint);
        b->setToolButtonStyle(Qt::ToolButtonTextOnly);
        b->setFixedHeight(kToolBarHeight - 10);
        ToolBar1->addWidget(b);
        return b;
    };
    Button1 =
        text_button("Button1", QStringLiteral("搜索"), &TForm2::Button1Click, QStringLiteral("在全部笔记内查找关键字"));
    Button3 = text_button("Button3", QStringLiteral("↓"), &TForm2::Button3Click,
                          QStringLiteral("在当前文章内向下搜索关键字"));
    Button3->setAccessibleName(QStringLiteral("向下查找"));
    Button2 = text_button("Button2", QStringLiteral("高亮"), &TForm2::Button2Click,
                          QStringLiteral("高亮显示或取消显示当前笔记内全部关键字"));
}

void TForm2::build_panes()
{
    auto *central = new QWidget(this);
    central->setObjectName(QStringLiteral("ClientArea"));
    auto *central_layout = new QVBoxLayout(central);
    central_layout->setContentsMargins(0, 0, 0, 0);
    central_layout->setSpacing(0);
    setCentralWidget(central);

    auto *splitter = new PaneSplitter(Qt::Horizontal, central);
    Splitter = splitter;
    Splitter->setObjectName(QStringLiteral("Splitter"));
    Splitter->setHandleWidth(kSplitterWidth);
    Splitter->setChildrenCollapsible(false);
    central_layout->addWidget(Splitter);

    // 大类, 小类: the first two panes.
    catalogue_pane_ = new CataloguePane(Splitter, list_font());

    // Note list and headings: a page control with the tabs "笔记列表" and "小标题".
    note_list_model_ = new NoteListModel(this);
    note_list_pane_ = new NoteListPane(list_font(), Splitter);
    note_list_pane_->set_model(note_list_model_);
    editor_pane_ = new EditorPane(list_font());
    note_list_pane_->set_headings_page(editor_pane_->headings_list());
    editor_pane_->headings_list()->show();
    connect(note_list_pane_, &NoteListPane::contextMenuRequested, this,
            [this](const QPoint &global_pos) { PopupMenu2->popup(global_pos); });
    connect(note_list_pane_, &NoteListPane::previousPageClicked, this, &TForm2::Button6Click);
    connect(note_list_pane_, &NoteListPane::nextPageClicked, this, &TForm2::Button7Click);
    connect(note_list_pane_, &NoteListPane::favouritesClicked, this, &TForm2::N75Click);
    connect(note_list_pane_, &NoteListPane::headingsShown, this, &TForm2::TabSheet2Show);
    connect(note_list_pane_, &NoteListPane::tabHint, this, [this](const QString &hint) { set_panel(6, hint); });

    // 内容: editing group over the editor.
    GroupBox4 = make_group(Splitter, "GroupBox4", QStringLiteral("内容"));
    auto *col4 = tight_column(GroupBox4);
    GroupBox6 = new QGroupBox(GroupBox4);
    GroupBox6->setObjectName(QStringLiteral("GroupBox6"));
    GroupBox6->setAccessibleName(QStringLiteral("编辑"));
    GroupBox6->setFixedHeight(kEditingGroupHeight);
    auto *grid = new QGridLayout(GroupBox6);
    grid->setContentsMargins(4, 2, 4, 2);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(2);
    auto *row = new QHBoxLayout;
    row->setSpacing(1);
    SpeedButtonNew = make_button(GroupBox6, "SpeedButtonNew", QStringLiteral("新建"), &TForm2::ToolButton6Click,
                                 QStringLiteral("新建一个笔记"));
    SpeedButton2 = make_button(GroupBox6, "SpeedButton2", QStringLiteral("保存"), &TForm2::SpeedButton2Click,
                               QStringLiteral("保存当前笔记"));
    SpeedButton3 = make_button(GroupBox6, "SpeedButton3", QStringLiteral("另存"), &TForm2::SpeedButton3Click,
                               QStringLiteral("另存为RTF文件"));
    SpeedButton8 = make_button(GroupBox6, "SpeedButton8", QStringLiteral("加粗"), &TForm2::SpeedButton8Click,
                               QStringLiteral("当前选中文字加粗显示"));
    SpeedButton9 = make_button(GroupBox6, "SpeedButton9", QStringLiteral("标红"), &TForm2::SpeedButton9Click,
                               QStringLiteral("当前选中文字红色显示"));
    SpeedButton10 = make_button(GroupBox6, "SpeedButton10", QStringLiteral("字体"), &TForm2::SpeedButton10Click,
                                QStringLiteral("当前选中文字其他字体颜色大小等的设置"));
    SpeedButton11 = make_button(GroupBox6, "SpeedButton11", QStringLiteral("插入"), &TForm2::SpeedButton11Click,
                                QStringLiteral("添加图片到笔记中，也可以直接截屏后Ctrl+V粘贴图片到笔记中"));
    SpeedButton12 = make_button(GroupBox6, "SpeedButton12", QStringLiteral("粘贴"), &TForm2::SpeedButton12Click,
                                QStringLiteral("从剪贴板粘贴图片或截屏后Ctrl+V粘贴图片到笔记中"));
    Label3 = make_button(GroupBox6, "Label3", QStringLiteral("默认"), &TForm2::Label3Click,
                         QStringLiteral("编辑器整体字体大小"));
    for (QToolButton *b : {SpeedButtonNew, SpeedButton2, SpeedButton3, SpeedButton8, SpeedButton9, SpeedButton10,
                           SpeedButton11, SpeedButton12, Label3})
        row->addWidget(b);
    SpeedButton3->setVisible(false);
    row->addStretch(1);
    Label1 = new QLabel(GroupBox6);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setAccessibleName(QStringLiteral("通知"));
    row->addWidget(Label1);
    grid->addLayout(row, 0, 0, 1, 2);

    auto *title_label = new QLabel(QStringLiteral("标题"), GroupBox6);
    title_label->setObjectName(QStringLiteral("LabelTitle"));
    auto *tag_label = new QLabel(QStringLiteral("标签"), GroupBox6);
    tag_label->setObjectName(QStringLiteral("LabelTag"));
    Edit2 = new QLineEdit(GroupBox6);
    Edit2->setObjectName(QStringLiteral("Edit2"));
    Edit2->setAccessibleName(QStringLiteral("标题"));
    Edit3 = new QLineEdit(GroupBox6);
    Edit3->setObjectName(QStringLiteral("Edit3"));
    Edit3->setAccessibleName(QStringLiteral("标签"));
    for (QLineEdit *e : {Edit2, Edit3})
        e->setFont(list_font());
    title_label->setBuddy(Edit2);
    tag_label->setBuddy(Edit3);
    grid->addWidget(title_label, 1, 0);
    grid->addWidget(Edit2, 1, 1);
    grid->addWidget(tag_label, 2, 0);
    grid->addWidget(Edit3, 2, 1);
    col4->addWidget(GroupBox6);

    editor_pane_->setParent(GroupBox4);
    editor()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(editor(), &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { PopupMenu1->popup(editor()->viewport()->mapToGlobal(pos)); });
    // The editor menu's own shortcuts (Ctrl+F, Ctrl+P) work while the editor has the focus.
    for (QAction *a : {N36, Popup1Print}) {
        a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        editor()->addAction(a);
    }
    col4->addWidget(editor_pane_, 1);

    // 图片: the picture pane.
    picture_pane_ = new PicturePane(dialogs_, Splitter);

    // Only the picture pane takes up a change of the window's width; the resize rule then
    // shares it with the editor pane.
    for (int i = 0; i < 5; ++i)
        Splitter->setStretchFactor(i, i == 4 ? 1 : 0);
    // Only the editor and picture panes give way when the window narrows: they may shrink
    // below what their buttons need (the buttons are then cut off at the right).
    GroupBox4->setMinimumWidth(1);
    picture_pane_->setMinimumWidth(1);
    set_pane_widths(
        {kStartPaneWidths[0], kStartPaneWidths[1], kStartPaneWidths[2], kStartPaneWidths[3], kStartPaneWidths[4]});
    splitter->after_resize = [this] { FormResize(); };
    connect(splitter, &QSplitter::splitterMoved, this, [splitter] {
        const QList<int> s = splitter->sizes();
        splitter->kept_left = {s.value(0), s.value(1), s.value(2)};
    });
}

void TForm2::build_floating_panels()
{
    // Both panels lie over the panes; positions are in client coordinates (below the menu bar),
    // the client area's widget starts below the tool bar.
    QWidget *over = centralWidget();

    move_panel_ = new MovePanel(over);
    move_panel_->setGeometry(345, 264 - kToolBarHeight, 249, 169);
    connect(move_panel_, &MovePanel::confirmed, this, &TForm2::Button4Click);
    connect(move_panel_, &MovePanel::cancelled, this, &TForm2::Button5Click);

    progress_panel_ = new ProgressPanel(over);
    progress_panel_->setGeometry(291, 231 - kToolBarHeight, 374, 105);
    connect(progress_panel_, &ProgressPanel::closeRequested, this, &TForm2::Label9Click);
}

void TForm2::build_status_bar()
{
    QStatusBar *bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar1"));
    bar->setSizeGripEnabled(false);
    bar->setFixedHeight(kStatusBarHeight);
    for (int i = 0; i < 7; ++i) {
        auto *p = new QLabel(bar);
        p->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        // The name read out is the panel's text; which panel it is goes in the description.
        p->setAccessibleDescription(QStringLiteral("状态栏%1").arg(i));
        p->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        p->setTextFormat(Qt::PlainText);
        if (i < 6)
            p->setFixedWidth(kPanelWidths[static_cast<size_t>(i)]);
        else
            p->setMinimumWidth(kPanelWidths[6]); // the last panel runs to the right edge
        bar->addWidget(p, i == 6 ? 1 : 0);
        StatusPanels[static_cast<size_t>(i)] = p;
    }
    set_panel(0, QStringLiteral("等待"));
}

// ---------------------------------------------------------------------------------------------
// Window-wide behaviour

void TForm2::set_panel(int index, const QString &text)
{
    if (index < 0 || index >= static_cast<int>(StatusPanels.size()))
        return;
    QLabel *p = StatusPanels[static_cast<size_t>(index)];
    p->setText(text);
    // A panel of fixed width grows to show its whole text (an update time in a wide regional
    // format) and returns to its width when the text fits again.
    if (index < 6)
        p->setFixedWidth(qMax(kPanelWidths[static_cast<size_t>(index)], p->sizeHint().width()));
}

QString TForm2::panel(int index) const
{
    if (index >= 0 && index < static_cast<int>(StatusPanels.size()))
        return StatusPanels[static_cast<size_t>(index)]->text();
    return {};
}

void TForm2::set_save_enabled(bool enabled)
{
    // Read-only mode keeps the save commands disabled for the whole run.
    enabled = enabled && !read_only_;
    ToolButtonSave->setEnabled(enabled);
    SpeedButton2->setEnabled(enabled);
}

bool TForm2::save_enabled() const
{
    return SpeedButton2->isEnabled();
}

PaneWidths TForm2::pane_widths() const
{
    const QList<int> s = Splitter->sizes();
    return PaneWidths{s.value(0), s.value(1), s.value(2), s.value(3), s.value(4)};
}

void TForm2::set_pane_widths(const PaneWidths &w)
{
    Splitter->setSizes({w.major, w.minor, w.notes, w.editor, w.pictures});
    static_cast<PaneSplitter *>(Splitter)->kept_left = {w.major, w.minor, w.notes};
}

void TForm2::enter_read_only_mode()
{
    read_only_ = true;
    setWindowTitle(caption_ + QStringLiteral(" 只读"));
    for (QWidget *w : std::initializer_list<QWidget *>{ToolButton1,
                                                       ToolButton2,
                                                       ToolButton3,
                                                       ToolButton4,
                                                       ToolButton6,
                                                       ToolButtonSave,
                                                       ToolButtonAddPicture,
                                                       ToolButtonDeletePicture,
                                                       ToolButton7,
                                                       ToolButton12,
                                                       ToolButton16,
                                                       ToolButton13,
                                                       ToolButton14,
                                                       ToolButton17,
                                                       ToolButton18,
                                                       Edit2,
                                                       Edit3,
                                                       SpeedButtonNew,
                                                       SpeedButton2,
                                                       SpeedButton3,
                                                       SpeedButton8,
                                                       SpeedButton9,
                                                       SpeedButton10,
                                                       SpeedButton11,
                                                       SpeedButton12,
                                                       Label3,
                                                       picture_pane_->button_group()}) {
        w->setEnabled(false);
        // For the rest of the run: the event filter turns any later enabling back.
        w->setProperty(kReadOnlyLocked, true);
        w->installEventFilter(this);
    }
    // Typing changes nothing: no text, no change mark, no autosave.
    editor()->setReadOnly(true);
    Edit2->setReadOnly(true);
    Edit3->setReadOnly(true);
}

QString TForm2::read_only_text() const
{
    QString reason = store.read_only_reason();
    if (reason.isEmpty())
        reason = QStringLiteral("已经有其他程序打开了数据库");
    return reason + QStringLiteral("，现在以只读开启，只能查看不能保存。");
}

bool TForm2::refused_in_read_only()
{
    if (!read_only_)
        return false;
    dialogs_.message(read_only_text());
    return true;
}

void TForm2::FormResize()
{
    const PaneWidths now = pane_widths();
    PaneWidths before = now;
    const std::array<int, 3> kept = static_cast<PaneSplitter *>(Splitter)->kept_left;
    if (kept[0] > 0) {
        before.major = kept[0];
        before.minor = kept[1];
        before.notes = kept[2];
    }
    PaneWidths wanted = resize_panes(before, frameGeometry().width(), g4width);
    // What does not fit comes off the picture pane, then the editor pane; the three lists keep
    // their widths as long as the window holds them at all.
    const int room = Splitter->width() - 4 * Splitter->handleWidth();
    int excess = wanted.major + wanted.minor + wanted.notes + wanted.editor + wanted.pictures - room;
    for (int *w : {&wanted.pictures, &wanted.editor}) {
        const int cut = std::clamp(excess, 0, std::max(0, *w - 1));
        *w -= cut;
        excess -= cut;
    }
    if (!(wanted == now))
        set_pane_widths(wanted);
}

void TForm2::PopupMenu1Popup()
{
    const EncryptionMenuState s = encryption_menu_state(crypt.is_crypt);
    // Read-only mode: a mode change could never be saved.
    Popup1EncryptTitle->setEnabled(s.encrypt_with_title && !read_only_);
    Popup1EncryptContent->setEnabled(s.encrypt_content_only && !read_only_);
    Popup1Decrypt->setEnabled(s.remove_encryption && !read_only_);
}

void TForm2::PopupMenu2Popup()
{
    const int row = note_list_pane_->current_row();
    const NoteListMenuState s = note_list_menu_state(save_enabled(), crypt.is_crypt,
                                                     row >= 0 && row < note_list_model_->count()
                                                         ? std::optional<bool>(note_list_model_->entry(row).favourite)
                                                         : std::nullopt);
    Popup2Save->setEnabled(s.save);
    Popup2EncryptTitle->setEnabled(s.encryption.encrypt_with_title && !read_only_);
    Popup2EncryptContent->setEnabled(s.encryption.encrypt_content_only && !read_only_);
    Popup2Decrypt->setEnabled(s.encryption.remove_encryption && !read_only_);
    if (s.favourite) {
        Popup2AddFavourite->setEnabled(s.favourite->add);
        Popup2RemoveFavourite->setEnabled(s.favourite->remove);
    }
    // Read-only mode: the commands that write are off, as their tool buttons are.
    if (read_only_) {
        for (QAction *a : {Popup2New, Popup2Delete, Popup2Move, Popup2AddFavourite, Popup2RemoveFavourite})
            a->setEnabled(false);
    }
}

bool TForm2::event(QEvent *e)
{
    // Hints of menu items and buttons go to status panel 6.
    if (e->type() == QEvent::StatusTip) {
        set_panel(6, static_cast<QStatusTipEvent *>(e)->tip());
        return true;
    }
    return QMainWindow::event(e);
}

bool TForm2::eventFilter(QObject *watched, QEvent *e)
{
    if (e->type() == QEvent::EnabledChange && read_only_ && watched->property(kReadOnlyLocked).toBool()) {
        auto *w = static_cast<QWidget *>(watched);
        if (!w->testAttribute(Qt::WA_Disabled))
            w->setEnabled(false);
        return false;
    }
    // Read-only mode: an input method that sends its text all the same types nothing either.
    if (e->type() == QEvent::InputMethod && read_only_ &&
        (watched == editor() || watched == editor()->viewport() || watched == Edit2 || watched == Edit3))
        return true;
    if (e->type() == QEvent::KeyPress && (watched == editor() || watched == editor()->viewport())) {
        // Ctrl+V with a picture on the clipboard: the body becomes rich text before the paste
        // itself runs in the editor. The key goes on to the editor.
        const auto *k = static_cast<QKeyEvent *>(e);
        if (k->key() == Qt::Key_V && (k->modifiers() & Qt::ControlModifier)) {
            const QMimeData *clip = QGuiApplication::clipboard()->mimeData();
            if (clip && clip->hasImage()) {
                note.is_rtf = BodyKind::Rtf;
                set_panel(4, QStringLiteral("RTF"));
                // The editor itself cannot take a bitmap: it goes in as a picture here, and the
                // editor's own paste then finds nothing to add.
                paste_picture_into_body();
            }
        }
    }
    return QMainWindow::eventFilter(watched, e);
}

void TForm2::show_tab(int index)
{
    note_list_pane_->show_tab(index); // the headings list is built when its tab becomes current
}

// ---------------------------------------------------------------------------------------------
// Editing commands on the focused text control

namespace {
template <typename OnText, typename OnLine> void on_focused_text(OnText on_text, OnLine on_line)
{
    QWidget *w = QApplication::focusWidget();
    while (w && !qobject_cast<QTextEdit *>(w) && !qobject_cast<QLineEdit *>(w) && w->parentWidget() &&
           qobject_cast<QAbstractScrollArea *>(w->parentWidget()))
        w = w->parentWidget(); // the editor's viewport
    if (auto *t = qobject_cast<QTextEdit *>(w))
        on_text(t);
    else if (auto *l = qobject_cast<QLineEdit *>(w))
        on_line(l);
}
} // namespace

void TForm2::edit_undo()
{
    // Undo is an edit too: nothing of a read-only field goes back.
    on_focused_text(
        [](QTextEdit *t) {
            if (!t->isReadOnly())
                t->undo();
        },
        [](QLineEdit *l) {
            if (!l->isReadOnly())
                l->undo();
        });
}
void TForm2::edit_cut()
{
    on_focused_text([](QTextEdit *t) { t->cut(); }, [](QLineEdit *l) { l->cut(); });
}
void TForm2::edit_copy()
{
    on_focused_text([](QTextEdit *t) { t->copy(); }, [](QLineEdit *l) { l->copy(); });
}
void TForm2::edit_paste()
{
    on_focused_text([](QTextEdit *t) { t->paste(); }, [](QLineEdit *l) { l->paste(); });
}
void TForm2::edit_delete()
{
    on_focused_text(
        [](QTextEdit *t) {
            if (!t->isReadOnly())
                t->textCursor().removeSelectedText();
        },
        [](QLineEdit *l) {
            if (l->hasSelectedText() && !l->isReadOnly())
                l->del();
        });
}
void TForm2::edit_select_all()
{
    on_focused_text([](QTextEdit *t) { t->selectAll(); }, [](QLineEdit *l) { l->selectAll(); });
}

// ---------------------------------------------------------------------------------------------
// Command handlers

void TForm2::unfinished()
{
    dialogs_.message(unfinished_text());
}

void TForm2::N2Click()
{
    unfinished();
}
void TForm2::N3Click()
{
    unfinished();
}
void TForm2::N29Click()
{
    unfinished();
}
void TForm2::N30Click()
{
    unfinished();
}
void TForm2::N31Click()
{
    unfinished();
}

void TForm2::N9Click()
{
    dialogs_.message(QStringLiteral("请在右上角输入关键字查找"));
}

void TForm2::N11Click()
{
    Q_EMIT settingsRequested();
}

void TForm2::N14Click()
{
    QDesktopServices::openUrl(QUrl(help_url()));
}

void TForm2::N15Click()
{
    dialogs_.message(QStringLiteral("云杉札记 ") + QStringLiteral(YUNSHAN_VERSION) + QStringLiteral("，联系邮箱：") +
                     contact_address());
}

void TForm2::N83Click()
{
    dialogs_.message(QStringLiteral("任何意见建议可以发送邮件到 ") + contact_address());
}

void TForm2::Label9Click()
{
    progress_panel_->hide();
}

void TForm2::Button5Click()
{
    move_panel_->hide();
}

void TForm2::N85Click()
{
    force_backup_at_exit(store, run);
    close();
}

void TForm2::N86Click()
{
    skip_backup_at_exit(run);
    close();
}

// Commands whose behaviour comes with later work.
void TForm2::SpeedButton8Click()
{
    if (read_only_)
        return; // the body cannot be saved
    if (editor_pane_->toggle_bold())
        mark_rich_text();
}

void TForm2::SpeedButton9Click()
{
    if (read_only_)
        return;
    if (editor_pane_->toggle_red())
        mark_rich_text();
}

void TForm2::mark_rich_text()
{
    note.is_rtf = BodyKind::Rtf;
    set_panel(4, QStringLiteral("RTF"));
}

} // namespace yunshan
