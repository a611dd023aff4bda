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

    // Opens (and creates when missing, unless `create` is false) the file; throws DbError. A file
    // the engine creates is private to the user (0600), its journals follow its mode.
    void open(const QString &path, bool create = true);
    // Opens an existing file for reading only; throws DbError.
    void open_read_only(const QString &path);
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
    void set_last_insert_rowid(qint64 id);
    // Whether a transaction is open (BEGIN without its COMMIT or ROLLBACK yet).
    bool in_transaction() const;

    // Attaches the database file `path` under the schema name `alias` (created when missing
    // only if `create`); detaching is a no-op when nothing is attached under that name.
    void attach(const QString &path, const QString &alias, bool create = false);
    void detach(const QString &alias);

    // The engine's file-system layer new connections use: empty for the default one. Tests put
    // a layer that fails chosen writes here.
    static void set_vfs(const QByteArray &name);
    // Copies the whole database into a new file at `path` through SQLite's online backup, a
    // consistent snapshot even if a write were under way. Throws DbError.
    void backup_to(const QString &path);

  private:
    [[noreturn]] void fail() const;
    void open_with(const QString &path, int flags);
    // The first statement of `sql`, prepared with its parameters bound; null for an empty text.
    sqlite3_stmt *prepare_query(const QString &sql, const SqlParams &params);

    friend class PreparedQuery;

    sqlite3 *db_ = nullptr;
    QString path_;
};

// One statement prepared once and run many times: rows are read one at a time (nothing is
// gathered in memory) and a column can be bound into another statement without conversion,
// so texts, numbers and blobs arrive exactly as they were stored. Throws DbError.
class PreparedQuery {
  public:
    PreparedQuery(Connection &db, const QString &sql);
    ~PreparedQuery();
    PreparedQuery(const PreparedQuery &) = delete;
    PreparedQuery &operator=(const PreparedQuery &) = delete;

    // Parameters are numbered from 1.
    void bind(int index, const SqlValue &value);
    // Binds the value of `column` of the row `source` stands on, as stored.
    void bind_column(int index, const PreparedQuery &source, int column);
    // Steps to the next row; false when there is none.
    bool next();
    // Runs to the end and resets; returns the rows changed.
    int run();
    // Back to the start, parameters kept.
    void reset();

    qint64 integer(int column) const;
    SqlValue value(int column) const;
    bool is_null(int column) const;
    // The column as the engine's UTF-8 text, byte for byte (numbers converted as the engine
    // converts them, blobs as they are); empty for null.
    QByteArray text_bytes(int column) const;

  private:
    [[noreturn]] void fail() const;

    sqlite3 *db_ = nullptr;
    sqlite3_stmt *stmt_ = nullptr;
};

} // namespace yunshan
