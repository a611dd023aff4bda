#include "backup/cloud_sync.h"

#include "backup/transfer_errors.h"
#include "backup/webdav.h"
#include "backup/zip_package.h"
#include "platform/dialogs.h"
#include "platform/paths.h"
#include "store/connection.h"
#include "store/database_files.h"
#include "store/note_store.h"
#include "store/schema.h"
#include "store/set_table.h"
#include "sync/sync_base.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTimeZone>

#include <QRandomGenerator>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <exception>
#include <memory>
#include <optional>

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

QString conflict_report_text(const sync::MergeReport &report, const QDateTime &when)
{
    QStringList parts;
    if (report.conflict_copies > 0) {
        parts << QStringLiteral("两台电脑都改过的笔记有 %1 篇，本机的版本已另存为标题末尾带“%2”的笔记。")
                     .arg(report.conflict_copies)
                     .arg(sync::conflict_copy_suffix(when));
        if (report.unmarked_copies > 0)
            parts << QStringLiteral("其中 %1 篇的标题是加密的，副本的标题没有加这个标记。").arg(report.unmarked_copies);
    }
    if (report.renamed_categories > 0)
        parts << QStringLiteral("有 %1 个本机的分类与网盘上的分类重名，已在名称后加上“%2”。")
                     .arg(report.renamed_categories)
                     .arg(sync::category_suffix(when));
    if (parts.isEmpty())
        return QString();
    return QStringLiteral("同步完成：") + parts.join(QString());
}

namespace {

// The sync of one purpose; each step either runs here (files, network) or hands the store's
// part to the window's thread.
class ShareSync {
  public:
    ShareSync(SyncContext &c, SyncPurpose purpose) : c_(c), purpose_(purpose) {}

    SyncOutcome run();

  private:
    enum class ShareState { Missing, Same, Changed };

    // What the store says, read on its thread.
    struct Local {
        bool refused = false;
        QString file;
        QString generation;
        QString backup_file;
        qint64 last_time = 0;
    };

    bool esc() const { return c_.panel.esc_down && c_.panel.esc_down(); }
    void on_main(const std::function<void()> &fn) const { run_on_main(c_.panel.on_main, fn); }
    void line(const QString &text) const
    {
        if (c_.panel.line)
            c_.panel.line(text);
    }
    WebDavAccount account() const { return {c_.run.dav_url, c_.run.dav_username, c_.run.dav_password}; }

    SyncOutcome cancelled()
    {
        outcome_.cancelled = true;
        outcome_.completed = false;
        return outcome_;
    }
    SyncOutcome failed()
    {
        outcome_.completed = false;
        return outcome_;
    }
    SyncOutcome done()
    {
        outcome_.completed = true;
        return outcome_;
    }

    bool read_local();
    ShareState share_state(const PackageLookup &lookup) const;
    // Whether the local database changed since the base (the generation stamp, then the notes).
    bool local_changed();
    // Downloads and unpacks the package into the staging folder and checks it; false when it
    // failed (reported) or was cancelled (`outcome_.cancelled`).
    bool fetch();
    // A fresh copy of the database out of the package already downloaded.
    bool unpack();
    // Brings the unpacked file to this version's table layout and fingerprints it.
    bool prepare_staged();
    // The staged file in the main file's place (the local file into the ring, the backup
    // renewed), then the bookkeeping write that stamps the new file. False when it did not
    // happen (said why).
    bool replace_main();
    // Uploads the main file; `expected` is the share file it may replace.
    enum class Upload { Done, Failed, Cancelled, ShareChanged };
    Upload upload(const std::optional<ShareIdentity> &expected);
    // The outcome of an upload that ended the sync; nullopt when another machine changed the
    // share meanwhile and the sync must look at it again.
    std::optional<SyncOutcome> upload_outcome(const std::optional<ShareIdentity> &expected)
    {
        switch (upload(expected)) {
        case Upload::Done:
            return done();
        case Upload::Cancelled:
            return cancelled();
        case Upload::Failed:
            return failed();
        case Upload::ShareChanged:
            break;
        }
        return std::nullopt;
    }
    void save_base(const sync::Fingerprints &prints, const std::optional<ShareIdentity> &identity,
                   const QString &generation);
    bool settle_before_replace();

    SyncContext &c_;
    SyncPurpose purpose_;
    SyncOutcome outcome_;
    Local local_;
    std::optional<sync::Fingerprints> base_;
    std::optional<sync::LocalPrints> local_prints_;
    std::unique_ptr<QTemporaryFile> package_;
    std::unique_ptr<QTemporaryDir> staging_;
    QString staged_;
    sync::Fingerprints share_prints_;
    qint64 remote_last_time_ = 0;
    bool settled_ = false;
};

bool ShareSync::read_local()
{
    bool ok = true;
    on_main([&] {
        NoteStore &store = c_.store;
        // Replacing the files under another instance would lose what it writes.
        if (store.read_only()) {
            c_.dialogs.message(store.owns_mark()
                                   ? store.read_only_reason() + QStringLiteral("，现在是只读模式，不能从网盘同步。")
                                   : QStringLiteral("已经有其他程序打开了数据库，现在是只读模式，不能从网盘同步。"
                                                    "请先关闭其他程序。"));
            ok = false;
            return;
        }
        if (!store.main_connected()) {
            c_.dialogs.message(QStringLiteral("主数据库没有连接，不能从网盘同步。请先在设置里指定主数据文件夹。"));
            ok = false;
            return;
        }
        local_.file = main_database_file(store, c_.run);
        local_.generation = store.generation();
        local_.backup_file = store.backup_file();
        local_.last_time = stamp_value(set_table::read_last_time(store));
    });
    return ok;
}

ShareSync::ShareState ShareSync::share_state(const PackageLookup &lookup) const
{
    if (!lookup.answered())
        return ShareState::Changed; // the download tells
    if (!lookup.identity.exists)
        return ShareState::Missing;
    if (base_) {
        const auto known = ShareIdentity::from_meta(base_->meta);
        if (known && known->same_file(lookup.identity))
            return ShareState::Same;
    }
    return ShareState::Changed;
}

bool ShareSync::local_changed()
{
    if (!base_)
        return true;
    const QString generation = base_->meta.value(QString::fromLatin1(sync::kBaseGenerationKey));
    if (!generation.isEmpty() && generation == local_.generation)
        return false;
    // Written since: only what the notes hold counts (the exit stamp and the autosave key do not).
    if (!local_prints_)
        local_prints_ = sync::fingerprint_local(local_.file);
    return !sync::same_notes(local_prints_->prints, *base_);
}

bool ShareSync::fetch()
{
    const WebDavAccount acc = account();
    c_.panel.start(ProgressMode::Download);
    line(QStringLiteral("正在从网盘下载数据……"));
    package_ = package_temp_file(local_.file);
    const DownloadResult got =
        download_package(c_.session, acc, package_->fileName(), c_.panel.transfer, c_.panel.esc_down);
    if (esc()) {
        outcome_.cancelled = true;
        return false;
    }
    if (got.size < kSmallestPackage || got.status < 200 || got.status > 299) {
        c_.dialogs.message(transfer_error_text(TransferStep::Download, acc.url, got));
        return false;
    }
    return unpack();
}

bool ShareSync::unpack()
{
    const WebDavAccount acc = account();
    // Unpacked beside the database before anything there changes: a wrong password or damaged
    // data leaves every local file as it was, and the move into place is a rename.
    const QString folder = QFileInfo(local_.file).absolutePath();
    staging_ = std::make_unique<QTemporaryDir>(join_path(folder, QStringLiteral(".notedb-sync-XXXXXX")));
    if (!staging_->isValid()) {
        c_.dialogs.error(
            QStringLiteral("Cannot create a temporary folder in \"%1\": %2").arg(folder, staging_->errorString()));
        return false;
    }
    staged_ = join_path(staging_->path(), QStringLiteral("notedb.sl3"));
    try {
        extract_entry_file(package_->fileName(), c_.run.zip_password, QStringLiteral("notedb.sl3"), staged_,
                           c_.panel.esc_down);
    } catch (const ArchiveError &e) {
        if (e.kind() == ArchiveError::Kind::Cancelled) {
            outcome_.cancelled = true;
            return false;
        }
        report_transfer_failure(c_.dialogs, TransferStep::Unpack, acc.url, e);
        return false;
    }
    // Unpacked with the process's default mode: private before it becomes the main file.
    make_private(staged_);
    // The check a promoted backup gets: the note tables, then every page.
    const StagedDatabase remote = inspect_staged(staged_);
    if (!remote.sound) {
        c_.dialogs.error(unusable_package_text());
        return false;
    }
    const QString damage = deep_check_problem(staged_);
    if (!damage.isEmpty()) {
        c_.dialogs.error(QStringLiteral("从网盘 %1 下载的数据库文件 notedb.sl3 不能使用：%2。本地笔记没有改动。")
                             .arg(server_name(acc.url), damage));
        return false;
    }
    remote_last_time_ = remote.last_time;
    return !esc() || (outcome_.cancelled = true, false);
}

bool ShareSync::prepare_staged()
{
    try {
        // A file of an older version gets the upgrade every start-up applies.
        upgrade_database_file(staged_);
        share_prints_ = sync::compute_fingerprints(staged_);
    } catch (const std::exception &e) {
        c_.dialogs.error(QStringLiteral("从网盘 %1 下载的数据库文件 notedb.sl3 不能使用：%2\n本地笔记没有改动。")
                             .arg(server_name(account().url), QString::fromUtf8(e.what())));
        return false;
    }
    return true;
}

bool ShareSync::settle_before_replace()
{
    if (settled_)
        return true;
    bool ok = true;
    if (c_.panel.before_replace)
        on_main([&] { ok = c_.panel.before_replace(); });
    settled_ = ok;
    return ok;
}

bool ShareSync::replace_main()
{
    // The backup folder's copy of the new file is made here, so the swap itself only renames.
    QString prepared;
    if (!local_.backup_file.isEmpty()) {
        prepared = join_path(QFileInfo(local_.backup_file).absolutePath(),
                             QStringLiteral(".notedb-copy-sync-%1.tmp")
                                 .arg(QRandomGenerator::system()->generate(), 8, 16, QLatin1Char('0')));
        try {
            copy_database_file(staged_, prepared);
        } catch (const std::exception &) {
            prepared.clear(); // the store copies it itself
        }
    }
    QString failure;
    bool swapped = false;
    on_main([&] {
        NoteStore &store = c_.store;
        try {
            store.replace_main_file(
                [&] {
                    const QString slot = rotate_into_ring(local_.file);
                    if (QFileInfo::exists(local_.file)) {
                        // The local file could not be moved aside: it must not be overwritten.
                        failure = QStringLiteral("无法把本机数据库“%1”移到一旁，本地笔记没有改动。").arg(local_.file);
                        return false;
                    }
                    if (!rename_file(staged_, local_.file)) {
                        failure = QStringLiteral("无法把下载的数据库放到“%1”：%2。本地笔记没有改动。")
                                      .arg(local_.file, QString::fromLocal8Bit(std::strerror(errno)));
                        if (!slot.isEmpty())
                            rename_file(slot, local_.file);
                        return false;
                    }
                    swapped = true;
                    return true;
                },
                prepared);
        } catch (const std::exception &e) {
            c_.dialogs.error(QString::fromUtf8(e.what())); // the backup could not be renewed
        }
        if (!failure.isEmpty()) {
            c_.dialogs.error(failure);
            return;
        }
        if (!swapped)
            return;
        // The new file is in place whatever happens here.
        try {
            upgrade_schema(store);
            // A stamp of this machine in both files: the new file's state is this machine's own.
            store.write([](Writer &) {}, WriteKind::Bookkeeping);
            if (set_table::read(store, set_table::key_dav_url()).isEmpty())
                write_webdav_settings(store, c_.run);
        } catch (const std::exception &e) {
            c_.dialogs.error(QString::fromUtf8(e.what()));
        }
        local_.generation = store.generation();
    });
    if (swapped)
        outcome_.replaced = true;
    return swapped;
}

ShareSync::Upload ShareSync::upload(const std::optional<ShareIdentity> &expected)
{
    c_.panel.start(ProgressMode::Upload);
    UploadSteps steps;
    steps.esc_down = c_.panel.esc_down;
    steps.show_step = c_.panel.line;
    steps.transfer = c_.panel.transfer;
    steps.expected = expected;
    UploadedState up;
    UploadOutcome result =
        upload_package(c_.session, account(), local_.file, c_.run.zip_password, c_.dialogs, steps, &up);
    if (result == UploadOutcome::ShareChanged && expected) {
        // A server that refuses the condition although the file is the one expected takes the
        // upload without it.
        const PackageLookup again = lookup_package(c_.session, account(), c_.panel.esc_down);
        if (again.answered() && again.identity.same_file(*expected)) {
            steps.expected.reset();
            result = upload_package(c_.session, account(), local_.file, c_.run.zip_password, c_.dialogs, steps, &up);
        }
    }
    switch (result) {
    case UploadOutcome::Uploaded:
        save_base(up.prints, up.identity, up.generation);
        outcome_.uploaded = true;
        outcome_.share_current = true;
        return Upload::Done;
    case UploadOutcome::Cancelled:
        return Upload::Cancelled;
    case UploadOutcome::ShareChanged:
        return Upload::ShareChanged;
    case UploadOutcome::PutFailed:
        break;
    }
    return Upload::Failed;
}

void ShareSync::save_base(const sync::Fingerprints &prints, const std::optional<ShareIdentity> &identity,
                          const QString &generation)
{
    sync::Fingerprints base = prints;
    base.meta.clear();
    if (identity)
        base.meta.insert(identity->to_meta());
    base.meta.insert(QString::fromLatin1(sync::kBaseGenerationKey), generation);
    try {
        sync::save_sync_base(local_.file, base);
        base_ = base;
    } catch (const sync::SyncError &) {
        // Without a base the next sync merges (it keeps every row): nothing is lost.
        sync::forget_sync_base(local_.file);
        base_.reset();
    }
}

SyncOutcome ShareSync::run()
{
    if (!read_local())
        return failed();
    if (esc())
        return cancelled();
    QString why;
    base_ = sync::load_sync_base(local_.file, &why);

    // A package another machine uploads between the look and the upload sends the sync round
    // again (the upload is conditional); a few rounds at most.
    for (int round = 0; round < 3; ++round) {
        const PackageLookup lookup = lookup_package(c_.session, account(), c_.panel.esc_down);
        if (esc())
            return cancelled();
        const std::optional<ShareIdentity> found =
            lookup.answered() ? std::optional<ShareIdentity>(lookup.identity) : std::nullopt;
        if (purpose_ == SyncPurpose::BeforeUpload &&
            (lookup.status == 401 || lookup.status == 403 || !lookup.redirect.isEmpty())) {
            // Refused, or sent to another server: the upload would meet the same answer.
            HttpResponse refused;
            refused.status = lookup.status;
            refused.redirect = lookup.redirect;
            c_.dialogs.message(transfer_error_text(TransferStep::Upload, account().url, refused));
            return failed();
        }
        ShareState state = share_state(lookup);
        if (state == ShareState::Missing && purpose_ != SyncPurpose::BeforeUpload)
            state = ShareState::Changed; // the download says there is nothing to download

        if (state == ShareState::Changed) {
            if (!fetch() || !prepare_staged())
                return outcome_.cancelled ? cancelled() : failed();
            if (base_ && sync::same_notes(share_prints_, *base_)) {
                // Uploaded again without a change of its notes: what the base knew.
                save_base(*base_, lookup.found ? found : std::nullopt,
                          base_->meta.value(QString::fromLatin1(sync::kBaseGenerationKey)));
                state = ShareState::Same;
            }
        }

        if (state != ShareState::Changed) {
            const bool send = purpose_ == SyncPurpose::BeforeUpload ||
                              (purpose_ == SyncPurpose::SyncNow && (state == ShareState::Missing || local_changed()));
            if (!send) {
                outcome_.share_current = state == ShareState::Same && !local_changed();
                return done();
            }
            if (const std::optional<SyncOutcome> outcome = upload_outcome(found))
                return *outcome;
            continue;
        }

        // The share changed.
        const bool mine = local_changed();
        if (esc())
            return cancelled();
        if (!mine) {
            // Only the share changed: its file takes the main file's place.
            if ((purpose_ != SyncPurpose::BeforeUpload) && local_.last_time > remote_last_time_) {
                Dialogs::Answer answer = Dialogs::Answer::Yes;
                const qint64 remote = remote_last_time_, mine_time = local_.last_time;
                answer = c_.dialogs.warning_yes_no(QStringLiteral("提醒"), older_copy_question(remote, mine_time));
                if (answer != Dialogs::Answer::No)
                    return failed();
            }
            if (!settle_before_replace() || !replace_main())
                return failed();
            save_base(share_prints_, found, local_.generation);
            outcome_.share_current = true;
            return done();
        }

        // Both changed, or nothing is known of a common state.
        if (!local_prints_)
            local_prints_ = sync::fingerprint_local(local_.file);
        if (sync::same_notes(local_prints_->prints, share_prints_)) {
            // The same notes on both sides: nothing to move.
            save_base(share_prints_, found, local_.generation);
            outcome_.share_current = true;
            return done();
        }
        // Merged into the share's file.
        if (!settle_before_replace())
            return failed();
        line(QStringLiteral("正在合并两台电脑上的笔记……"));
        sync::MergeResult merged;
        for (int attempt = 0;; ++attempt) {
            QString generation;
            on_main([&] { generation = c_.store.generation(); });
            const QDateTime now = c_.now();
            try {
                merged =
                    sync::merge_databases(base_, local_.file, staged_, now, local_prints_ ? &*local_prints_ : nullptr);
            } catch (const sync::SyncError &e) {
                c_.dialogs.error(QStringLiteral("和网盘上的笔记合并失败：%1\n本地笔记没有改动。").arg(e.message()));
                return failed();
            }
            outcome_.merged_at = now;
            QString after;
            on_main([&] { after = c_.store.generation(); });
            if (after == generation)
                break;
            // Written while the merge read the file: merged again from the package, so that
            // nothing written meanwhile is left out.
            if (attempt == 2 || !unpack() || !prepare_staged())
                return outcome_.cancelled ? cancelled() : failed();
            local_prints_.reset();
        }
        if (esc())
            return cancelled();
        if (!replace_main())
            return failed();
        outcome_.merge = merged.report;
        if (!merged.report.changed_share()) {
            // Nothing of this machine's was missing on the share.
            save_base(share_prints_, found, local_.generation);
            outcome_.share_current = true;
            return done();
        }
        // Until the upload is through the share holds what was downloaded; this machine's
        // changes count as unsent.
        save_base(share_prints_, found, QString());
        if (const std::optional<SyncOutcome> outcome = upload_outcome(found))
            return *outcome;
        local_prints_.reset();
        on_main([&] { local_.generation = c_.store.generation(); });
    }
    c_.dialogs.message(QStringLiteral("网盘 %1 上的备份在同步期间一再被其他电脑改写，这次没有上传。请稍后再同步。")
                           .arg(server_name(account().url)));
    return failed();
}

} // namespace

SyncOutcome sync_with_share(SyncContext &c, SyncPurpose purpose)
{
    ShareSync sync(c, purpose);
    return sync.run();
}

bool load_from_webdav(SyncContext &c, SyncPurpose purpose, SyncOutcome *outcome)
{
    const BackupPanel &panel = c.panel;
    panel.start(ProgressMode::Download);
    panel.show(QString());
    if (panel.esc_down && panel.esc_down()) {
        panel.hide();
        if (outcome)
            *outcome = SyncOutcome{};
        return false;
    }
    panel.line(QStringLiteral("正在从网盘下载数据……"));
    const SyncOutcome r = sync_with_share(c, purpose);
    if (outcome)
        *outcome = r;
    panel.hide();
    return r.completed;
}

} // namespace yunshan
