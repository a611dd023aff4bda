#include "store/note_store.h"

#include "platform/dialogs.h"
#include "platform/paths.h"
#include "store/schema.h"

#include <QFile>
#include <QFileInfo>

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

QString backup_lent_text() { return QStringLiteral("正在导出数据库，请等导出完成后再操作。"); }

NoteStore::NoteStore(const QString &lock_name) : owner_(lock_name) {}

NoteStore::~NoteStore() { close_all(); }

void NoteStore::close_all()
{
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
        if (is_new)
            create_schema(main_);
        if (main_.is_open()) {
            status_ = kMainOnly;
            if (!owner_.acquire()) {
                read_only_ = true;
                if (on_read_only)
                    on_read_only();
            }
        }
    }

    if (!bei_db.isEmpty()) {
        const QString backup_file = database_file_in(bei_db);
        const QString main_file = database_file_in(zhu_db);
        if (!QFileInfo::exists(backup_file) && !zhu_db.isEmpty() && QFileInfo::exists(main_file))
            QFile::copy(main_file, backup_file);
        if (QFileInfo::exists(backup_file))
            backup_.open(backup_file);
        else
            dialogs.message(QStringLiteral("备份数据库不可用，请检查备份路径是否正确。如果备份盘是网络映射盘且正以管理员权限升级程序时可忽略此问题。"));
        if (backup_.is_open())
            status_ += 2;
    }
    return status_;
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
