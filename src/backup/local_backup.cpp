#include "backup/local_backup.h"

#include "backup/cloud_sync.h"
#include "backup/transfer_errors.h"
#include "platform/dialogs.h"
#include "platform/paths.h"
#include "store/connection.h"
#include "store/database_files.h"
#include "store/note_store.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <stdexcept>

namespace yunshan {
namespace {

void sync_path(const QString &path, int flags)
{
    const int fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

QString system_error()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

QString backup_file_name(const QString &prefix, qint64 days_back, const QDate &today)
{
    return prefix + QLatin1Char('_') + today.addDays(-days_back).toString(QStringLiteral("yyyyMMdd")) +
           QStringLiteral(".sl3");
}

QString main_database_file(const NoteStore &store, const RunSettings &run)
{
    if (store.status() == kProgramFolder)
        return database_file_in(program_folder());
    return database_file_in(run.zhu_db);
}

void make_dated_copy(const QString &source, const QString &target)
{
    const QString temp = target + QStringLiteral(".tmp");
    QFile::remove(temp);
    try {
        Connection db;
        db.open_read_only(source);
        db.backup_to(temp);
        db.close();
        sync_path(temp, O_RDONLY);
        if (std::rename(QFile::encodeName(temp).constData(), QFile::encodeName(target).constData()) != 0)
            throw std::runtime_error(system_error().toStdString());
    } catch (...) {
        QFile::remove(temp);
        throw;
    }
    sync_path(QFileInfo(target).absolutePath(), O_RDONLY | O_DIRECTORY);
}

BackupResult backup_command(BackupContext &c, BackupRun run_by, BackupScope scope)
{
    RunSettings &run = c.run;
    const BackupPanel &panel = c.panel;
    const auto esc = [&panel] { return panel.esc_down && panel.esc_down(); };
    const auto on_main = [&panel](const std::function<void()> &fn) { run_on_main(panel.on_main, fn); };
    BackupResult result;

    panel.show(QStringLiteral("正在备份……"));
    panel.start(ProgressMode::Upload);

    QString source;
    on_main([&] { source = main_database_file(c.store, run); });
    const WebDavAccount account{run.dav_url, run.dav_username, run.dav_password};
    const bool upload = account.complete() && (run.webdav_tcbc || run_by == BackupRun::Command);
    bool uploaded = false;
    bool failed = false;
    QString conflicts;
    if (upload) {
        // The share's changes since this machine's last sync come in before the upload.
        SyncContext sync{c.store, run, c.session, c.dialogs, panel, c.now};
        try {
            const SyncOutcome outcome = sync_with_share(sync, SyncPurpose::BeforeUpload);
            result.replaced = outcome.replaced;
            if (outcome.merge)
                conflicts = conflict_report_text(*outcome.merge, outcome.merged_at);
            if (outcome.cancelled) {
                panel.hide();
                return result;
            }
            uploaded = outcome.share_current;
            failed = !uploaded;
        } catch (const std::exception &e) {
            report_transfer_failure(c.dialogs, TransferStep::Upload, account.url, e);
            if (run_by == BackupRun::Command) {
                // The command ends here; a failure stays on the panel until it is closed.
                if (is_cancellation(e))
                    panel.hide();
                return result;
            }
            // At exit an unreachable share must not cost the local copy nor keep the window open.
            failed = true;
        }
    }
    if (!conflicts.isEmpty())
        c.dialogs.message(conflicts);

    if (esc() || scope == BackupScope::UploadOnly) {
        panel.hide();
        if (uploaded)
            on_main([&] { c.store.set_changed(false); });
        return result;
    }

    bool copied = false;
    if (!run.bei_db.isEmpty() && (run.auto_backup == QLatin1String("1") || run_by == BackupRun::Command)) {
        const QString target = join_path(run.bei_db, backup_file_name(QStringLiteral("buckup_"), 0, c.today));
        panel.line(QStringLiteral("正在本地备份……"));
        try {
            make_dated_copy(source, target);
            copied = true;
        } catch (const std::exception &e) {
            failed = true;
            c.dialogs.error(target + QStringLiteral(" 备份失败：") + QString::fromUtf8(e.what()));
        }
        if (copied && run_by == BackupRun::Command)
            c.dialogs.message(target + QStringLiteral(" 备份成功。"));
    }

    if (!failed && (uploaded || copied))
        on_main([&] { c.store.set_changed(false); });
    panel.hide();
    return result;
}

void remove_expired_copy(const RunSettings &run, const QDate &today)
{
    if (run.bei_db.isEmpty())
        return;
    bool number = false;
    const int days = run.tian.trimmed().toInt(&number);
    if (!number || days == 0)
        return;
    QFile::remove(
        join_path(run.bei_db, backup_file_name(QStringLiteral("buckup_"), static_cast<qint64>(days) + 1, today)));
}

BackupResult exit_backup_step(BackupContext &c, BackupRun &exit_mark)
{
    BackupResult result;
    if (!(c.run.auto_backup == QLatin1String("1") || c.run.webdav_tcbc))
        return result;
    exit_mark = BackupRun::AtExit;
    bool changed = false;
    run_on_main(c.panel.on_main, [&] { changed = c.store.changed(); });
    if (changed && !c.run.skip_exit_backup)
        result = backup_command(c, BackupRun::AtExit, BackupScope::UploadAndCopy);
    remove_expired_copy(c.run, c.today);
    return result;
}

} // namespace yunshan
