#include "app/ui/tform2.h"

#include "app/command_rules.h"
#include "app/startup.h"
#include "app/ui/application_setup.h"
#include "app/ui/catalogue_pane.h"
#include "app/ui/editor_pane.h"
#include "app/ui/focused_text.h"
#include "app/ui/main_commands.h"
#include "app/ui/move_panel.h"
#include "app/ui/note_list_pane.h"
#include "app/ui/picture_pane.h"
#include "app/ui/progress_panel.h"
#include "app/ui/read_only_lock.h"
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
constexpr int kListFontPixels = 16;
constexpr int kEditingGroupHeight = 96;
constexpr int kStartPaneWidths[5] = {100, 102, 195, 490, 218};

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

    commands_ = new MainCommands(*this);
    build_panes();
    bind_commands();
    status_panels_.emplace(statusBar());
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

void TForm2::bind_commands()
{
    // Every command id and what it runs; menu items, tool buttons and pane buttons that share a
    // handler do the same thing.
    const std::pair<const char *, void (TForm2::*)()> commands[] = {
        // 文件
        {"N2", &TForm2::import_data},
        {"N3", &TForm2::export_as_text},
        {"N23", &TForm2::export_category_database},
        {"N91", &TForm2::sync_from_share},
        {"N92", &TForm2::back_up_to_share},
        {"N24", &TForm2::promote_backup_file},
        {"N38", &TForm2::set_login_password},
        {"N39", &TForm2::clear_login_password},
        {"N41", &TForm2::encrypt_note_with_title},
        {"N67", &TForm2::encrypt_note_content},
        {"N42", &TForm2::decrypt_note},
        {"MenuNewNote", &TForm2::new_note},
        {"N65", &TForm2::save_note_if_changed},
        {"MenuSaveAs", &TForm2::save_note_as_rtf},
        {"N45", &TForm2::printer_setup},
        {"N44", &TForm2::print_open_note},
        {"N73", &TForm2::add_to_favourites},
        {"N74", &TForm2::remove_from_favourites},
        {"N75", &TForm2::list_favourites},
        {"N81", &TForm2::list_encrypted_notes},
        {"N85", &TForm2::exit_with_backup},
        {"N86", &TForm2::exit_without_backup},
        // 编辑
        {"N9", &TForm2::explain_search},
        {"MenuFindNext", &TForm2::find_next_in_note},
        {"MenuPastePicture", &TForm2::paste_picture},
        {"MenuAddPicture", &TForm2::add_picture_file},
        {"N71", &TForm2::start_moving_note},
        {"N29", &TForm2::cut_minor_category},
        {"N30", &TForm2::merge_minor_category},
        {"N31", &TForm2::merge_major_category},
        {"MenuBold", &TForm2::toggle_bold},
        {"MenuRed", &TForm2::toggle_red},
        // 设置, 帮助
        {"N11", &TForm2::show_settings},
        {"MenuBackupSettings", &TForm2::show_settings},
        {"MenuWebdavSettings", &TForm2::show_settings},
        {"N14", &TForm2::show_help},
        {"N15", &TForm2::show_about},
        {"N83", &TForm2::show_feedback_address},
        {"N94", &TForm2::check_for_update},
        // The editor's context menu
        {"N36", &TForm2::find_in_note},
        {"Popup1DefaultFont", &TForm2::choose_editor_font},
        {"Popup1EncryptTitle", &TForm2::encrypt_note_with_title},
        {"Popup1EncryptContent", &TForm2::encrypt_note_content},
        {"Popup1Decrypt", &TForm2::decrypt_note},
        {"Popup1Print", &TForm2::print_open_note},
        {"Popup1SaveAs", &TForm2::save_note_as_rtf},
        // The note list's context menu
        {"Popup2New", &TForm2::new_note},
        {"Popup2Save", &TForm2::save_open_note},
        {"Popup2Delete", &TForm2::delete_selected_note},
        {"Popup2EncryptTitle", &TForm2::encrypt_note_with_title},
        {"Popup2EncryptContent", &TForm2::encrypt_note_content},
        {"Popup2Decrypt", &TForm2::decrypt_note},
        {"Popup2Print", &TForm2::print_open_note},
        {"Popup2Move", &TForm2::start_moving_note},
        {"Popup2AddFavourite", &TForm2::add_to_favourites},
        {"Popup2RemoveFavourite", &TForm2::remove_from_favourites},
        {"Popup2ShowFavourites", &TForm2::list_favourites},
        // Tool bar
        {"ToolButton1", &TForm2::new_major_category},
        {"ToolButton2", &TForm2::delete_major_category},
        {"ToolButton3", &TForm2::new_minor_category},
        {"ToolButton4", &TForm2::delete_minor_category},
        {"ToolButton6", &TForm2::new_note},
        {"ToolButtonSave", &TForm2::save_open_note},
        {"ToolButtonAddPicture", &TForm2::add_picture_file},
        {"ToolButtonDeletePicture", &TForm2::delete_selected_picture},
        {"ToolButton7", &TForm2::delete_selected_note},
        {"ToolButton12", &TForm2::pin_to_top},
        {"ToolButton16", &TForm2::unpin},
        {"ToolButton13", &TForm2::move_up},
        {"ToolButton14", &TForm2::move_down},
        {"ToolButton17", &TForm2::rename_selected},
        {"ToolButton18", &TForm2::back_up_now},
        {"Button1", &TForm2::search_all_notes},
        {"Button3", &TForm2::find_next_in_note},
        {"Button2", &TForm2::toggle_highlight},
        // The editing group
        {"SpeedButtonNew", &TForm2::new_note},
        {"SpeedButton2", &TForm2::save_open_note},
        {"SpeedButton3", &TForm2::save_note_as_rtf},
        {"SpeedButton8", &TForm2::toggle_bold},
        {"SpeedButton9", &TForm2::toggle_red},
        {"SpeedButton10", &TForm2::choose_selection_font},
        {"SpeedButton11", &TForm2::insert_picture_file},
        {"SpeedButton12", &TForm2::paste_into_body},
        {"Label3", &TForm2::choose_editor_font},
    };
    for (const auto &[id, handler] : commands)
        commands_->bind(id, this, handler);
    // The standard editing commands act on the text control that has the focus.
    const std::pair<const char *, void (*)()> editing[] = {
        {"MenuCopy", &copy_focused_text},
        {"MenuPaste", &paste_into_focused_text},
        {"Popup1Undo", &undo_in_focused_text},
        {"Popup1Cut", &cut_focused_text},
        {"Popup1Copy", &copy_focused_text},
        {"Popup1Paste", &paste_into_focused_text},
        {"Popup1Delete", &delete_focused_selection},
        {"Popup1SelectAll", &select_all_focused_text},
    };
    for (const auto &[id, edit] : editing)
        commands_->bind(id, this, std::function<void()>(edit));
    connect(commands_->menu("PopupMenu1"), &QMenu::aboutToShow, this, &TForm2::update_editor_menu);
    connect(commands_->menu("PopupMenu2"), &QMenu::aboutToShow, this, &TForm2::update_note_list_menu);
    connect(commands_, &MainCommands::hintShown, this, [this](const QString &hint) { set_panel(6, hint); });
}

QLineEdit *TForm2::search_box() const
{
    return commands_->search_box();
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
    splitter_ = splitter;
    splitter->setObjectName(QStringLiteral("Splitter"));
    splitter->setHandleWidth(kSplitterWidth);
    splitter->setChildrenCollapsible(false);
    central_layout->addWidget(splitter);

    // 大类, 小类: the first two panes.
    catalogue_pane_ = new CataloguePane(splitter_, list_font());

    // Note list and headings: a page control with the tabs "笔记列表" and "小标题".
    note_list_model_ = new NoteListModel(this);
    note_list_pane_ = new NoteListPane(list_font(), splitter_);
    note_list_pane_->set_model(note_list_model_);
    editor_pane_ = new EditorPane(list_font());
    note_list_pane_->set_headings_page(editor_pane_->headings_list());
    editor_pane_->headings_list()->show();
    connect(note_list_pane_, &NoteListPane::contextMenuRequested, this,
            [this](const QPoint &global_pos) { commands_->menu("PopupMenu2")->popup(global_pos); });
    connect(note_list_pane_, &NoteListPane::previousPageClicked, this, &TForm2::previous_page);
    connect(note_list_pane_, &NoteListPane::nextPageClicked, this, &TForm2::next_page);
    connect(note_list_pane_, &NoteListPane::favouritesClicked, this, &TForm2::list_favourites);
    connect(note_list_pane_, &NoteListPane::headingsShown, this, &TForm2::headings_tab_shown);
    connect(note_list_pane_, &NoteListPane::tabHint, this, [this](const QString &hint) { set_panel(6, hint); });

    // 内容: editing group over the editor.
    auto *content = make_group(splitter_, "GroupBox4", QStringLiteral("内容"));
    auto *col4 = tight_column(content);
    auto *editing = new QGroupBox(content);
    editing->setObjectName(QStringLiteral("GroupBox6"));
    editing->setAccessibleName(QStringLiteral("编辑"));
    editing->setFixedHeight(kEditingGroupHeight);
    auto *grid = new QGridLayout(editing);
    grid->setContentsMargins(4, 2, 4, 2);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(2);
    auto *row = new QHBoxLayout;
    row->setSpacing(1);
    for (QToolButton *b : commands_->make_editing_buttons(editing))
        row->addWidget(b);
    row->addStretch(1);
    notice_label_ = new QLabel(editing);
    notice_label_->setObjectName(QStringLiteral("Label1"));
    notice_label_->setAccessibleName(QStringLiteral("通知"));
    row->addWidget(notice_label_);
    grid->addLayout(row, 0, 0, 1, 2);

    auto *title_label = new QLabel(QStringLiteral("标题"), editing);
    title_label->setObjectName(QStringLiteral("LabelTitle"));
    auto *tag_label = new QLabel(QStringLiteral("标签"), editing);
    tag_label->setObjectName(QStringLiteral("LabelTag"));
    title_field_ = new QLineEdit(editing);
    title_field_->setObjectName(QStringLiteral("Edit2"));
    title_field_->setAccessibleName(QStringLiteral("标题"));
    tag_field_ = new QLineEdit(editing);
    tag_field_->setObjectName(QStringLiteral("Edit3"));
    tag_field_->setAccessibleName(QStringLiteral("标签"));
    for (QLineEdit *e : {title_field_, tag_field_})
        e->setFont(list_font());
    title_label->setBuddy(title_field_);
    tag_label->setBuddy(tag_field_);
    grid->addWidget(title_label, 1, 0);
    grid->addWidget(title_field_, 1, 1);
    grid->addWidget(tag_label, 2, 0);
    grid->addWidget(tag_field_, 2, 1);
    col4->addWidget(editing);

    editor_pane_->setParent(content);
    editor()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(editor(), &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        commands_->menu("PopupMenu1")->popup(editor()->viewport()->mapToGlobal(pos));
    });
    // The editor menu's own shortcuts (Ctrl+F, Ctrl+P) work while the editor has the focus.
    for (QAction *a : {commands_->action("N36"), commands_->action("Popup1Print")}) {
        a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        editor()->addAction(a);
    }
    col4->addWidget(editor_pane_, 1);

    // 图片: the picture pane.
    picture_pane_ = new PicturePane(dialogs_, splitter_);

    // Only the picture pane takes up a change of the window's width; the resize rule then
    // shares it with the editor pane.
    for (int i = 0; i < 5; ++i)
        splitter_->setStretchFactor(i, i == 4 ? 1 : 0);
    // Only the editor and picture panes give way when the window narrows: they may shrink
    // below what their buttons need (the buttons are then cut off at the right).
    content->setMinimumWidth(1);
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
    connect(move_panel_, &MovePanel::confirmed, this, &TForm2::confirm_move);
    connect(move_panel_, &MovePanel::cancelled, this, &TForm2::cancel_move);

    progress_panel_ = new ProgressPanel(over);
    progress_panel_->setGeometry(291, 231 - kToolBarHeight, 374, 105);
    connect(progress_panel_, &ProgressPanel::closeRequested, this, &TForm2::hide_progress);
}

// ---------------------------------------------------------------------------------------------
// Window-wide behaviour

void TForm2::set_panel(int index, const QString &text)
{
    status_panels_->set(index, text);
}

QString TForm2::panel(int index) const
{
    return status_panels_->text(index);
}

void TForm2::set_save_enabled(bool enabled)
{
    // Read-only mode keeps the save commands disabled for the whole run.
    enabled = enabled && !read_only_;
    commands_->button("ToolButtonSave")->setEnabled(enabled);
    commands_->button("SpeedButton2")->setEnabled(enabled);
}

bool TForm2::save_enabled() const
{
    return commands_->button("SpeedButton2")->isEnabled();
}

PaneWidths TForm2::pane_widths() const
{
    const QList<int> s = splitter_->sizes();
    return PaneWidths{s.value(0), s.value(1), s.value(2), s.value(3), s.value(4)};
}

void TForm2::set_pane_widths(const PaneWidths &w)
{
    splitter_->setSizes({w.major, w.minor, w.notes, w.editor, w.pictures});
    static_cast<PaneSplitter *>(splitter_)->kept_left = {w.major, w.minor, w.notes};
}

void TForm2::enter_read_only_mode()
{
    read_only_ = true;
    setWindowTitle(caption_ + QStringLiteral(" 只读"));
    QList<QWidget *> locked = commands_->writing_buttons();
    locked << title_field_ << tag_field_ << picture_pane_->button_group();
    auto *lock = new ReadOnlyLock(this);
    lock->lock(locked);
    // Typing changes nothing: no text, no change mark, no autosave.
    editor()->setReadOnly(true);
    title_field_->setReadOnly(true);
    tag_field_->setReadOnly(true);
    lock->refuse_input({editor(), editor()->viewport(), title_field_, tag_field_});
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
    const std::array<int, 3> kept = static_cast<PaneSplitter *>(splitter_)->kept_left;
    if (kept[0] > 0) {
        before.major = kept[0];
        before.minor = kept[1];
        before.notes = kept[2];
    }
    PaneWidths wanted = resize_panes(before, frameGeometry().width(), g4width);
    // What does not fit comes off the picture pane, then the editor pane; the three lists keep
    // their widths as long as the window holds them at all.
    const int room = splitter_->width() - 4 * splitter_->handleWidth();
    int excess = wanted.major + wanted.minor + wanted.notes + wanted.editor + wanted.pictures - room;
    for (int *w : {&wanted.pictures, &wanted.editor}) {
        const int cut = std::clamp(excess, 0, std::max(0, *w - 1));
        *w -= cut;
        excess -= cut;
    }
    if (!(wanted == now))
        set_pane_widths(wanted);
}

void TForm2::update_editor_menu()
{
    const EncryptionMenuState s = encryption_menu_state(crypt.is_crypt);
    // Read-only mode: a mode change could never be saved.
    commands_->action("Popup1EncryptTitle")->setEnabled(s.encrypt_with_title && !read_only_);
    commands_->action("Popup1EncryptContent")->setEnabled(s.encrypt_content_only && !read_only_);
    commands_->action("Popup1Decrypt")->setEnabled(s.remove_encryption && !read_only_);
}

void TForm2::update_note_list_menu()
{
    const int row = note_list_pane_->current_row();
    const NoteListMenuState s = note_list_menu_state(save_enabled(), crypt.is_crypt,
                                                     row >= 0 && row < note_list_model_->count()
                                                         ? std::optional<bool>(note_list_model_->entry(row).favourite)
                                                         : std::nullopt);
    const auto set = [this](const char *id, bool on) { commands_->action(id)->setEnabled(on); };
    set("Popup2Save", s.save);
    set("Popup2EncryptTitle", s.encryption.encrypt_with_title && !read_only_);
    set("Popup2EncryptContent", s.encryption.encrypt_content_only && !read_only_);
    set("Popup2Decrypt", s.encryption.remove_encryption && !read_only_);
    if (s.favourite) {
        set("Popup2AddFavourite", s.favourite->add);
        set("Popup2RemoveFavourite", s.favourite->remove);
    }
    // Read-only mode: the commands that write are off, as their tool buttons are.
    if (read_only_) {
        for (const char *id :
             {"Popup2New", "Popup2Delete", "Popup2Move", "Popup2AddFavourite", "Popup2RemoveFavourite"})
            set(id, false);
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
// Command handlers

void TForm2::unfinished()
{
    dialogs_.message(unfinished_text());
}

void TForm2::import_data()
{
    unfinished();
}
void TForm2::export_as_text()
{
    unfinished();
}
void TForm2::cut_minor_category()
{
    unfinished();
}
void TForm2::merge_minor_category()
{
    unfinished();
}
void TForm2::merge_major_category()
{
    unfinished();
}

void TForm2::explain_search()
{
    dialogs_.message(QStringLiteral("请在右上角输入关键字查找"));
}

void TForm2::show_settings()
{
    Q_EMIT settingsRequested();
}

void TForm2::show_help()
{
    QDesktopServices::openUrl(QUrl(help_url()));
}

void TForm2::show_about()
{
    dialogs_.message(QStringLiteral("云杉札记 ") + QStringLiteral(YUNSHAN_VERSION) + QStringLiteral("，联系邮箱：") +
                     contact_address());
}

void TForm2::show_feedback_address()
{
    dialogs_.message(QStringLiteral("任何意见建议可以发送邮件到 ") + contact_address());
}

void TForm2::hide_progress()
{
    progress_panel_->hide();
}

void TForm2::cancel_move()
{
    move_panel_->hide();
}

void TForm2::exit_with_backup()
{
    force_backup_at_exit(store, run);
    close();
}

void TForm2::exit_without_backup()
{
    skip_backup_at_exit(run);
    close();
}

// Commands whose behaviour comes with later work.
void TForm2::toggle_bold()
{
    if (read_only_)
        return; // the body cannot be saved
    if (editor_pane_->toggle_bold())
        mark_rich_text();
}

void TForm2::toggle_red()
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
