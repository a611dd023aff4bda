#pragma once
// One SQLite connection. Only the store opens SQLite; everything else goes through NoteStore.
#include "store/db_error.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>

#include <optional>

struct sqlite3;
struct sqlite3_stmt;

namespace yunshan {

// A value bound to a parameter (:a, :b, … or ?): text, blob, integer or null.
using SqlValue = QVariant;
using SqlParams = QList<SqlValue>;

class Connection {
public:
    Connection() = default;
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // Opens (and creates when missing) the file; throws DbError.
    void open(const QString &path);
    void close();
    bool is_open() const { return db_ != nullptr; }
    QString path() const { return path_; }

    // Runs one statement with its parameters bound in order; returns the rows it changed.
    int execute(const QString &sql, const SqlParams &params = {});
    // Runs a query; the rows as lists of values (integers as qint64, texts as QString,
    // blobs as QByteArray, null as an invalid QVariant).
    QList<QList<SqlValue>> query(const QString &sql, const SqlParams &params = {});
    // First column of the first row; nullopt when there is no row.
    std::optional<SqlValue> query_first(const QString &sql, const SqlParams &params = {});
    qint64 last_insert_rowid() const;
    // Copies the whole database into a new file at `path` through SQLite's online backup, a
    // consistent snapshot even if a write were under way. Throws DbError.
    void backup_to(const QString &path);

private:
    [[noreturn]] void fail(const char *what) const;
    // The first statement of `sql`, prepared with its parameters bound; null for an empty text.
    sqlite3_stmt *prepare_query(const QString &sql, const SqlParams &params);

    sqlite3 *db_ = nullptr;
    QString path_;
};

} // namespace yunshan
