#include "store/database_files.h"

#include "store/connection.h"
#include "store/db_error.h"
#include "store/set_table.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sqlite3.h>

namespace yunshan {

const QStringList &required_note_tables()
{
    static const QStringList tables = {QStringLiteral("Class"), QStringLiteral("Section"), QStringLiteral("title"),
                                       QStringLiteral("notes")};
    return tables;
}

const QStringList &completed_note_tables()
{
    static const QStringList tables = {QStringLiteral("picture"), QStringLiteral("rtffile"),
                                       QStringLiteral("set_table")};
    return tables;
}

QString FileProbe::cause() const
{
    switch (state) {
    case FileState::Missing:
        return QStringLiteral("不存在");
    case FileState::Empty:
        return QStringLiteral("是空文件（0 字节）");
    case FileState::Unreadable:
    case FileState::NotNoteDatabase: {
        QString text = database_problem_cause(code, engine_text);
        if (!engine_text.isEmpty())
            text += QStringLiteral("（%1）").arg(engine_text);
        return text;
    }
    case FileState::Sound:
        break;
    }
    return QString();
}

qint64 file_change_counter(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(24))
        return -1;
    const QByteArray b = file.read(4);
    if (b.size() != 4)
        return -1;
    return (qint64(quint8(b[0])) << 24) | (qint64(quint8(b[1])) << 16) | (qint64(quint8(b[2])) << 8) |
           qint64(quint8(b[3]));
}

void remove_orphan_super_journals(const QString &database_file)
{
    const QFileInfo info(database_file);
    const QDir dir = info.dir();
    for (const QString &name : dir.entryList({info.fileName() + QStringLiteral("-mj*")}, QDir::Files | QDir::Hidden))
        QFile::remove(dir.filePath(name));
}

bool database_writable(const QString &path)
{
    const QByteArray file = QFile::encodeName(path);
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    return ::access(file.constData(), W_OK) == 0 && ::access(folder.constData(), W_OK) == 0;
}

namespace {

// The generation stamp in set_table; empty when there is none.
QString generation_in(Connection &db)
{
    const auto g = db.query_first(QStringLiteral("select value1 from set_table where key1=?1"),
                                  {QString::fromLatin1(kGenerationKey)});
    return g && g->isValid() ? g->toString() : QString();
}

} // namespace

QString read_generation(const QString &path)
{
    Connection db;
    db.open_read_only(path);
    return generation_in(db);
}

FileProbe probe_database(const QString &path)
{
    FileProbe p;
    const QFileInfo info(path);
    if (!info.exists()) {
        p.state = FileState::Missing;
        return p;
    }
    if (info.isFile() && info.size() == 0) {
        p.state = FileState::Empty;
        return p;
    }
    try {
        Connection db;
        if (database_writable(path))
            db.open(path, false); // rolls back what a crash left half-written
        else
            db.open_read_only(path);
        QStringList tables;
        for (const auto &row : db.query(QStringLiteral("select name from sqlite_master where type='table'")))
            tables << row.value(0).toString();
        const auto has = [&tables](const QString &name) {
            return std::any_of(tables.begin(), tables.end(),
                               [&name](const QString &t) { return t.compare(name, Qt::CaseInsensitive) == 0; });
        };
        for (const QString &t : required_note_tables()) {
            if (!has(t)) {
                p.state = FileState::NotNoteDatabase;
                p.code = kNotNoteDatabase;
                p.engine_text = QStringLiteral("no table %1").arg(t);
                return p;
            }
        }
        for (const QString &t : completed_note_tables())
            if (!has(t))
                p.missing << t;
        if (!p.missing.contains(QStringLiteral("set_table"))) {
            p.generation = generation_in(db);
            const auto t = db.query_first(QStringLiteral("select value1 from set_table where key1=?1"),
                                          {set_table::key_last_time()});
            if (t && t->isValid())
                p.last_time = t->toString();
        }
        db.close();
        p.change_counter = file_change_counter(path);
        p.state = FileState::Sound;
    } catch (const DbError &e) {
        p.state = FileState::Unreadable;
        p.code = e.code();
        p.engine_text = e.engine_text().isEmpty() ? e.message() : e.engine_text();
    }
    return p;
}

qint64 count_notes(const QString &path)
{
    try {
        Connection db;
        db.open_read_only(path);
        return db.query_first(QStringLiteral("select count(*) from title")).value_or(-1).toLongLong();
    } catch (const DbError &) {
        return -1;
    }
}

QString deep_check_problem(const QString &path)
{
    const FileProbe p = probe_database(path);
    if (!p.sound())
        return p.cause();
    try {
        Connection db;
        db.open_read_only(path);
        const auto rows = db.query(QStringLiteral("pragma quick_check"));
        if (rows.size() == 1 && rows.first().value(0).toString() == QLatin1String("ok"))
            return QString();
        QStringList problems;
        for (const auto &row : rows.mid(0, 3))
            problems << row.value(0).toString();
        return database_problem_cause(SQLITE_CORRUPT, QString()) + QStringLiteral("（%1）").arg(problems.join(u"; "));
    } catch (const DbError &e) {
        return database_problem_cause(e.code(), e.engine_text()) + QStringLiteral("（%1）").arg(e.engine_text());
    }
}

namespace {

QString system_error()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

[[noreturn]] void copy_failed(const QString &to, int code, const QString &why)
{
    throw DbError(code, to, why);
}

void sync_folder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

const QString kCopyPrefix = QStringLiteral(".notedb-copy-");

} // namespace

void copy_database_file(const QString &from, const QString &to)
{
    const QString folder = QFileInfo(to).absolutePath();
    const QString temp = QDir(folder).filePath(
        kCopyPrefix + QString::number(QRandomGenerator::system()->generate(), 16) + QStringLiteral(".tmp"));
    const int in = ::open(QFile::encodeName(from).constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        copy_failed(from, SQLITE_CANTOPEN, system_error());
    const int out = ::open(QFile::encodeName(temp).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        const QString why = system_error();
        ::close(in);
        copy_failed(to, errno == EROFS || errno == EACCES ? SQLITE_READONLY : SQLITE_CANTOPEN, why);
    }
    const auto fail = [&](int code, const QString &why) {
        ::close(in);
        ::close(out);
        ::unlink(QFile::encodeName(temp).constData());
        copy_failed(to, code, why);
    };
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), size_t(buffer.size()));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail(SQLITE_IOERR, system_error());
        }
        if (n == 0)
            break;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buffer.constData() + done, size_t(n - done));
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                fail(errno == ENOSPC ? SQLITE_FULL : SQLITE_IOERR, system_error());
            }
            done += w;
        }
    }
    if (::fsync(out) != 0)
        fail(errno == ENOSPC ? SQLITE_FULL : SQLITE_IOERR, system_error());
    ::close(in);
    if (::close(out) != 0) {
        const QString why = system_error();
        ::unlink(QFile::encodeName(temp).constData());
        copy_failed(to, SQLITE_IOERR, why);
    }
    // A journal left beside the old file would be taken for the new one's.
    ::unlink(QFile::encodeName(to + QStringLiteral("-journal")).constData());
    if (std::rename(QFile::encodeName(temp).constData(), QFile::encodeName(to).constData()) != 0) {
        const QString why = system_error();
        ::unlink(QFile::encodeName(temp).constData());
        copy_failed(to, SQLITE_IOERR, why);
    }
    sync_folder(folder);
}

QStringList kept_aside_files(const QString &folder)
{
    QStringList names = QDir(folder).entryList({QStringLiteral("notedb_old_*.sl3")}, QDir::Files, QDir::Name);
    std::reverse(names.begin(), names.end()); // the date and time in the name sort them
    return names;
}

QString keep_aside(const QString &file)
{
    const QFileInfo info(file);
    const QDir folder = info.dir();
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_HHmmss"));
    QString name = QStringLiteral("notedb_old_") + stamp + QStringLiteral(".sl3");
    for (int n = 2; folder.exists(name); ++n)
        name = QStringLiteral("notedb_old_") + stamp + QLatin1Char('_') + QString::number(n) + QStringLiteral(".sl3");
    const QString target = folder.filePath(name);
    if (std::rename(QFile::encodeName(file).constData(), QFile::encodeName(target).constData()) != 0)
        return QString();
    // Its journal goes with it, so that the file kept aside stays whole.
    const QString journal = file + QStringLiteral("-journal");
    if (QFileInfo::exists(journal))
        std::rename(QFile::encodeName(journal).constData(),
                    QFile::encodeName(target + QStringLiteral("-journal")).constData());
    ::chmod(QFile::encodeName(target).constData(), 0600);
    sync_folder(folder.absolutePath());
    const QStringList kept = kept_aside_files(folder.absolutePath());
    for (qsizetype i = 3; i < kept.size(); ++i) {
        QFile::remove(folder.filePath(kept.at(i)));
        QFile::remove(folder.filePath(kept.at(i) + QStringLiteral("-journal")));
    }
    return name;
}

void remove_interrupted_copies(const QString &folder)
{
    if (folder.isEmpty())
        return;
    const QDir dir(folder);
    const QStringList patterns = {QStringLiteral("buckup__*.sl3.tmp"), QStringLiteral("buckup__*.sl3.tmp-journal"),
                                  kCopyPrefix + QStringLiteral("*.tmp")};
    for (const QString &name : dir.entryList(patterns, QDir::Files | QDir::Hidden))
        QFile::remove(dir.filePath(name));
}

} // namespace yunshan
