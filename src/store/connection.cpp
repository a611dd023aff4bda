#include "store/connection.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>

#include <utility>

#include <sqlite3.h>

namespace yunshan {

namespace {

QByteArray g_vfs;

const char *vfs_name()
{
    return g_vfs.isEmpty() ? nullptr : g_vfs.constData();
}

QString file_of(sqlite3 *db)
{
    const char *name = db ? sqlite3_db_filename(db, "main") : nullptr;
    return name ? QFile::decodeName(name) : QString();
}

[[noreturn]] void throw_engine_error(sqlite3 *db, const QString &file)
{
    const int code = db ? sqlite3_extended_errcode(db) : SQLITE_ERROR;
    const char *msg = db ? sqlite3_errmsg(db) : nullptr;
    throw DbError(code, file, QString::fromUtf8(msg ? msg : sqlite3_errstr(code)));
}

struct Statement {
    sqlite3_stmt *stmt = nullptr;
    ~Statement() { sqlite3_finalize(stmt); }
};

} // namespace

Connection::~Connection()
{
    close();
}

void Connection::set_vfs(const QByteArray &name)
{
    g_vfs = name;
}

void Connection::fail() const
{
    throw_engine_error(db_, path_);
}

namespace {

// A new database file starts private: the engine would create it with the umask's mode, and
// it holds the share's and the archive's passwords.
void create_private_file(const QByteArray &name)
{
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
}

} // namespace

void Connection::open(const QString &path, bool create)
{
    if (create)
        create_private_file(QFile::encodeName(path));
    open_with(path, SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0));
}

void Connection::open_read_only(const QString &path)
{
    open_with(path, SQLITE_OPEN_READONLY);
}

void Connection::open_with(const QString &path, int flags)
{
    close();
    sqlite3 *db = nullptr;
    const QByteArray name = QFile::encodeName(path);
    const int rc = sqlite3_open_v2(name.constData(), &db, flags, vfs_name());
    if (rc != SQLITE_OK) {
        const int code = db ? sqlite3_extended_errcode(db) : rc;
        const QString msg = QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
        sqlite3_close(db);
        throw DbError(code, path, msg);
    }
    // Another running instance may hold a write lock for a moment: wait instead of failing.
    sqlite3_busy_timeout(db, 5000);
    // Deleted and overwritten content is zeroed in the file, so a note that is encrypted leaves
    // no plain text behind in free space (not every SQLite build does this by default).
    sqlite3_exec(db, "PRAGMA secure_delete=ON", nullptr, nullptr, nullptr);
    db_ = db;
    path_ = path;
}

void Connection::close()
{
    if (db_) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }
    path_.clear();
}

static void bind_one(sqlite3 *db, sqlite3_stmt *stmt, int idx, const QVariant &v)
{
    int rc = SQLITE_OK;
    switch (v.typeId()) {
    case QMetaType::UnknownType:
    case QMetaType::Nullptr:
        rc = sqlite3_bind_null(stmt, idx);
        break;
    case QMetaType::QByteArray: {
        const QByteArray b = v.toByteArray();
        rc = sqlite3_bind_blob64(stmt, idx, b.constData(), sqlite3_uint64(b.size()), SQLITE_TRANSIENT);
        break;
    }
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::Bool:
        rc = sqlite3_bind_int64(stmt, idx, v.toLongLong());
        break;
    default: {
        const QByteArray t = v.toString().toUtf8();
        rc = sqlite3_bind_text64(stmt, idx, t.constData(), sqlite3_uint64(t.size()), SQLITE_TRANSIENT, SQLITE_UTF8);
        break;
    }
    }
    if (rc != SQLITE_OK)
        throw_engine_error(db, file_of(db));
}

static void bind_all(sqlite3 *db, sqlite3_stmt *stmt, const SqlParams &params)
{
    for (int i = 0; i < params.size(); ++i)
        bind_one(db, stmt, i + 1, params.at(i));
}

static SqlValue column_value(sqlite3_stmt *stmt, int col)
{
    switch (sqlite3_column_type(stmt, col)) {
    case SQLITE_INTEGER:
        return QVariant(qint64(sqlite3_column_int64(stmt, col)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(stmt, col));
    case SQLITE_BLOB: {
        const void *p = sqlite3_column_blob(stmt, col);
        const int n = sqlite3_column_bytes(stmt, col);
        return QVariant(QByteArray(static_cast<const char *>(p), n));
    }
    case SQLITE_TEXT: {
        const auto *p = reinterpret_cast<const char *>(sqlite3_column_text(stmt, col));
        const int n = sqlite3_column_bytes(stmt, col);
        return QVariant(QString::fromUtf8(p, n));
    }
    default:
        return QVariant();
    }
}

int Connection::execute(const QString &sql, const SqlParams &params)
{
    if (!db_)
        throw DbError(kNoDatabaseOpen, QString(), QString());
    const QByteArray text = sql.toUtf8();
    const char *tail = text.constData();
    const char *end = text.constData() + text.size();
    int changed = 0;
    // A text may hold several statements (the schema creation does not, but be lenient).
    while (tail && tail < end) {
        Statement st;
        const char *next = nullptr;
        if (sqlite3_prepare_v2(db_, tail, int(end - tail), &st.stmt, &next) != SQLITE_OK)
            fail();
        tail = next;
        if (!st.stmt)
            continue; // whitespace or comment only
        bind_all(db_, st.stmt, params);
        int rc;
        while ((rc = sqlite3_step(st.stmt)) == SQLITE_ROW) {
        }
        if (rc != SQLITE_DONE)
            fail();
        changed = sqlite3_changes(db_);
    }
    return changed;
}

sqlite3_stmt *Connection::prepare_query(const QString &sql, const SqlParams &params)
{
    if (!db_)
        throw DbError(kNoDatabaseOpen, QString(), QString());
    const QByteArray text = sql.toUtf8();
    Statement st;
    if (sqlite3_prepare_v2(db_, text.constData(), int(text.size()), &st.stmt, nullptr) != SQLITE_OK)
        fail();
    if (st.stmt)
        bind_all(db_, st.stmt, params);
    return std::exchange(st.stmt, nullptr);
}

QList<QList<SqlValue>> Connection::query(const QString &sql, const SqlParams &params)
{
    Statement st{prepare_query(sql, params)};
    QList<QList<SqlValue>> rows;
    if (!st.stmt)
        return rows;
    const int cols = sqlite3_column_count(st.stmt);
    int rc;
    while ((rc = sqlite3_step(st.stmt)) == SQLITE_ROW) {
        QList<SqlValue> row;
        row.reserve(cols);
        for (int c = 0; c < cols; ++c)
            row.append(column_value(st.stmt, c));
        rows.append(std::move(row));
    }
    if (rc != SQLITE_DONE)
        fail();
    return rows;
}

std::optional<SqlValue> Connection::query_first(const QString &sql, const SqlParams &params)
{
    Statement st{prepare_query(sql, params)};
    if (!st.stmt)
        return std::nullopt;
    const int rc = sqlite3_step(st.stmt);
    if (rc == SQLITE_ROW)
        return sqlite3_column_count(st.stmt) > 0 ? column_value(st.stmt, 0) : SqlValue();
    if (rc != SQLITE_DONE)
        fail();
    return std::nullopt;
}

qint64 Connection::last_insert_rowid() const
{
    return db_ ? sqlite3_last_insert_rowid(db_) : 0;
}

void Connection::set_last_insert_rowid(qint64 id)
{
    if (db_)
        sqlite3_set_last_insert_rowid(db_, id);
}

bool Connection::in_transaction() const
{
    return db_ && !sqlite3_get_autocommit(db_);
}

void Connection::attach(const QString &path, const QString &alias, bool create)
{
    if (!create && !QFile::exists(path))
        throw DbError(SQLITE_CANTOPEN, path, QStringLiteral("unable to open database file"));
    if (create)
        create_private_file(QFile::encodeName(path));
    try {
        execute(QStringLiteral("ATTACH DATABASE ?1 AS ") + alias, {path});
    } catch (const DbError &e) {
        throw DbError(e.code(), path, e.engine_text());
    }
}

void Connection::detach(const QString &alias)
{
    if (!db_)
        return;
    const auto attached =
        query_first(QStringLiteral("select count(*) from pragma_database_list where name=?1"), {alias});
    if (attached && attached->toLongLong() > 0)
        execute(QStringLiteral("DETACH DATABASE ") + alias);
}

void Connection::backup_to(const QString &path)
{
    if (!db_)
        throw DbError(kNoDatabaseOpen, QString(), QString());
    sqlite3 *target = nullptr;
    const QByteArray name = QFile::encodeName(path);
    create_private_file(name);
    int rc = sqlite3_open_v2(name.constData(), &target, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, vfs_name());
    int code = SQLITE_OK;
    std::string error;
    if (rc == SQLITE_OK) {
        sqlite3_backup *backup = sqlite3_backup_init(target, "main", db_, "main");
        if (backup) {
            do {
                rc = sqlite3_backup_step(backup, 1024);
                if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED)
                    sqlite3_sleep(50);
            } while (rc == SQLITE_OK || rc == SQLITE_BUSY || rc == SQLITE_LOCKED);
            rc = sqlite3_backup_finish(backup);
        } else {
            rc = sqlite3_errcode(target);
        }
        if (rc != SQLITE_OK) {
            code = sqlite3_extended_errcode(target);
            error = sqlite3_errmsg(target);
        }
    } else {
        code = target ? sqlite3_extended_errcode(target) : rc;
        error = target ? sqlite3_errmsg(target) : sqlite3_errstr(rc);
    }
    if (sqlite3_close(target) != SQLITE_OK && error.empty()) {
        code = SQLITE_IOERR;
        error = "Cannot close the copy";
    }
    if (!error.empty())
        throw DbError(code, path, QString::fromStdString(error));
}

PreparedQuery::PreparedQuery(Connection &db, const QString &sql) : db_(db.db_)
{
    if (!db_)
        throw DbError(kNoDatabaseOpen, QString(), QString());
    const QByteArray text = sql.toUtf8();
    if (sqlite3_prepare_v2(db_, text.constData(), int(text.size()), &stmt_, nullptr) != SQLITE_OK)
        fail();
    if (!stmt_)
        throw DbError(std::string("empty statement"));
}

PreparedQuery::~PreparedQuery()
{
    sqlite3_finalize(stmt_);
}

void PreparedQuery::fail() const
{
    throw_engine_error(db_, file_of(db_));
}

void PreparedQuery::bind(int index, const SqlValue &value)
{
    bind_one(db_, stmt_, index, value);
}

void PreparedQuery::bind_column(int index, const PreparedQuery &source, int column)
{
    if (sqlite3_bind_value(stmt_, index, sqlite3_column_value(source.stmt_, column)) != SQLITE_OK)
        fail();
}

bool PreparedQuery::next()
{
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW)
        return true;
    if (rc != SQLITE_DONE)
        fail();
    return false;
}

int PreparedQuery::run()
{
    int rc;
    while ((rc = sqlite3_step(stmt_)) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE) {
        const DbError error(sqlite3_extended_errcode(db_), file_of(db_), QString::fromUtf8(sqlite3_errmsg(db_)));
        sqlite3_reset(stmt_);
        throw error;
    }
    const int changed = sqlite3_changes(db_);
    sqlite3_reset(stmt_);
    return changed;
}

void PreparedQuery::reset()
{
    sqlite3_reset(stmt_);
}

qint64 PreparedQuery::integer(int column) const
{
    return sqlite3_column_int64(stmt_, column);
}

SqlValue PreparedQuery::value(int column) const
{
    return column_value(stmt_, column);
}

bool PreparedQuery::is_null(int column) const
{
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

QByteArray PreparedQuery::text_bytes(int column) const
{
    const auto *p = reinterpret_cast<const char *>(sqlite3_column_text(stmt_, column));
    const int n = sqlite3_column_bytes(stmt_, column);
    return p ? QByteArray(p, n) : QByteArray();
}

} // namespace yunshan
