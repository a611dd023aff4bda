#pragma once
// Export of a major category into another database file, and promotion of a backup file to
// main and backup database.
#include "backup/background_work.h"
#include "store/category_export.h"

#include <QString>

#include <functional>

namespace yunshan {

class Dialogs;
class NoteStore;

// Shows a progress text on the notice label (empty text clears it). Called on the thread that
// runs export_command.
using NoticeFn = std::function<void(const QString &)>;

// The copy of export_command; `on_main` leads back to the thread that runs the command (empty:
// the copy runs there itself).
using ExportCopy = std::function<void(const OnMainThread &on_main)>;
// Runs the copy and returns once it has ended, rethrowing what it threw: the window runs it on a
// worker thread (see run_in_background) while its own events go on.
using ExportRunner = std::function<void(const ExportCopy &copy)>;

// Texts of the export command.
namespace export_text {
QString no_selection();     // "导出前请先选中一个大类。"
QString ask();              // "是否导出当前选中的大类？"
QString same_names();       // the notice that same-named categories are not checked
QString dialog_title();     // "导出为新数据库"
QString dialog_filter();    // "数据库文件 (*.sl3)"
QString live_database();    // refusal of the main or backup database as target
QString unknown_category(); // the selected caption is not in the database (stale list)
QString done();             // "导出完成。"
} // namespace export_text

// The chosen save path with ".sl3" added when it has no extension.
QString export_target_path(const QString &chosen);

// True when `path` names the file open on the store's main or backup connection (compared as
// canonical paths, so another spelling of the same file counts too).
bool is_live_database(NoteStore &store, const QString &path);

// Copies the major category `caption` of the main database into the database file `target`:
// the schema pieces the target lacks, a new `Class` row (px 100), its minor categories, every
// note of the category with its tag line, times, plain text, encryption mode, favourite mark and
// RTF body, the title rows and the pictures; fresh ids there, tied together by the id maps.
// The main file is read and the target written on connections of the copy's own (the store's
// are not used for it), everything in one transaction: on an error (thrown as DbError) the
// target keeps what it held before and a file created for the export is removed again.
ExportCounts export_major_category(NoteStore &store, const QString &caption, const QString &target,
                                   const NoticeFn &notice = {});

// The "导出为数据库…" command for the selected major caption (empty: none selected): the
// question, the notice, the save dialog, the refusals, the copy and the final message. Returns
// true when the copy was made; engine errors are thrown for the caller to show. Everything but
// the copy runs on the calling thread, which owns the store and the windows; `run_copy` (empty:
// right here) runs the copy, which touches neither and shows its notices through `on_main`.
bool export_command(NoteStore &store, Dialogs &dialogs, const QString &caption, const NoticeFn &notice = {},
                    const ExportRunner &run_copy = {});

// Texts of the promotion command.
namespace promote_text {
QString no_backup_folder(); // "备份文件夹没有设置，请先设置备份文件夹。"
QString dialog_title();
QString dialog_filter();  // dated copies first, any database file second
QString live_database();  // refusal of the main or backup database itself
QString not_a_database(); // the chosen file is no sound note database
QString read_only();      // another instance holds the databases
QString ask();            // "主备数据库将会被替换，此操作不可恢复，是否继续？"
QString done();           // "主备数据库替换完成"
} // namespace promote_text

// The "将备份文件转为正式…" command: a file of the backup folder becomes the main and the backup
// database. The copies are written beside each database first and then renamed over it, so a
// failure (thrown, with the reason) leaves both databases as they were; then Connect_to_db.
// `before_replace` runs once the user has agreed, before anything is replaced; false from it
// stops the command. Returns true when the databases were replaced.
bool promote_backup_command(NoteStore &store, QString &zhu_db, QString &bei_db, Dialogs &dialogs,
                            const std::function<void()> &on_read_only = {},
                            const std::function<bool()> &before_replace = {});

} // namespace yunshan
