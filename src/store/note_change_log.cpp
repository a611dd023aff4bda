#include "store/note_change_log.h"

#include "store/connection.h"

#include <QFile>
#include <QStringList>
#include <QUuid>

#include <sys/stat.h>

namespace yunshan {

FileStamp file_stamp(const QString &path)
{
    struct stat st {};
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    FileStamp stamp{qint64(st.st_size), qint64(st.st_mtim.tv_sec) * 1000000000 + qint64(st.st_mtim.tv_nsec), -1, -1,
                    -1};
    struct stat wal {};
    if (::stat(QFile::encodeName(path + QStringLiteral("-wal")).constData(), &wal) == 0) {
        stamp.wal_size = qint64(wal.st_size);
        stamp.wal_mtime_ns = qint64(wal.st_mtim.tv_sec) * 1000000000 + qint64(wal.st_mtim.tv_nsec);
    }
    QFile file(path);
    if (file.open(QIODevice::ReadOnly) && file.seek(24)) {
        const QByteArray b = file.read(4);
        if (b.size() == 4)
            stamp.counter = (qint64(quint8(b[0])) << 24) | (qint64(quint8(b[1])) << 16) | (qint64(quint8(b[2])) << 8) |
                            qint64(quint8(b[3]));
    }
    return stamp;
}

QString FileStamp::text() const
{
    return QStringList{QString::number(size), QString::number(mtime_ns), QString::number(counter),
                       QString::number(wal_size), QString::number(wal_mtime_ns)}
        .join(QLatin1Char(':'));
}

namespace {

const char *const kLogStatements[] = {
    "CREATE TEMP TABLE IF NOT EXISTS yz_log_info(key TEXT PRIMARY KEY, value)",
    "CREATE TEMP TABLE IF NOT EXISTS yz_changed_title(id INTEGER PRIMARY KEY)",
    "CREATE TEMP TABLE IF NOT EXISTS yz_changed_note(id INTEGER PRIMARY KEY)",
    "CREATE TEMP TABLE IF NOT EXISTS yz_changed_px(id INTEGER PRIMARY KEY)",
    "CREATE TEMP TRIGGER IF NOT EXISTS yz_title_ins AFTER INSERT ON title BEGIN "
    "INSERT OR IGNORE INTO yz_changed_title VALUES(NEW.id); INSERT OR IGNORE INTO yz_changed_px VALUES(NEW.id); END",
    "CREATE TEMP TRIGGER IF NOT EXISTS yz_title_del AFTER DELETE ON title BEGIN "
    "INSERT OR IGNORE INTO yz_changed_title VALUES(OLD.id); INSERT OR IGNORE INTO yz_changed_px VALUES(OLD.id); END",
    "CREATE TEMP TRIGGER IF NOT EXISTS yz_title_upd AFTER UPDATE OF id, caption, isDel, noteId ON title BEGIN "
    "INSERT OR IGNORE INTO yz_changed_title VALUES(OLD.id); INSERT OR IGNORE INTO yz_changed_title VALUES(NEW.id); "
    "INSERT OR IGNORE INTO yz_changed_px VALUES(OLD.id); INSERT OR IGNORE INTO yz_changed_px VALUES(NEW.id); END",
    "CREATE TEMP TRIGGER IF NOT EXISTS yz_title_px AFTER UPDATE OF px ON title BEGIN "
    "INSERT OR IGNORE INTO yz_changed_px VALUES(NEW.id); END",
    "CREATE TEMP TRIGGER IF NOT EXISTS yz_notes_ins AFTER INSERT ON notes BEGIN "
    "INSERT OR IGNORE INTO yz_changed_note VALUES(NEW.id); END",
    "CREATE TEMP TRIGGER IF NOT EXISTS yz_notes_del AFTER DELETE ON notes BEGIN "
    "INSERT OR IGNORE INTO yz_changed_note VALUES(OLD.id); END",
    "CREATE TEMP TRIGGER IF NOT EXISTS yz_notes_upd AFTER UPDATE OF id, label, content ON notes BEGIN "
    "INSERT OR IGNORE INTO yz_changed_note VALUES(OLD.id); INSERT OR IGNORE INTO yz_changed_note VALUES(NEW.id); END",
};

QList<qint64> ids_of(Connection &db, const char *table)
{
    QList<qint64> ids;
    for (const auto &row : db.query(QStringLiteral("select id from temp.") + QLatin1String(table)))
        ids.append(row.value(0).toLongLong());
    return ids;
}

} // namespace

bool install_note_change_log(Connection &db)
{
    try {
        const auto tables = db.query_first(
            QStringLiteral("select count(*) from main.sqlite_master where type='table' and name in ('title','notes')"));
        if (!tables || tables->toLongLong() != 2)
            return false;
        for (const char *sql : kLogStatements)
            db.execute(QString::fromLatin1(sql));
        const FileStamp stamp = file_stamp(db.path());
        db.execute(QStringLiteral("insert or replace into temp.yz_log_info values('token',?),('opened',?)"),
                   {QUuid::createUuid().toString(QUuid::WithoutBraces), stamp.text()});
        return true;
    } catch (const DbError &) {
        return false;
    }
}

NoteChangeLogInfo note_change_log_info(Connection &db)
{
    NoteChangeLogInfo info;
    if (!db.is_open())
        return info;
    try {
        for (const auto &row : db.query(QStringLiteral("select key, value from temp.yz_log_info"))) {
            const QString key = row.value(0).toString();
            if (key == QLatin1String("token"))
                info.token = row.value(1).toString();
            else if (key == QLatin1String("opened"))
                info.opened = row.value(1).toString();
        }
    } catch (const DbError &) {
        return NoteChangeLogInfo(); // no log on this connection
    }
    return info;
}

NoteChanges take_note_changes(Connection &db)
{
    NoteChanges c;
    c.titles = ids_of(db, "yz_changed_title");
    c.notes = ids_of(db, "yz_changed_note");
    c.px = ids_of(db, "yz_changed_px");
    if (!c.empty())
        clear_note_changes(db);
    return c;
}

void clear_note_changes(Connection &db)
{
    db.execute(QStringLiteral("delete from temp.yz_changed_title"));
    db.execute(QStringLiteral("delete from temp.yz_changed_note"));
    db.execute(QStringLiteral("delete from temp.yz_changed_px"));
}

qint64 data_version(Connection &db)
{
    const auto v = db.query_first(QStringLiteral("PRAGMA data_version"));
    return v ? v->toLongLong() : -1;
}

} // namespace yunshan
