#include "app/startup.h"

#include "platform/dialogs.h"
#include "platform/paths.h"
#include "platform/settings_store.h"
#include "store/note_store.h"

#include <QDateTime>
#include <QFile>
#include <QTimeZone>

#include <cmath>

namespace yunshan {

int round_half_even(double value) { return int(std::nearbyint(value)); }

std::optional<EditorFont> read_start_settings(const SettingsStore &settings, RunSettings &run, QString &error)
{
    error.clear();
    if (!settings.exists())
        return std::nullopt;
    run.zhu_db = settings.value(QStringLiteral("zhu_db"));
    run.bei_db = settings.value(QStringLiteral("bei_db"));
    run.auto_backup = settings.value(QStringLiteral("auto"));
    run.tian = settings.value(QStringLiteral("tian"));
    const QString name = settings.value(QStringLiteral("font_name"));
    const QString size = settings.value(QStringLiteral("font_size"));
    if (name.isEmpty() || size.isEmpty())
        return std::nullopt;
    bool ok = false;
    const int points = size.trimmed().toInt(&ok);
    if (!ok || points <= 0) {
        error = QStringLiteral("'%1' is not a valid integer value").arg(size);
        return std::nullopt;
    }
    return EditorFont{name, points};
}

QString autosave_file(const RunSettings &run, int note_id)
{
    return run.tmp_save + QString::number(note_id) + QStringLiteral(".rtf");
}

static QString read_key(NoteStore &store, const QString &key)
{
    return store.get_first_string(QStringLiteral("select value1 from set_table where key1='") + key +
                                  QStringLiteral("'"));
}

void load_webdav_settings(NoteStore &store, RunSettings &run)
{
    run.webdav_qdxz = read_key(store, QStringLiteral("启动从网盘同步")).toInt();
    run.webdav_tcbc = read_key(store, QStringLiteral("退出保存到网盘")).toInt();
    run.dav_url = read_key(store, QStringLiteral("webDAV网址"));
    run.dav_username = read_key(store, QStringLiteral("webDAV用户名"));
    run.dav_password = read_key(store, QStringLiteral("webDAV密码"));
    run.zip_password = read_key(store, QStringLiteral("zip密码"));
    if (!run.dav_url.endsWith(QLatin1Char('/')))
        run.dav_url += QLatin1Char('/');
}

DeferredStepResult deferred_settings_step(NoteStore &store, RunSettings &run)
{
    DeferredStepResult result;
    if (!store.main_connected()) {
        result.show_settings = true;
        return result;
    }
    const QString pending = read_key(store, QStringLiteral("tmp_file1"));
    if (pending.isEmpty()) {
        store.set_first_string(QStringLiteral("insert into set_table(key1,value1) values('tmp_file1','000')"));
    } else if (pending != QLatin1String("000")) {
        bool ok = false;
        const int id = pending.toInt(&ok);
        // A missing autosave file (the temporary folder is cleared at boot) restores nothing;
        // the settings below are still read.
        if (ok && QFile::exists(autosave_file(run, id))) {
            result.recover_note_id = id;
            result.recover_file = autosave_file(run, id);
        }
    }
    load_webdav_settings(store, run);
    result.start_download = run.webdav_qdxz == 1;
    return result;
}

qint64 unix_now()
{
    const QDateTime local = QDateTime::currentDateTime();
    return QDateTime(local.date(), local.time(), QTimeZone::utc()).toSecsSinceEpoch();
}

void write_exit_stamp(NoteStore &store, qint64 now)
{
    const QString value = QString::number(now);
    if (store.get_first_integer(QStringLiteral("select count(*) from set_table where key1='last_time'")) != 0)
        store.set_first_string(QStringLiteral("update set_table set value1='") + value +
                               QStringLiteral("' where key1='last_time'"));
    else
        store.set_first_string(QStringLiteral("insert into set_table(key1,value1) values('last_time','") + value +
                               QStringLiteral("')"));
}

bool close_request(NoteStore &store, RunSettings &run, const OpenNoteState &note, bool save_enabled,
                   Dialogs &dialogs, const CloseActions &actions)
{
    if (save_enabled) {
        switch (dialogs.question_yes_no_cancel(QStringLiteral("笔记没保存，是否保存或者取消退出？"))) {
        case Dialogs::Answer::Cancel:
            return false;
        case Dialogs::Answer::Yes:
            if (actions.save_note)
                actions.save_note();
            break;
        case Dialogs::Answer::No:
            QFile::remove(autosave_file(run, note.noteId_bei));
            break;
        }
    }
    if (store.owns_mark())
        store.set_first_string(QStringLiteral("update set_table set value1='000' where key1='tmp_file1'"));
    if (run.global_change == 1)
        write_exit_stamp(store, actions.now ? actions.now() : unix_now());
    if (actions.exit_step)
        actions.exit_step();
    return true;
}

void force_backup_at_exit(RunSettings &run)
{
    run.global_change = 1;
    run.skip_exit_backup = 0;
    if (!run.dav_url.isEmpty() && !run.dav_username.isEmpty() && !run.dav_password.isEmpty() &&
        run.webdav_tcbc == 0)
        run.webdav_tcbc = 1;
}

void skip_backup_at_exit(RunSettings &run) { run.skip_exit_backup = 1; }

QString contact_email() { return QStringLiteral("yunshan-note@example.org"); }

} // namespace yunshan
