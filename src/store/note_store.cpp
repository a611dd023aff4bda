#include "store/note_store.h"

#include "platform/dialogs.h"
#include "platform/paths.h"
#include "store/note_change_log.h"
#include "store/schema.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <sys/stat.h>

#include <utility>

namespace yunshan {

QString connection_status_text(int status)
{
    switch (status) {
    case kNotConnected: return QStringLiteral("数据库未连接");
    case kMainOnly: return QStringLiteral("主数据库就绪");
    case kBackupOnly: return QStringLiteral("备数据库就绪");
    case kMainAndBackup: return QStringLiteral("主备就绪");
    case kProgramFolder: return QStringLiteral("EXE根目录");
    default: return QString::number(status);
    }
}

QString database_file_in(const QString &folder) { return join_path(folder, QStringLiteral("notedb.sl3")); }

namespace {

// Whether two existing paths name the same file or folder (after links, "./", trailing slashes
// and hard links).
bool same_file(const QString &a, const QString &b)
{
    struct stat sa {}, sb {};
    if (::stat(QFile::encodeName(a).constData(), &sa) != 0 || ::stat(QFile::encodeName(b).constData(), &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// What two mirrored files must agree on: their tables, the ids AUTOINCREMENT handed out, the
// row count of every table and the settings kept in the database (the exit stamp among them).
QStringList mirror_fingerprint(Connection &db)
{
    QStringList out;
    const auto tables = db.query(QStringLiteral("select name from sqlite_master where type='table' order by name"));
    for (const auto &row : tables) {
        const QString name = row.value(0).toString();
        out << name;
        if (name == QLatin1String("sqlite_sequence")) {
            for (const auto &seq : db.query(QStringLiteral("select name, seq from sqlite_sequence order by name")))
                out << seq.value(0).toString() + QLatin1Char('=') + seq.value(1).toString();
            continue;
        }
        QString quoted = name;
        quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
        const auto count = db.query_first(QStringLiteral("select count(*) from \"") + quoted + QLatin1Char('"'));
        out << (count ? count->toString() : QString());
    }
    if (tables.contains(QList<SqlValue>{QStringLiteral("set_table")})) {
        for (const auto &kv : db.query(QStringLiteral("select key1, value1 from set_table order by key1, value1")))
            out << kv.value(0).toString() + QLatin1Char('=') + kv.value(1).toString();
    }
    return out;
}

} // namespace

QString stale_backup_text(const QString &kept_as)
{
    return QStringLiteral("备份数据库与主数据库不一致，旧备份已改名为“") + kept_as +
           QStringLiteral("”保留，并已从主数据库重新复制备份。");
}
QString backup_lent_text() { return QStringLiteral("正在导出数据库，请等导出完成后再操作。"); }

NoteStore::NoteStore(const QString &lock_name) : owner_(lock_name) {}

NoteStore::~NoteStore() { close_all(); }

void NoteStore::main_closing()
{
    if (main_.is_open() && before_main_closes_)
        before_main_closes_();
}

void NoteStore::close_all()
{
    main_closing();
    main_.close();
    backup_.close();
    owner_.release();
    lent_ = false;
    lent_from_.clear();
}

int NoteStore::Connect_to_db(QString &zhu_db, QString &bei_db, Dialogs &dialogs,
                             const std::function<void()> &on_read_only)
{
    refuse_while_lent();
    const QString program_file = database_file_in(program_folder());
    main_closing();
    main_.close();
    backup_.close();
    owner_.release();
    read_only_ = false;
    status_ = kNotConnected;

    if (QFileInfo::exists(program_file)) {
        main_.open(program_file);
        zhu_db.clear();
        bei_db.clear();
        status_ = kProgramFolder;
    }

    if (!zhu_db.isEmpty()) {
        const QString main_file = database_file_in(zhu_db);
        const bool is_new = !QFileInfo::exists(main_file);
        main_.open(main_file);
        if (is_new) {
            try {
                create_schema(main_);
            } catch (...) {
                // Nothing else expects an open main database without its tables; the half-made
                // file would pass for an existing one at the next start.
                main_.close();
                QFile::remove(main_file);
                throw;
            }
        }
        if (main_.is_open()) {
            status_ = kMainOnly;
            if (!owner_.acquire()) {
                read_only_ = true;
                if (on_read_only)
                    on_read_only();
            }
        }
    }

    // The search index follows every write of this connection through its change log.
    if (main_.is_open())
        install_note_change_log(main_);

    if (!bei_db.isEmpty()) {
        const QString backup_file = database_file_in(bei_db);
        const QString main_file = database_file_in(zhu_db);
        if (!zhu_db.isEmpty() && (same_file(zhu_db, bei_db) || same_file(main_file, backup_file))) {
            // One file opened twice would take every mirrored write twice.
            dialogs.message(QStringLiteral("主备数据库文件夹不能相同。"));
            return status_;
        }
        bool copied = false;
        if (!QFileInfo::exists(backup_file) && !zhu_db.isEmpty() && QFileInfo::exists(main_file))
            copied = QFile::copy(main_file, backup_file);
        if (QFileInfo::exists(backup_file)) {
            backup_.open(backup_file);
            // A backup left behind while its folder was away no longer mirrors the main file:
            // writes by the main file's ids would hit other rows. The instance that owns the
            // data keeps it aside and starts the mirror afresh.
            if (!copied && main_.is_open() && owner_.held() && !backup_mirrors_main()) {
                backup_.close();
                const QString kept = QStringLiteral("notedb_old_") +
                                     QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_HHmmss")) +
                                     QStringLiteral(".sl3");
                if (QFile::rename(backup_file, join_path(bei_db, kept)) && QFile::copy(main_file, backup_file)) {
                    backup_.open(backup_file);
                    dialogs.message(stale_backup_text(kept));
                }
            }
        }
        if (!backup_.is_open())
            dialogs.message(QStringLiteral("备份数据库不可用，请检查备份路径是否正确。如果备份盘是网络映射盘且正以管理员权限升级程序时可忽略此问题。"));
        if (backup_.is_open())
            status_ += 2;
    }
    return status_;
}

bool NoteStore::backup_mirrors_main()
{
    const QStringList main_print = mirror_fingerprint(main_);
    try {
        return mirror_fingerprint(backup_) == main_print;
    } catch (const DbError &) {
        return false; // not a readable database
    }
}

qint64 NoteStore::get_first_integer(const QString &sql)
{
    if (!main_.is_open())
        return 0;
    const auto v = main_.query_first(sql);
    return v ? v->toLongLong() : 0;
}

QString NoteStore::get_first_string(const QString &sql)
{
    if (!main_.is_open())
        return QString();
    const auto v = main_.query_first(sql);
    if (!v || !v->isValid())
        return QString();
    if (v->typeId() == QMetaType::QByteArray)
        return QString::fromUtf8(v->toByteArray());
    return v->toString();
}

void NoteStore::drop_backup()
{
    if (lent_ || !backup_.is_open())
        return;
    backup_.close();
    if (status_ == kMainAndBackup)
        status_ = kMainOnly;
}

int NoteStore::set_first_string(const QString &sql) { return mirrored_write(sql, {}); }

void NoteStore::refuse_while_lent() const
{
    if (lent_)
        throw DbError(backup_lent_text().toStdString());
}

void NoteStore::lend_backup(const QString &path)
{
    refuse_while_lent();
    const QString before = backup_.path();
    backup_.close();
    try {
        backup_.open(path);
    } catch (...) {
        lent_ = true;
        lent_from_ = before;
        return_backup();
        throw;
    }
    lent_ = true;
    lent_from_ = before;
}

QString NoteStore::return_backup()
{
    if (!lent_)
        return QString();
    lent_ = false;
    backup_.close();
    const QString before = std::exchange(lent_from_, QString());
    if (before.isEmpty())
        return QString();
    try {
        backup_.open(before, false);
    } catch (const DbError &e) {
        // The backup file went away meanwhile: run on the main database alone.
        if (status_ == kMainAndBackup || status_ == kBackupOnly)
            status_ -= 2;
        return e.message();
    }
    return QString();
}

int NoteStore::mirrored_write(const QString &sql, const SqlParams &params)
{
    refuse_while_lent();
    if (!main_.is_open())
        return 0;
    const int changed = main_.execute(sql, params);
    if (backup_.is_open())
        backup_.execute(sql, params);
    return changed;
}

int NoteStore::mirrored_write_backup_first(const QString &sql, const SqlParams &params)
{
    refuse_while_lent();
    if (!main_.is_open())
        return 0;
    if (backup_.is_open())
        backup_.execute(sql, params);
    return main_.execute(sql, params);
}

} // namespace yunshan
