#pragma once
// The main window: category lists, note list, editor, picture panel, tool bar, menus, context
// menus and the seven-panel status bar. This class builds the widgets and wires every command
// to its handler; the rules behind the commands live in the core.
#include "app/layout_rules.h"
#include "app/ui/status_panels.h"
#include "app/ui/transfer_runner.h"
#include "catalogue/note_list.h"
#include "crypto/note_crypt.h"
#include "notes/autosave.h"
#include "session/catalogue_selection.h"
#include "session/open_note_state.h"
#include "settings/run_settings.h"
#include "store/note_store.h"

#include <QColor>
#include <QFont>
#include <QMainWindow>
#include <QPointer>

#include <array>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QButtonGroup;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPrinter;
class QUrl;
class QSplitter;
class QTextEdit;
class QTimer;
class QToolBar;
class QToolButton;

namespace yunshan {

class Dialogs;
class FindDialog;
class SettingsStore;
struct NoteListRow;
class TMyThread;
class NoteSearchIndex;
class MainCommands;
class MovePanel;
class CataloguePane;
class EditorPane;
class NoteListModel;
class NoteListPane;
class PicturePane;
class ProgressPanel;
class UpdateNotice;

class TForm2 : public QMainWindow {
    Q_OBJECT

  public:
    explicit TForm2(Dialogs &dialogs, QWidget *parent = nullptr);
    ~TForm2() override;

    // Read-only mode: caption suffix " 只读"; the tool-bar buttons, the editing group and the
    // picture button group are disabled and the editor, title and tag-line fields take no input,
    // for the rest of the run. The message is not shown here.
    void enter_read_only_mode();
    // After a connect that may only read (another instance holds the owner mark, or the main
    // file cannot be written): read-only mode and its message with the reason.
    void database_owned_elsewhere();
    // Why this instance only reads, and that nothing can be saved: the message of read-only mode,
    // also shown when a menu command that would write is refused.
    QString read_only_text() const;
    // Status bar panel 0: the connection status, with the problem of the last connect after it.
    void show_connection_status();
    bool read_only() const { return read_only_; }

    // The login check of window creation (with the main database open). False when the entry was
    // wrong or cancelled: the program then ends without showing the window.
    bool login_at_start();
    bool login_refused() const { return login_refused_; }

    // Status bar panels 0..6.
    void set_panel(int index, const QString &text);
    QString panel(int index) const;

    // The save commands (tool button "保存笔记" and button "保存"): enabled means unsaved changes.
    void set_save_enabled(bool enabled);
    bool save_enabled() const;

    // The picture panel: thumbnails, the picture buttons (SpeedButton4, SpeedButton6,
    // SpeedButton5 in GroupBox7) and the viewer.
    PicturePane *picture_pane() const { return picture_pane_; }
    // The floating panels: moving a note (GroupBox8 with Button4 确定 and Button5 取消) and the
    // progress of backups, transfers and updates (GroupBox9 with the lines Label8 and Label10 and
    // the "X" Label9).
    MovePanel *move_panel() const { return move_panel_; }
    ProgressPanel *progress_panel() const { return progress_panel_; }
    // The category lists: GroupBox1 "大类" with ListBox1, GroupBox2 "小类" with ListBox2.
    CataloguePane *catalogue_pane() const { return catalogue_pane_; }
    // The note editor (RichEdit1) with find, the link look and the headings list (ListBox4, shown
    // in the second tab of the note-list group).
    EditorPane *editor_pane() const { return editor_pane_; }
    // The note list: GroupBox3 with the page control PageControl1, the tab "笔记列表" (ListBox3
    // and the paging buttons) and the tab "小标题" (the editor pane's ListBox4); the entries are the
    // model's, its single record of the listed notes' ids, modes and favourite marks.
    NoteListPane *note_list_pane() const { return note_list_pane_; }
    NoteListModel *note_list_model() const { return note_list_model_; }

    // Current pane widths, left to right, and setting them.
    PaneWidths pane_widths() const;
    void set_pane_widths(const PaneWidths &w);

    // The dialogs every handler uses.
    Dialogs &dialogs() { return dialogs_; }

    // The text shown by every command whose behaviour is not there yet.
    static QString unfinished_text();

    // ---- State of the run (plain core structs) ----
    OpenNoteState note;
    NoteListState list;
    CatalogueSelection selection;
    RunSettings run;
    NoteCryptState crypt; // unsaved mode changes and the legacy form of the open note
    int g4width = 0;      // width of the editor pane at creation; the resize rule falls back to it
    int hintout = 0;      // reshow time-out of list hints (500 or 0)

    // The menus, context menus, tool bar and command buttons, each found by its id ("N94",
    // "ToolButton6", "SpeedButton2"); the search box is the tool bar's.
    MainCommands &commands() const { return *commands_; }
    // The editing group's title and tag-line fields and its notice label (Label1).
    QLineEdit *title_field() const { return title_field_; }
    QLineEdit *tag_field() const { return tag_field_; }
    QLabel *notice_label() const { return notice_label_; }
    QLineEdit *search_box() const;

    // ---- Start-up and shut-down ----
    // The databases and the owner mark, open for the whole run.
    NoteStore store;
    int listfontheight = 0; // height of "测试" in the list font; basis of the item heights
    int note_item_height = 0;
    // ---- Update check and self-update (tform2_update.cpp) ----
    // The update server, the version request and its answer, the notice label's link.
    UpdateNotice &updates() const { return *updates_; }
    // Downloads the update package, runs the closing steps, puts the new program in place of
    // this one, starts it and ends the application. False when the update did not happen (the
    // reason was shown; the old program is in place).
    bool install_update();
    // Starts the new program after a swap and ends this one (replaceable for tests).
    std::function<void(const QString &program)> restart_program;

    // The window-creation sequence: settings, databases, lists, first selection.
    void FormCreate(SettingsStore &settings);
    // Starts a worker: the start page after `start_page_delay_ms` (start-up run), the update
    // check, then the deferred settings step. Every worker is kept until it has ended; the
    // window's destruction stops and waits for all of them.
    void start_worker(int start_page_delay_ms = 300);
    bool worker_running() const;
    QList<QPointer<TMyThread>> workers() const { return workers_; }
    // The start page in the editor (change tracking suspended meanwhile), only while no note is
    // open and nothing unsaved is in the editor: it never covers what the user opened or typed.
    void show_start_page();
    // WebDAV settings and switches, the start-up download; the settings dialog without a
    // database. The autosave was recovered at window creation and is not looked at again.
    void deferred_settings();
    // The close request; false keeps the window open. From its start on, procedures the workers
    // hand over are dropped (for good once the close is allowed).
    bool FormCloseQuery();
    // Final clean-up: clears the view, closes both databases, releases the owner mark.
    void FormDestroy();
    // Backup when due and retention, at exit.
    void exit_step();
    // Major- and minor-category lists: the fill, the clicks (answering the pane's signals), and
    // the set-up of their drawing (item height and text offset from listfontheight).
    void load_class();
    // After another database file took the place of the open one: the remembered selections and
    // list entries are forgotten, the major list is filled and its first entry clicked (and the
    // first minor category's, with `open_first_section`). Throws DbError.
    void reload_catalogue(bool open_first_section);
    void open_major_category();
    void open_minor_category();
    void setup_category_lists();
    // Common tail of the ordering commands: runs `write` (the change on both databases), refills
    // the list of `target` (1 major, 2 minor, 3 note list) and reselects `caption` (or the open note).
    void apply_order_change(const QString &caption, const std::function<void()> &write, int target);
    // Clears the open note from the view.
    void clear_note_view();
    // The minor-category fill: one page of the notes of minor category `caption`.
    void fill_section_notes(const QString &caption);
    // Position of the open note in the note list, -1 when it is not listed.
    int find_open_note_index() const;
    // The note list for a search-box list kind: 1 search, 2 favourites, 3 encrypted notes.
    void load_note_list(NoteListKind kind);
    // Leaving the open note without saving: its pending change of encryption is dropped and the
    // list marks show the stored modes again.
    void drop_pending_crypt_changes();
    // Lets the search index catch up (or build) shortly after the database opened.
    void prepare_search_index();
    // Opens the selected entry's note (also run when the entry selection changes).
    void open_selected_note();
    // Selects note-list entry `row` (-1: none) without opening it.
    void select_note_entry(int row);
    // Find next of the search-box text in the editor; silent while silent_find_mark is 1 (a
    // silent miss sets it to -1).
    void find_next();
    int silent_find_mark = 0; // tag of "↓"

    // ---- Find, highlight and the editor's tools (tform2_find.cpp) ----
    // Marks (on) or unmarks every occurrence of the search-box text in the body; the marks are
    // no edit of the note.
    void mark_all_matches(bool on);
    FindDialog *FindDialog1 = nullptr; // created when first shown
    void find_dialog_next();
    void find_dialog_closed();
    // Headings list: jump (a heading missing from the body is said), hints of long entries.
    void jump_to_heading();
    void headings_hover(const QPoint &pos);
    // A link clicked in the editor: opened when it may be, said why not otherwise.
    void open_link(const QString &link);
    // A bitmap on the clipboard goes into the body as a JPEG picture; false when the clipboard
    // holds no bitmap alone (text with it is left to the editor's own paste).
    bool paste_picture_into_body();
    // Seams: the print and printer set-up dialogs (true: go on) and the desktop's handler of
    // web and mail links. Tests replace them.
    std::function<bool(QPrinter &)> print_dialog;
    std::function<bool(QPrinter &)> printer_setup_dialog;
    std::function<bool(const QUrl &)> open_url;
    QPrinter &printer();
    // The settings store of this computer (the default editor font goes there); set at creation.
    SettingsStore *settings_store = nullptr;

    // ---- Moving a note (tform2_move.cpp) ----
    int move_note_id = -1; // the note the move panel moves
    // Hints of too-wide note-list entries.
    void note_list_hover(const QPoint &pos);
    void note_list_left();

    // ---- Saving, change tracking and autosave (tform2_editor.cpp) ----
    QTimer *Timer1 = nullptr; // autosave timer, one tick a second, stopped at start-up
    AutosaveCycle autosave;   // time_count and the cycle length
    // The change events of the title, tag-line and editor fields, Enter in the title field, the
    // focus entering the title field or the editor.
    void fields_changed();
    void body_changed();
    void title_entered();
    void title_focused();
    void autosave_timer_tick();
    // Shows a recovered autosave body of note `note_id` with the note's stored title and tag
    // line, marked as unsaved. False when nothing was recovered (the file stays for later).
    bool recover_autosave(int note_id, const QString &file);
    // The last step of window creation: an autosave file the last run left is recovered into
    // the editor before the window is shown, so it never replaces anything the user opens or
    // types. An encrypted one asks for its password here.
    void recover_pending_autosave();
    // An autosave file was recovered at this start (the start-up download then waits).
    bool note_recovered_at_start() const { return note_recovered_at_start_; }
    // Before another database takes the place of the open one: an open note with unsaved changes
    // is saved (Yes) or its changes dropped (No), and the note view is cleared, so that no id of
    // the old database addresses a note of the new one. False: cancelled, or the save failed
    // (it has said why); nothing changed then.
    bool settle_note_before_database_change();

    // ---- Backup, WebDAV transfer and the progress panel (tform2_backup.cpp) ----
    // The progress timer (Timer2) and counters, the WebDAV session, and the worker thread that
    // runs backups, transfers and the export while the window's input is held.
    TransferRunner &transfers() const { return *transfers_; }

    // ---- Cloud sync (tform2_sync.cpp) ----
    // The package from the share in place of the main database, after the open note has been
    // settled (saved, dropped, or the sync cancelled); the lists are reloaded. True when the
    // downloaded database is in place. Transport failures (and ESC during the request) throw
    // HttpError; transfer_error_text() words them.
    // `at_start`: the start-up sync. `report` receives the message about conflict copies (empty
    // when the sync made none).
    bool load_from_webdav(bool at_start = false, QString *report = nullptr);
    // The start-up download of the deferred settings step: a share that cannot be reached leaves
    // the local notes in use. `note_recovered`: an autosave file was just recovered into the editor.
    void startup_sync(bool note_recovered);

    // Contact address and help page of this program.
    static QString contact_address();
    static QString help_url();

  Q_SIGNALS:
    // "数据库路径", "备份设置", "webDAV同步设置": show the settings dialog without waiting.
    void settingsRequested();
    // "取消登陆密码…": the settings dialog, shown, offers to clear the login password.
    void passwordClearRequested();
    // The settings dialog, waiting until it is closed (the WebDAV settings are incomplete).
    void settingsModalRequested();
    // "检查更新": start a manual update check (N94's tag is Manual when this is emitted).
    void updateCheckRequested();

  public Q_SLOTS:
    // ---- Command handlers ----
    // 文件
    void import_data();
    void export_as_text();
    void export_category_database();
    void sync_from_share();
    void back_up_to_share();
    void promote_backup_file();
    void set_login_password();
    void clear_login_password();
    void encrypt_note_with_title();
    void encrypt_note_content();
    void decrypt_note();
    void new_note();
    void save_note_if_changed();
    void save_note_as_rtf();
    void printer_setup();
    void print_open_note();
    void add_to_favourites();
    void remove_from_favourites();
    void list_favourites();
    void list_encrypted_notes();
    void exit_with_backup();
    void exit_without_backup();
    // 编辑
    void explain_search();
    void find_next_in_note();
    void paste_picture();
    void add_picture_file();
    void start_moving_note();
    void cut_minor_category();
    void merge_minor_category();
    void merge_major_category();
    void toggle_bold();
    void toggle_red();
    // 设置, 帮助
    void show_settings();
    void show_help();
    void show_about();
    void show_feedback_address();
    void check_for_update();
    // Tool bar
    void new_major_category();
    void delete_major_category();
    void new_minor_category();
    void delete_minor_category();
    void save_open_note();
    void delete_selected_note();
    void pin_to_top();
    void unpin();
    void move_up();
    void move_down();
    void rename_selected();
    void back_up_now();
    void search_from_box(); // Enter in the search box
    void search_all_notes();
    void toggle_highlight();
    // Pane buttons
    void previous_page();
    void next_page();
    void choose_selection_font();
    void insert_picture_file();
    void paste_into_body();
    void choose_editor_font();
    void delete_selected_picture();
    void confirm_move();
    void cancel_move();
    void hide_progress();
    // Context menu 1
    void find_in_note();
    // The headings tab was shown.
    void headings_tab_shown();

    // The resize rule; runs on every change of the window size.
    void FormResize();

    // Context-menu enabling, run each time a menu opens.
    void update_editor_menu();
    void update_note_list_menu();

  protected:
    void closeEvent(QCloseEvent *e) override;
    bool event(QEvent *e) override;
    bool eventFilter(QObject *watched, QEvent *e) override;

  private:
    // The editor pane's editor (RichEdit1).
    QTextEdit *editor() const;
    // Connects every command id to its handler.
    void bind_commands();
    void build_panes();
    void build_floating_panels();
    void build_backup();
    void setup_editor_tools();
    void build_update();
    // After a backup or a sync put another file in the main database's place.
    void after_main_file_replaced();
    void setup_note_list();
    // Favourite mark of the selected entry on or off; `no_entry_text` when none is selected.
    void mark_favourite(bool on, const QString &no_entry_text);
    // In read-only mode: says why a write is refused and returns true.
    bool refused_in_read_only();
    // Before the open note is left with unsaved changes: `question` offers to save them (Saved),
    // to drop them (Dropped: its autosave file and pending encryption change go) or to stay
    // (Cancelled, also when the save failed and has said why). Nothing unsaved: Saved.
    enum class UnsavedNote { Cancelled, Saved, Dropped };
    UnsavedNote settle_unsaved_note(const QString &question);
    void setup_editor_tracking();
    // A backup write failed and the backup was closed: said once, panel 0 follows.
    void report_backup_failure(const QString &message);
    void show_note_entries(const QList<NoteListRow> &rows);
    void refill_note_page();
    void unfinished();
    // The body now holds formatting: it is saved as rich text; panel 4 shows "RTF".
    void mark_rich_text();
    void show_tab(int index);

    // A procedure handed over by a worker, run only while the window is not closing.
    std::function<void()> unless_closing(std::function<void()> fn);

    Dialogs &dialogs_;
    MainCommands *commands_ = nullptr;
    UpdateNotice *updates_ = nullptr;
    QSplitter *splitter_ = nullptr;
    QLineEdit *title_field_ = nullptr; // Edit2
    QLineEdit *tag_field_ = nullptr;   // Edit3
    QLabel *notice_label_ = nullptr;   // Label1
    std::optional<StatusPanels> status_panels_;
    QList<QPointer<TMyThread>> workers_;
    bool closing_ = false;
    // Enter in the search box and the window's first show; goes before the widgets do.
    std::unique_ptr<QObject> note_list_events_;
    NoteSearchIndex *search_index_ = nullptr; // deleted in FormDestroy, before the store
    // The picture panel (GroupBox5 and everything in it); its signals reach the handlers of
    // tform2_pictures.cpp, which keep the open note's selected picture (`note.img_id`).
    PicturePane *picture_pane_ = nullptr;
    // The category lists; their clicks reach open_major_category and open_minor_category, which keep the
    // selection (`selection`) and fill the minor and note lists from the store.
    CataloguePane *catalogue_pane_ = nullptr;
    // The note list and its entries; the pane's signals reach open_selected_note, the hint handlers,
    // the paging buttons' handlers and headings_tab_shown.
    NoteListPane *note_list_pane_ = nullptr;
    NoteListModel *note_list_model_ = nullptr;
    // The search text the note list and the headings list mark in red: the search box's text
    // while the list shows a search (list.search_highlight), else none.
    void update_note_list_match();
    void setup_picture_panel();
    // Reads picture `id` and shows it in the pane's viewer.
    void open_picture(int id);
    // The floating panels; their signals reach confirm_move, cancel_move and hide_progress.
    MovePanel *move_panel_ = nullptr;
    ProgressPanel *progress_panel_ = nullptr;
    // The editor and the headings list; its signals reach the status bar and the handlers of
    // tform2_find.cpp and tform2_editor.cpp.
    EditorPane *editor_pane_ = nullptr;
    std::unique_ptr<QPrinter> printer_;
    QFont last_font_; // the font the selection font dialog showed last
    QColor last_color_;
    bool destroyed_ = false;
    bool read_only_ = false;
    TransferRunner *transfers_ = nullptr;
    bool login_refused_ = false;
    bool note_recovered_at_start_ = false;
    QString caption_;
};

} // namespace yunshan
