#include "store/db_error.h"

#include <sqlite3.h>

namespace yunshan {

DbError::DbError(int code, const QString &file, const QString &engine_text)
    : std::runtime_error(database_problem_text(code, file, engine_text).toStdString()), code_(code), file_(file),
      engine_text_(engine_text)
{
}

QString database_problem_cause(int code, const QString &engine_text)
{
    switch (code) {
    case kNotNoteDatabase:
        return QStringLiteral("不是笔记数据库（缺少笔记的数据表）");
    case kReadOnlyInstance:
        return QStringLiteral("现在以只读方式打开，不能保存");
    case kNoDatabaseOpen:
        return QStringLiteral("没有打开");
    default:
        break;
    }
    switch (code & 0xff) {
    case SQLITE_CORRUPT:
        return QStringLiteral("已损坏，无法读写");
    case SQLITE_NOTADB:
        return QStringLiteral("不是数据库文件，或已损坏");
    case SQLITE_READONLY:
        return QStringLiteral("是只读的，不能写入（请检查文件和所在文件夹的权限）");
    case SQLITE_FULL:
        return QStringLiteral("无法写入：所在磁盘已满");
    case SQLITE_CANTOPEN:
        return QStringLiteral("无法打开：文件不存在，或所在文件夹无法访问");
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return QStringLiteral("没有访问权限");
    case SQLITE_IOERR:
        return QStringLiteral("读写出错（磁盘出错，或所在的磁盘、网络驱动器已断开）");
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return QStringLiteral("正被其他程序占用，请稍后再试");
    case SQLITE_NOMEM:
        return QStringLiteral("无法读写：内存不足");
    case SQLITE_CONSTRAINT:
        return QStringLiteral("拒绝了这次写入（数据不符合约束）");
    case SQLITE_TOOBIG:
        return QStringLiteral("无法写入：内容太大");
    case SQLITE_ERROR:
        if (engine_text.contains(QLatin1String("no such table")) ||
            engine_text.contains(QLatin1String("no such column")))
            return QStringLiteral("缺少笔记的数据表或列，不是完整的笔记数据库");
        return QStringLiteral("执行数据库语句出错");
    default:
        return QStringLiteral("读写出错");
    }
}

QString database_problem_words(const DbError &e)
{
    if (e.code() == 0)
        return e.message();
    QString text = database_problem_cause(e.code(), e.engine_text());
    if (!e.engine_text().isEmpty())
        text += QStringLiteral("（%1）").arg(e.engine_text());
    return text;
}

QString database_problem_text(int code, const QString &file, const QString &engine_text)
{
    QString text = file.isEmpty() ? QStringLiteral("数据库") : QStringLiteral("数据库文件“%1”").arg(file);
    text += database_problem_cause(code, engine_text) + QStringLiteral("。");
    if (!engine_text.isEmpty())
        text += QStringLiteral("（%1）").arg(engine_text);
    return text;
}

} // namespace yunshan
