#include "settings/settings_rules.h"

#include "backup/tls_trust.h"
#include "backup/transfer_errors.h"
#include "platform/dialogs.h"
#include "platform/settings_store.h"
#include "platform/silent_dialogs.h"
#include "store/db_error.h"
#include "store/note_store.h"
#include "store/schema.h"
#include "store/set_table.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#ifdef Q_OS_UNIX
#include <pwd.h>
#include <unistd.h>
#endif

namespace yunshan {

namespace {

bool is_separator(QChar c)
{
    return c == QLatin1Char('/') || c == QLatin1Char('\\');
}

// Length of the root part of an absolute path ("/" or "C:/").
qsizetype root_length(const QString &path)
{
    if (path.startsWith(QLatin1Char('/')))
        return 1;
    if (path.size() >= 3 && path.at(1) == QLatin1Char(':') && path.at(2) == QLatin1Char('/'))
        return 3;
    return 0;
}

// A switch as `set_table` holds it.
QString switch_value(bool on)
{
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

// Connect_to_db; a main file that cannot be opened or created leaves nothing open (status 0).
int reconnect(NoteStore &store, RunSettings &run, Dialogs &dialogs, const std::function<void()> &on_read_only)
{
    try {
        return store.Connect_to_db(run.zhu_db, run.bei_db, dialogs, on_read_only);
    } catch (const DbError &) {
        store.close_all();
        return kNotConnected;
    }
}

// Mount points in the table escape blanks, tabs, newlines and backslashes as octal.
QString unescape_mount_point(const QByteArray &field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field.at(i) == '\\' && i + 3 < field.size()) {
            const QByteArray digits = field.mid(i + 1, 3);
            bool ok = false;
            const int code = digits.toInt(&ok, 8);
            if (ok && digits.size() == 3) {
                out.append(char(code));
                i += 3;
                continue;
            }
        }
        out.append(field.at(i));
    }
    return QString::fromUtf8(out);
}

bool is_network_file_system(const QByteArray &type)
{
    static const QList<QByteArray> types = {"nfs", "nfs4", "cifs", "smb3", "smbfs", "fuse.sshfs", "davfs", "9p"};
    return types.contains(type);
}

// File systems on a block device that cannot hold a backup (read-only images, optical discs).
bool is_read_only_medium(const QByteArray &type)
{
    return type == "squashfs" || type == "iso9660" || type == "udf" || type == "erofs";
}

QString login_name()
{
    QString user = qEnvironmentVariable("USER");
#ifdef Q_OS_UNIX
    if (user.isEmpty()) {
        if (const passwd *pw = getpwuid(getuid()))
            user = QString::fromLocal8Bit(pw->pw_name);
    }
#endif
    return user;
}

QString read_file_text(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll());
}

} // namespace

// ---- Folders ----

QString strip_trailing_separators(const QString &folder)
{
    QString f = folder;
    while (f.size() > 1 && is_separator(f.back()))
        f.chop(1);
    // "C:\" keeps its separator: "C:" alone names the drive's current folder.
    if (f.size() == 2 && f.at(1) == QLatin1Char(':') && folder.size() > 2)
        f += folder.at(2);
    return f;
}

QString normalise_folder(const QString &folder)
{
    const QString stripped = strip_trailing_separators(folder);
    if (stripped.isEmpty() || QDir::isAbsolutePath(stripped))
        return stripped;
    return strip_trailing_separators(QDir::current().absoluteFilePath(stripped));
}

QString canonical_folder(const QString &folder)
{
    if (folder.isEmpty())
        return {};
    const QString absolute =
        QDir::fromNativeSeparators(QDir::isAbsolutePath(folder) ? folder : QDir::current().absoluteFilePath(folder));
    const qsizetype root = root_length(absolute);
    QString result = absolute.left(root);
    const QStringList parts = absolute.mid(root).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            const qsizetype slash = result.lastIndexOf(QLatin1Char('/'));
            result = slash < root ? result.left(root) : result.left(std::max(slash, root));
            continue;
        }
        if (!result.endsWith(QLatin1Char('/')))
            result += QLatin1Char('/');
        result += part;
        // Follow the links of the part that exists; the rest will be created as written.
        const QFileInfo info(result);
        if (info.exists()) {
            const QString canonical = info.canonicalFilePath();
            if (!canonical.isEmpty())
                result = canonical;
        }
    }
    return result;
}

bool same_folder(const QString &a, const QString &b)
{
#ifdef Q_OS_WIN
    return canonical_folder(a).compare(canonical_folder(b), Qt::CaseInsensitive) == 0;
#else
    return canonical_folder(a) == canonical_folder(b);
#endif
}

QString with_trailing_slash(const QString &url)
{
    return url.isEmpty() || url.endsWith(QLatin1Char('/')) ? url : url + QLatin1Char('/');
}

// ---- First-run proposal ----

ProposalSources ProposalSources::system()
{
    ProposalSources s;
    s.documents_folder = [] { return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation); };
    s.mount_table = [] { return read_file_text(QStringLiteral("/proc/self/mounts")); };
    s.user = login_name();
    return s;
}

QString proposed_backup_drive(const QString &mount_table, const QString &user)
{
    QStringList prefixes;
    if (!user.isEmpty()) {
        prefixes << QStringLiteral("/media/") + user + QLatin1Char('/');
        prefixes << QStringLiteral("/run/media/") + user + QLatin1Char('/');
    }
    prefixes << QStringLiteral("/mnt/");
    const QList<QByteArray> lines = mount_table.toUtf8().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 4)
            continue;
        const QByteArray &device = fields.at(0);
        const QString mount_point = unescape_mount_point(fields.at(1));
        const QByteArray &type = fields.at(2);
        const QList<QByteArray> options = fields.at(3).split(',');
        const bool placed = mount_point == QLatin1String("/mnt") ||
                            std::any_of(prefixes.begin(), prefixes.end(), [&](const QString &p) {
                                return mount_point.startsWith(p) && mount_point.size() > p.size();
                            });
        if (!placed || options.contains("ro"))
            continue;
        const bool disk = device.startsWith("/dev/") && !is_read_only_medium(type);
        if (disk || is_network_file_system(type))
            return mount_point;
    }
    return {};
}

void propose_first_run(SettingsFields &fields, const ProposalSources &sources)
{
    const QString documents = sources.documents_folder ? sources.documents_folder() : QString();
    fields.zhu_db = strip_trailing_separators(documents) + QStringLiteral("/云杉札记");
    const QString drive = proposed_backup_drive(sources.mount_table ? sources.mount_table() : QString(), sources.user);
    if (!drive.isEmpty())
        fields.bei_db = strip_trailing_separators(drive) + QStringLiteral("/云杉札记备份");
}

void fill_from_run(SettingsFields &fields, const RunSettings &run)
{
    fields.zhu_db = run.zhu_db;
    fields.bei_db = run.bei_db;
    fields.auto_backup = run.auto_backup == QLatin1String("1");
    fields.tian = run.tian;
    // The switches are stored with a complete share only; without one the dialog shows what a
    // first opening shows, so that it reads the same each time.
    const bool share_stored = !run.dav_url.isEmpty() || !run.dav_username.isEmpty() || !run.dav_password.isEmpty();
    fields.start_download = share_stored ? run.webdav_qdxz : false;
    fields.exit_upload = share_stored ? run.webdav_tcbc : true;
    fields.dav_url = run.dav_url;
    fields.dav_username = run.dav_username;
    fields.dav_password = run.dav_password;
    fields.zip_password = run.zip_password;
}

// ---- Save and test ----

namespace {

const QString kMainRequired = QStringLiteral("主数据库文件夹必填。");
const QString kSameFolders = QStringLiteral("主备数据库文件夹不能相同。");

// Steps shared by save and test: the main folder is required and differs from the backup.
bool folders_valid(const SettingsFields &fields, Dialogs &dialogs)
{
    if (fields.zhu_db.isEmpty()) {
        dialogs.message(kMainRequired);
        return false;
    }
    if (!fields.bei_db.isEmpty() && same_folder(fields.zhu_db, fields.bei_db)) {
        dialogs.message(kSameFolders);
        return false;
    }
    return true;
}

// Asks whether to trust the certificate the share at `url` shows; true when it is trusted now.
bool trust_share_certificate(const QString &url, bool changed, const SettingsTarget &target)
{
    const ServerCertificate certificate = target.fetch_certificate(url);
    if (public_key_pin(certificate.der).isEmpty())
        throw HttpError(HttpError::Kind::Tls,
                        QStringLiteral("The certificate of %1 cannot be read").arg(certificate.origin), url);
    if (target.dialogs.warning_yes_no(QStringLiteral("证书确认"), trust_question(certificate, changed)) !=
        Dialogs::Answer::Yes)
        return false;
    target.trust_certificate(certificate);
    return true;
}

// The connection test of the share and its message.
void test_share(const WebDavAccount &account, const SettingsTarget &target)
{
    Dialogs &dialogs = target.dialogs;
    if (!target.test_connection)
        return;
    HttpResponse answer;
    try {
        try {
            answer = target.test_connection(account);
        } catch (const HttpError &e) {
            const bool untrusted = e.kind() == HttpError::Kind::Certificate || e.kind() == HttpError::Kind::PinMismatch;
            // The server that showed the certificate (a redirect stays on the same server).
            const QString url = e.url().isEmpty() ? account.url : e.url();
            if (!untrusted || !target.fetch_certificate || !target.trust_certificate ||
                !trust_share_certificate(url, e.kind() == HttpError::Kind::PinMismatch, target))
                throw;
            answer = target.test_connection(account);
        }
    } catch (const HttpError &e) {
        report_transfer_failure(dialogs, TransferStep::Test, account.url, e);
        return;
    }
    if (answer.status == 207 || answer.status == 200)
        dialogs.message(QStringLiteral("备份网盘测试成功。"));
    else
        dialogs.message(transfer_error_text(TransferStep::Test, account.url, answer));
}

} // namespace

SaveResult save_settings(SettingsFields &fields, SettingsStore &settings, const SettingsTarget &target)
{
    SaveResult result;
    Dialogs &dialogs = target.dialogs;
    RunSettings &run = target.run;
    NoteStore &store = target.store;
    if (!folders_valid(fields, dialogs)) {
        result.invalid = true;
        return result;
    }
    if (fields.tian.isEmpty())
        fields.tian = QStringLiteral("0");
    fields.zhu_db = normalise_folder(fields.zhu_db);
    fields.bei_db = normalise_folder(fields.bei_db);
    const QString auto_backup = fields.auto_backup ? QStringLiteral("1") : QStringLiteral("0");

    settings.set_zhu_db(fields.zhu_db);
    settings.set_bei_db(fields.bei_db);
    settings.set_auto_backup(auto_backup);
    settings.set_tian(fields.tian);
    run.zhu_db = fields.zhu_db;
    run.bei_db = fields.bei_db;
    run.auto_backup = auto_backup;
    run.tian = fields.tian;

    // A folder that cannot be made shows up as a failed connection below.
    QDir().mkpath(fields.zhu_db);
    if (!fields.bei_db.isEmpty())
        QDir().mkpath(fields.bei_db);

    result.status = reconnect(store, run, dialogs, target.on_read_only);
    result.connected = result.status != kNotConnected && store.main_connected();
    QString text;
    if (!result.connected) {
        text = QStringLiteral("配置保存成功，数据库连接失败。");
    } else {
        // A folder chosen here may hold a database of an earlier version.
        upgrade_schema(store);
        if (set_table::read_tmp_file1(store).isEmpty())
            set_table::create_tmp_file1(store);
        text = QStringLiteral("配置保存成功，数据库连接成功。");
        const bool complete =
            !fields.dav_url.isEmpty() && !fields.dav_username.isEmpty() && !fields.dav_password.isEmpty();
        const bool some = !fields.dav_url.isEmpty() || !fields.dav_username.isEmpty() || !fields.dav_password.isEmpty();
        if (complete) {
            run.webdav_qdxz = fields.start_download;
            run.webdav_tcbc = fields.exit_upload;
            run.dav_url = with_trailing_slash(fields.dav_url);
            run.dav_username = fields.dav_username;
            run.dav_password = fields.dav_password;
            run.zip_password = fields.zip_password;
            set_table::replace(store, set_table::key_start_download(), switch_value(run.webdav_qdxz));
            set_table::replace(store, set_table::key_exit_upload(), switch_value(run.webdav_tcbc));
            set_table::replace(store, set_table::key_dav_url(), run.dav_url);
            set_table::replace(store, set_table::key_dav_username(), fields.dav_username);
            set_table::replace(store, set_table::key_dav_password(), fields.dav_password);
            set_table::replace(store, set_table::key_zip_password(), fields.zip_password);
            if (fields.start_download && fields.exit_upload)
                dialogs.warning(
                    QStringLiteral("建议"),
                    QStringLiteral("您勾选了启动同步和退出保存，如是第一次在本机启用，为防关闭程序时新数据库覆"
                                   "盖网盘内老数据库，建议按“立即同步”按钮先从网上同步数据。"));
        } else if (some && (fields.start_download || fields.exit_upload)) {
            text += QStringLiteral(" webDAV没有启用，配置需要网址和用户名以及密码，缺一不可。");
        }
    }
    dialogs.message(text);
    result.keep_open = fields.start_download && fields.exit_upload;
    return result;
}

bool test_settings(const SettingsFields &fields, const SettingsTarget &target)
{
    Dialogs &dialogs = target.dialogs;
    RunSettings &run = target.run;
    if (!folders_valid(fields, dialogs))
        return false;
    const RunSettings before = run;
    const bool was_read_only = target.store.read_only();
    run.zhu_db = fields.zhu_db;
    run.bei_db = fields.bei_db;
    run.auto_backup = fields.auto_backup ? QStringLiteral("1") : QStringLiteral("0");
    run.tian = fields.tian;
    // Another instance owning the databases under test is no reason to lock this window.
    const int status = reconnect(target.store, run, dialogs, {});
    switch (status) {
    case kNotConnected:
        dialogs.message(QStringLiteral("两个数据库都连接失败。"));
        break;
    case kMainOnly:
        dialogs.message(QStringLiteral("主数据库连接成功。"));
        break;
    case kBackupOnly:
        dialogs.message(QStringLiteral("备份数据库连接成功。"));
        break;
    case kMainAndBackup:
        dialogs.message(QStringLiteral("主备两个数据库都连接成功。"));
        break;
    default:
        break;
    }

    // Back to the databases in use: the folders reach the program only through a save.
    run.zhu_db = before.zhu_db;
    run.bei_db = before.bei_db;
    run.auto_backup = before.auto_backup;
    run.tian = before.tian;
    // The return repeats nothing the user has not seen before: its boxes are swallowed.
    SilentDialogs silent;
    reconnect(target.store, run, silent, was_read_only ? std::function<void()>() : target.on_read_only);

    if (!fields.dav_url.isEmpty() && !fields.dav_username.isEmpty() && !fields.dav_password.isEmpty()) {
        // Live for the run; they reach set_table only through a save.
        run.dav_url = with_trailing_slash(fields.dav_url);
        run.dav_username = fields.dav_username;
        run.dav_password = fields.dav_password;
        run.zip_password = fields.zip_password;
        test_share(WebDavAccount{run.dav_url, run.dav_username, run.dav_password}, target);
    }
    return true;
}

} // namespace yunshan
