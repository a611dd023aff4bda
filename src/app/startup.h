#pragma once
// Start-up and shut-down rules of the main window that need no widgets.
#include "session/open_note_state.h"
#include "settings/run_settings.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace yunshan {

class Dialogs;
class NoteStore;
class SettingsStore;

// The editor font from the settings; set only when both values are present.
struct EditorFont {
    QString name;
    int size = 0;
};

// Reads zhu_db, bei_db, auto and tian into `run`; returns the editor font when both
// font_name and font_size are set. A font_size that is not a decimal integer yields an error
// text in `error` and no font; any integer is accepted (0 keeps the editor's size, a negative
// size is a height in pixels).
std::optional<EditorFont> read_start_settings(const SettingsStore &settings, RunSettings &run, QString &error);

// An autosave file the last run left behind, to be recovered before the window takes input.
struct PendingAutosave {
    int note_id = -1; // -1: nothing to recover
    QString file;     // its path (exists when note_id >= 0)
};

// Reads the autosave key (creating it with "000" when it is missing and the store may write)
// and names the file it points to when that file exists. Nothing without a main database.
PendingAutosave pending_autosave(NoteStore &store, const RunSettings &run);

// What the deferred settings step asks the window to do.
struct DeferredStepResult {
    bool show_settings = false;  // no database connected: open the settings dialog
    bool start_download = false; // "启动从网盘同步" is on
};

// The deferred settings step: the WebDAV switches and settings. The autosave was dealt with
// when the window was created (pending_autosave), so this step never touches the editor.
DeferredStepResult deferred_settings_step(NoteStore &store, RunSettings &run);

// Reads the WebDAV settings and switches from set_table into `run`.
void load_webdav_settings(NoteStore &store, RunSettings &run);

// Local wall-clock time as seconds since 1970-01-01 00:00:00, read as if it were UTC.
qint64 unix_now();
// Writes the exit stamp `last_time` on both databases.
void write_exit_stamp(NoteStore &store, qint64 now);

// The close request. `save_enabled`: the open note has unsaved changes; `save_note` saves it
// and tells whether the note is now saved; `exit_step` runs the backup-and-retention step.
// Returns whether the window may close. When the save fails (it throws: the error is shown) or
// leaves the note unsaved, the window stays open and nothing else runs, so the autosave key
// keeps naming the autosave file. A failure writing the autosave key or the exit stamp is shown
// and the exit step runs all the same. The key is reset at exit only when the file it names is gone
// (saved or dropped): an autosave never recovered in this run is offered at the next start.
struct CloseActions {
    std::function<bool()> save_note;
    std::function<void()> exit_step;
    std::function<qint64()> now = unix_now;
};
bool close_request(NoteStore &store, RunSettings &run, const OpenNoteState &note, bool save_enabled, Dialogs &dialogs,
                   const CloseActions &actions);

// "退出(强制备份)": forces the backup at exit (and the upload when WebDAV is configured).
void force_backup_at_exit(NoteStore &store, RunSettings &run);
// "退出(不备份)": no backup at exit; the exit stamp is still written when the run wrote.
void skip_backup_at_exit(RunSettings &run);

// The contact address shown by the start page, the about box and the suggestions box.
QString contact_email();

} // namespace yunshan
