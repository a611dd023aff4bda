#include "backup/cloud_sync.h"

#include "backup/transfer_errors.h"
#include "backup/webdav.h"
#include "backup/zip_package.h"
#include "platform/dialogs.h"
#include "platform/paths.h"
#include "store/database_files.h"
#include "store/note_store.h"
#include "store/schema.h"
#include "store/set_table.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTimeZone>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>

#include <sys/stat.h>

namespace yunshan {

namespace {

constexpr qint64 kSmallestPackage = 1000;

bool rename_file(const QString &from, const QString &to)
{
    // rename(2) replaces `to` in one step; Qt's rename refuses an existing target.
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

// A database file holds the share's and the archive's passwords in clear: only its owner reads
// it, whatever mode it had or was made with.
void make_private(const QString &file)
{
    ::chmod(QFile::encodeName(file).constData(), 0600);
}

qint64 stamp_value(const QString &text)
{
    bool ok = false;
    const qint64 v = text.trimmed().toLongLong(&ok);
    return ok ? v : 0;
}

QString stamp_text(qint64 stamp)
{
    const QDateTime t = QDateTime::fromSecsSinceEpoch(stamp, QTimeZone::utc());
    const QLocale locale = QLocale::system();
    return locale.toString(t.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(t.time(), QLocale::LongFormat);
}

// The extracted file: a notes database (its main tables are there) and its exit stamp.
struct StagedDatabase {
    bool sound = false;
    qint64 last_time = 0;
};

StagedDatabase inspect_staged(const QString &path)
{
    StagedDatabase s;
    if (!QFileInfo(path).isFile())
        return s;
    const FileProbe probe = probe_database(path);
    s.sound = probe.sound() && !probe.missing.contains(QStringLiteral("set_table"));
    s.last_time = s.sound ? stamp_value(probe.last_time) : 0;
    return s;
}

QString unusable_package_text()
{
    return QStringLiteral("网盘上的压缩包里没有可用的数据库文件 notedb.sl3，本机数据库没有被替换。");
}

} // namespace

QString ring_slot(const QString &local, int n)
{
    return local + QStringLiteral(".bat") + QString::number(n);
}

QString rotate_into_ring(const QString &local)
{
    if (!QFileInfo::exists(local))
        return {};
    for (int n = 1; n <= kRingSlots; ++n) {
        const QString slot = ring_slot(local, n);
        if (QFileInfo::exists(slot)) {
            if (n < kRingSlots)
                continue;
            // Every slot taken (left so by hand or by an older version): the first one goes.
            const QString first = ring_slot(local, 1);
            if (!rename_file(local, first))
                return {};
            make_private(first);
            QFile::remove(ring_slot(local, 2));
            return first;
        }
        if (!rename_file(local, slot))
            return {};
        make_private(slot);
        QFile::remove(ring_slot(local, n == kRingSlots ? 1 : n + 1));
        return slot;
    }
    return {};
}

QString older_copy_question(qint64 remote_stamp, qint64 local_stamp)
{
    return QStringLiteral("注意：从网盘下载的数据库时间比本机原有数据库要旧，网盘数据时间") + stamp_text(remote_stamp) +
           QStringLiteral(" 本机数据时间") + stamp_text(local_stamp) +
           QStringLiteral("如是刚上传的备份，有些网盘需等几分钟才能更新缓存。是否继续使用本机数据库(放弃下载)？");
}

void write_webdav_settings(NoteStore &store, const RunSettings &run)
{
    set_table::replace(store, set_table::key_start_download(), QString::number(run.webdav_qdxz));
    set_table::replace(store, set_table::key_exit_upload(), QString::number(run.webdav_tcbc));
    set_table::replace(store, set_table::key_dav_url(), run.dav_url);
    set_table::replace(store, set_table::key_dav_username(), run.dav_username);
    set_table::replace(store, set_table::key_dav_password(), run.dav_password);
    set_table::replace(store, set_table::key_zip_password(), run.zip_password);
}

bool load_from_webdav(SyncContext &c)
{
    const BackupPanel &panel = c.panel;
    const auto esc = [&panel] { return panel.esc_down && panel.esc_down(); };
    const auto give_up = [&panel] {
        panel.hide();
        return false;
    };

    panel.start(kProgressDownload);
    panel.show(QString());
    if (esc())
        return give_up();
    panel.line(QStringLiteral("正在从网盘下载数据……"));

    // Replacing the files under another instance would lose what it writes.
    if (c.store.read_only()) {
        c.dialogs.message(
            c.store.owns_mark()
                ? c.store.read_only_reason() + QStringLiteral("，现在是只读模式，不能从网盘同步。")
                : QStringLiteral("已经有其他程序打开了数据库，现在是只读模式，不能从网盘同步。请先关闭其他程序。"));
        return give_up();
    }
    if (!c.store.main_connected()) {
        c.dialogs.message(QStringLiteral("主数据库没有连接，不能从网盘同步。请先在设置里指定主数据文件夹。"));
        return give_up();
    }
    const QString local = main_database_file(c.store, c.run);
    const QString folder = QFileInfo(local).absolutePath();
    QDir().mkpath(folder);

    const WebDavAccount account{c.run.dav_url, c.run.dav_username, c.run.dav_password};
    const std::unique_ptr<QTemporaryFile> package = package_temp_file(local);
    const DownloadResult got =
        download_package(c.session, account, package->fileName(), panel.transfer, panel.esc_down);
    if (esc())
        return give_up();
    if (got.size < kSmallestPackage || got.status < 200 || got.status > 299) {
        c.dialogs.message(transfer_error_text(TransferStep::Download, account.url, got));
        return give_up();
    }

    // The package is unpacked beside the database before anything there changes: a wrong
    // password or damaged data leaves every local file as it was.
    // Beside the database, so the move into place is a rename on the same file system.
    const QTemporaryDir staging(join_path(folder, QStringLiteral(".notedb-sync-XXXXXX")));
    if (!staging.isValid()) {
        c.dialogs.error(
            QStringLiteral("Cannot create a temporary folder in \"%1\": %2").arg(folder, staging.errorString()));
        return give_up();
    }
    const QString staged = join_path(staging.path(), QStringLiteral("notedb.sl3"));
    try {
        extract_entry_file(package->fileName(), c.run.zip_password, QStringLiteral("notedb.sl3"), staged,
                           panel.esc_down);
    } catch (const ArchiveError &e) {
        report_transfer_failure(c.dialogs, TransferStep::Unpack, account.url, e);
        return give_up();
    }
    // Unpacked with the process's default mode: private before it becomes the main file.
    make_private(staged);
    const StagedDatabase remote = inspect_staged(staged);
    if (!remote.sound) {
        c.dialogs.error(unusable_package_text());
        return give_up();
    }
    if (esc())
        return give_up();

    const qint64 t_local = stamp_value(set_table::read_last_time(c.store));
    if (t_local > remote.last_time &&
        c.dialogs.warning_yes_no(QStringLiteral("提醒"), older_copy_question(remote.last_time, t_local)) !=
            Dialogs::Answer::No)
        return give_up();

    // The swap: the local file into the ring, the downloaded one in its place.
    QString failure;
    c.store.with_main_closed([&] {
        const QString slot = rotate_into_ring(local);
        if (QFileInfo::exists(local)) {
            // The local file could not be moved aside: it must not be overwritten.
            failure = QStringLiteral("无法把本机数据库“%1”移到一旁，本地笔记没有改动。").arg(local);
            return;
        }
        if (!rename_file(staged, local)) {
            failure = QStringLiteral("无法把下载的数据库放到“%1”：%2。本地笔记没有改动。")
                          .arg(local, QString::fromLocal8Bit(std::strerror(errno)));
            if (!slot.isEmpty())
                rename_file(slot, local);
        }
    });
    if (!failure.isEmpty()) {
        c.dialogs.error(failure);
        return give_up();
    }
    try {
        upgrade_schema(c.store);
    } catch (const std::exception &e) {
        c.dialogs.error(QString::fromUtf8(e.what()));
    }

    // The backup database mirrors the main file again from here on; the old one is kept aside.
    try {
        c.store.renew_backup();
    } catch (const std::exception &e) {
        c.dialogs.error(QString::fromUtf8(e.what()));
    }

    // The download is in place whatever happens here.
    try {
        if (set_table::read(c.store, set_table::key_dav_url()).isEmpty())
            write_webdav_settings(c.store, c.run);
    } catch (const std::exception &e) {
        c.dialogs.error(QString::fromUtf8(e.what()));
    }
    return true;
}

} // namespace yunshan
