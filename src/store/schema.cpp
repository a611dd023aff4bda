#include "store/schema.h"

#include "store/connection.h"
#include "store/note_store.h"

#include <QRegularExpression>

namespace yunshan {

const QStringList &creation_statements()
{
    static const QStringList statements = {
        QStringLiteral(
            "CREATE TABLE Class (id INTEGER PRIMARY KEY AUTOINCREMENT,px INTEGER DEFAULT (100),caption TEXT);"),
        QStringLiteral(" CREATE TABLE Section (id INTEGER PRIMARY KEY AUTOINCREMENT,px INTEGER DEFAULT (100),classId "
                       "INTEGER NOT NULL,caption TEXT);"),
        QStringLiteral("CREATE TABLE title (id INTEGER PRIMARY KEY AUTOINCREMENT,px INTEGER DEFAULT (100),classId   "
                       "INTEGER,sectionId INTEGER,noteId INTEGER,isDel INTEGER DEFAULT (0),fast INTEGER DEFAULT "
                       "(0),beiyong1 INTEGER DEFAULT (0),beiyong2 INTEGER DEFAULT (0),beiyong3 INTEGER DEFAULT "
                       "(0),beiyong4 INTEGER DEFAULT (0),beiyong5 TEXT,isRtf INTEGER DEFAULT (0),caption TEXT);"),
        QStringLiteral("CREATE TABLE notes (id INTEGER PRIMARY KEY AUTOINCREMENT,isDel INTEGER DEFAULT (0),beiyong1 "
                       "INTEGER DEFAULT (0),beiyong2 TEXT,label TEXT,cuanjian TIMESTAMP DEFAULT CURRENT_TIMESTAMP,put "
                       "TIMESTAMP DEFAULT CURRENT_TIMESTAMP,content TEXT);"),
        QStringLiteral("CREATE TABLE picture (id INTEGER PRIMARY KEY AUTOINCREMENT,articleId INTEGER,img BLOB);"),
        QStringLiteral("CREATE TABLE beiyong_table(key1 INTEGER PRIMARY KEY AUTOINCREMENT,value1 INTEGER,value2 "
                       "INTEGER,value3 TEXT,value4 TEXT);"),
        QStringLiteral("CREATE TABLE rtffile (noteId INTEGER PRIMARY KEY,rtf BLOB);"),
        QStringLiteral("CREATE TABLE set_table (key1 TEXT,value1 TEXT);"),
        QStringLiteral("CREATE INDEX sectionIdIndex ON title(sectionId);"),
        QStringLiteral("CREATE INDEX noteIdIndex ON title(noteId);"),
        QStringLiteral("CREATE INDEX imgIndex ON picture(articleId);"),
        QStringLiteral("insert into Class(px,caption) values(500,'默认大类');"),
    };
    return statements;
}

const QStringList &upgrade_statements()
{
    static const QStringList statements = {
        QStringLiteral("CREATE TABLE beiyong_table(key1 INTEGER PRIMARY KEY AUTOINCREMENT,value1 INTEGER,value2 "
                       "INTEGER,value3 TEXT,value4 TEXT);"),
        QStringLiteral("ALTER TABLE title ADD COLUMN fast INTEGER DEFAULT (0);"),
        QStringLiteral("ALTER TABLE title ADD COLUMN beiyong1 INTEGER DEFAULT (0);"),
        QStringLiteral("ALTER TABLE title ADD COLUMN beiyong2 INTEGER DEFAULT (0);"),
        QStringLiteral("ALTER TABLE title ADD COLUMN beiyong3 INTEGER DEFAULT (0);"),
        QStringLiteral("ALTER TABLE title ADD COLUMN beiyong4 INTEGER DEFAULT (0);"),
        QStringLiteral("ALTER TABLE title ADD COLUMN beiyong5 TEXT;"),
        QStringLiteral("ALTER TABLE notes ADD COLUMN beiyong1 INTEGER DEFAULT (0);"),
        QStringLiteral("ALTER TABLE notes ADD COLUMN beiyong2 TEXT;"),
    };
    return statements;
}

void create_schema(Connection &main)
{
    // One transaction: a crash leaves an empty file, never half a schema.
    main.execute(QStringLiteral("BEGIN IMMEDIATE"));
    try {
        for (const QString &sql : creation_statements())
            main.execute(sql);
        main.execute(QStringLiteral("COMMIT"));
    } catch (...) {
        if (main.in_transaction())
            main.execute(QStringLiteral("ROLLBACK"));
        throw;
    }
}

namespace {

bool has_table(Connection &db, const QString &schema, const QString &table)
{
    const auto n = db.query_first(
        QStringLiteral("select count(*) from %1.sqlite_master where type='table' and name=?1 collate nocase")
            .arg(schema),
        {table});
    return n && n->toLongLong() > 0;
}

bool has_column(Connection &db, const QString &schema, const QString &table, const QString &column)
{
    const auto n =
        db.query_first(QStringLiteral("select count(*) from pragma_table_info(?1, ?2) where name=?3 collate nocase"),
                       {table, schema, column});
    return n && n->toLongLong() > 0;
}

// The statement for `schema`, or empty when that file already has what it adds (a file that got
// some of the columns elsewhere is brought up to date all the same).
QString upgrade_for(Connection &db, const QString &schema, const QString &sql)
{
    static const QRegularExpression alter(QStringLiteral("^ALTER TABLE (\\w+) ADD COLUMN (\\w+)"));
    static const QRegularExpression create(QStringLiteral("^CREATE TABLE (\\w+)"));
    if (const auto m = alter.match(sql); m.hasMatch()) {
        if (has_column(db, schema, m.captured(1), m.captured(2)))
            return QString();
        return QString(sql).replace(m.capturedStart(1), m.capturedLength(1), schema + QLatin1Char('.') + m.captured(1));
    }
    if (const auto m = create.match(sql); m.hasMatch()) {
        if (has_table(db, schema, m.captured(1)))
            return QString();
        return QString(sql).replace(m.capturedStart(1), m.capturedLength(1), schema + QLatin1Char('.') + m.captured(1));
    }
    return sql;
}

} // namespace

bool upgrade_schema(NoteStore &store)
{
    if (!store.main_connected() || store.read_only())
        return false;
    if (store.get_first_integer(
            QStringLiteral("select count(*)  from sqlite_master where type='table' and name = 'beiyong_table'")) != 0)
        return false;
    store.write(
        [](Writer &w) {
            QStringList schemas{QStringLiteral("main")};
            if (w.mirrored())
                schemas << QString::fromLatin1(kBackupSchema);
            for (const QString &schema : schemas) {
                for (const QString &sql : upgrade_statements()) {
                    const QString statement = upgrade_for(w.db(), schema, sql);
                    if (!statement.isEmpty())
                        w.db().execute(statement);
                }
                const QString create =
                    upgrade_for(w.db(), schema, QStringLiteral("CREATE TABLE set_table (key1 text,value1 TEXT);"));
                if (!create.isEmpty())
                    w.db().execute(create);
            }
        },
        WriteKind::Bookkeeping);
    return true;
}

void upgrade_database_file(const QString &path)
{
    Connection db;
    db.open(path, false);
    const auto layout = db.query_first(QStringLiteral("select count(*) from sqlite_master where type='table' and "
                                                      "name='beiyong_table' collate nocase"));
    if (!layout || layout->toLongLong() != 0)
        return;
    db.execute(QStringLiteral("BEGIN IMMEDIATE"));
    try {
        for (const QString &sql : upgrade_statements())
            db.execute(sql);
        db.execute(QStringLiteral("COMMIT"));
    } catch (...) {
        db.execute(QStringLiteral("ROLLBACK"));
        throw;
    }
}

} // namespace yunshan
