#include "app/startup.h"

#include "notes/autosave.h"
#include "platform/dialogs.h"
#include "platform/paths.h"
#include "platform/settings_store.h"
#include "store/note_store.h"
#include "store/set_table.h"

#include <QDateTime>
#include <QFile>
#include <QTimeZone>

#include <exception>

namespace yunshan {

std::optional<EditorFont> read_start_settings(const SettingsStore &settings, RunSettings &run, QString &error)
{
    error.clear();
    if (!settings.exists())
        return std::nullopt;
    run.zhu_db = settings.zhu_db();
    run.bei_db = settings.bei_db();
    run.auto_backup = settings.auto_backup();
    run.tian = settings.tian();
    const QString name = settings.font_name();
    const QString size = settings.font_size();
    if (name.isEmpty() || size.isEmpty())
        return std::nullopt;
    bool ok = false;
    const int points = size.trimmed().toInt(&ok);
    if (!ok) {
        error = QStringLiteral("'%1' is not a valid integer value").arg(size);
        return std::nullopt;
    }
    return EditorFont{name, points};
}

void load_webdav_settings(NoteStore &store, RunSettings &run)
{
    run.webdav_qdxz = set_table::read(store, set_table::key_start_download()).toInt() == 1;
    run.webdav_tcbc = set_table::read(store, set_table::key_exit_upload()).toInt() == 1;
    run.dav_url = set_table::read(store, set_table::key_dav_url());
    run.dav_username = set_table::read(store, set_table::key_dav_username());
    run.dav_password = set_table::read(store, set_table::key_dav_password());
    run.zip_password = set_table::read(store, set_table::key_zip_password());
    if (!run.dav_url.isEmpty() && !run.dav_url.endsWith(QLatin1Char('/')))
        run.dav_url += QLatin1Char('/');
}

PendingAutosave pending_autosave(NoteStore &store, const RunSettings &run)
{
    PendingAutosave result;
    if (!store.main_connected())
        return result;
    const QString pending = set_table::read_tmp_file1(store);
    if (pending.isEmpty()) {
        if (!store.read_only())
            set_table::create_tmp_file1(store);
    } else if (pending != QLatin1String("000")) {
        bool ok = false;
        const int id = pending.toInt(&ok);
        // A missing autosave file (the temporary folder is cleared at boot) restores nothing.
        if (ok && QFile::exists(autosave_path(run.tmp_save, id))) {
            result.note_id = id;
            result.file = autosave_path(run.tmp_save, id);
        }
    }
    return result;
}

DeferredStepResult deferred_settings_step(NoteStore &store, RunSettings &run)
{
    DeferredStepResult result;
    if (!store.main_connected()) {
        result.show_settings = true;
        return result;
    }
    load_webdav_settings(store, run);
    result.start_download = run.webdav_qdxz;
    return result;
}

qint64 unix_now()
{
    const QDateTime local = QDateTime::currentDateTime();
    return QDateTime(local.date(), local.time(), QTimeZone::utc()).toSecsSinceEpoch();
}

void write_exit_stamp(NoteStore &store, qint64 now)
{
    set_table::write_last_time(store, now);
}

// The autosave key names a file that is still there: an autosave nobody has recovered yet (the
// deferred step did not run in this run, or the note it belongs to was not the open one).
static bool unrecovered_autosave(NoteStore &store, const RunSettings &run)
{
    const QString pending = set_table::read_tmp_file1(store);
    bool ok = false;
    const int id = pending.toInt(&ok);
    return ok && pending != QLatin1String("000") && QFile::exists(autosave_path(run.tmp_save, id));
}

bool close_request(NoteStore &store, RunSettings &run, const OpenNoteState &note, bool save_enabled, Dialogs &dialogs,
                   const CloseActions &actions)
{
    if (save_enabled) {
        switch (dialogs.question_yes_no_cancel(QStringLiteral("笔记没保存，是否保存或者取消退出？"))) {
        case Dialogs::Answer::Cancel:
            return false;
        case Dialogs::Answer::Yes:
            try {
                if (!actions.save_note || !actions.save_note())
                    return false; // still unsaved: the save has said why
            } catch (const std::exception &e) {
                dialogs.error(QString::fromUtf8(e.what()));
                return false;
            }
            break;
        case Dialogs::Answer::No:
            QFile::remove(autosave_path(run.tmp_save, note.noteId_bei));
            break;
        }
    }
    // The bookkeeping of the exit: a failure is said, and the backup and upload still run.
    try {
        if (store.owns_mark() && !store.read_only() && store.main_connected() && !unrecovered_autosave(store, run))
            set_table::reset_tmp_file1(store);
        if (store.changed() && !store.read_only() && store.main_connected())
            write_exit_stamp(store, actions.now ? actions.now() : unix_now());
    } catch (const std::exception &e) {
        dialogs.error(QString::fromUtf8(e.what()));
    }
    if (actions.exit_step)
        actions.exit_step();
    return true;
}

void force_backup_at_exit(NoteStore &store, RunSettings &run)
{
    store.set_changed(true);
    run.skip_exit_backup = false;
    if (!run.dav_url.isEmpty() && !run.dav_username.isEmpty() && !run.dav_password.isEmpty() && !run.webdav_tcbc)
        run.webdav_tcbc = true;
}

void skip_backup_at_exit(RunSettings &run)
{
    run.skip_exit_backup = true;
}

QString contact_email()
{
    return QStringLiteral("yunshan-note@example.org");
}

} // namespace yunshan
