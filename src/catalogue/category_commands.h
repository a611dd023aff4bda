#pragma once
// The rules of the category commands: sort keys, name uniqueness, and the commands themselves
// over the store and the dialogs. The window only reads its lists, calls
// these and shows the outcome.
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace yunshan {

class Dialogs;
class NoteStore;

// What the ordering and rename commands act on: the list the user acted on last.
enum CommandTarget : int {
    kNoTarget = 0,
    kTargetMajor = 1,
    kTargetMinor = 2,
    kTargetNote = 3,
};

enum class OrderCommand { Pin, MoveUp, MoveDown, Unpin };

// Sort key of a new category appended to a list holding `entries` entries.
int new_category_px(int entries);
// Sort key after unpinning in a list of `entries` entries.
int unpin_px(int entries);

// The text a new category's name is stored as: the literal built with escape_sql_text keeps
// the slashes, so "50%" is stored as "50/%" and a double quote gets a slash before it.
QString stored_category_name(const QString &typed);

// Position of `text` in `entries` ignoring letter case; -1 when absent.
int index_ignoring_case(const QStringList &entries, const QString &text);

// The writes, one transaction each on both databases (the rows themselves: store/category_rows.h).
// Pins, moves or unpins the category captioned `caption` or the note `note_id`; `entries`: entries
// of the list concerned (for notes, of the note list's page). The rows changed.
int apply_order(NoteStore &store, OrderCommand command, int target, const QString &caption, int note_id, int entries);
// Renames the category captioned `old_caption` or the note `note_id` to `stored_caption`.
int rename_row(NoteStore &store, int target, const QString &stored_caption, const QString &old_caption, int note_id);

// The stored caption of a note of encryption mode `mode` (0 plain, 1 with title, 2 body only)
// titled `title` under `password`.
QString note_caption_for_mode(int mode, const QString &title, const QString &password);

// ---- Commands ----

// Message texts.
QString no_database_text();
QString class_exists_text();
QString section_exists_text();

// New major category: asks for the name, refuses a name the major list holds (ignoring case),
// inserts it on both databases, hands the entry to `show` (the stored form, as a refill would
// show it) and reports success. False when nothing was added.
bool new_class(NoteStore &store, Dialogs &dialogs, const QStringList &major_entries,
               const std::function<void(const QString &entry)> &show);

enum class NewSectionOutcome { Added, Stopped, CreateMajorFirst };
// New minor category under the selected major category (`class_caption`, nullopt when no major
// entry is selected). CreateMajorFirst: the major list is empty and the user wants to create a
// major category now.
NewSectionOutcome new_section(NoteStore &store, Dialogs &dialogs, int major_entries,
                              const std::optional<QString> &class_caption, int minor_entries,
                              const std::function<void(const QString &entry)> &show);

// Delete a major (`target` 1) or minor (2) category by its caption (nullopt: none selected).
// Only the category row goes. True when it was deleted ("删除成功。" only then).
bool delete_category(NoteStore &store, Dialogs &dialogs, int target, const std::optional<QString> &caption);

// What rename needs to know about its target.
struct RenameTarget {
    int target = kNoTarget;
    QString caption;    // selected entry of the list concerned (targets 1 and 2)
    int note_id = -1;   // target 3: the open note
    int crypt_mode = 0; // target 3: its encryption mode
    QString password;   // target 3: its password when encrypted
    // Target 3: a change of its encryption mode waits for a save, or it was read in the legacy
    // form. The caption would then be written in a form the other stored fields do not share,
    // and the note could not be opened again: the rename is refused.
    bool crypt_change_pending = false;
    bool legacy_form = false;
};
// Asks for the new name, checks it and renames on both databases. Returns the new name as typed
// (the text the list entry takes), nullopt when nothing changed.
std::optional<QString> rename_category_or_note(NoteStore &store, Dialogs &dialogs, const QStringList &major_entries,
                                               const RenameTarget &t);

} // namespace yunshan
