#include "support/db_check.h"

#include "store/connection.h"
#include "store/database_files.h"
#include "store/note_store.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QStringList>

namespace yunshan::test {

namespace {
QString value_text(const QVariant &v)
{
    if (!v.isValid())
        return QStringLiteral("NULL");
    if (v.typeId() == QMetaType::QByteArray)
        return QStringLiteral("X'") + QString::fromLatin1(v.toByteArray().toHex()) + QLatin1Char('\'');
    return v.toString();
}
} // namespace

QString dump_database(Connection &db)
{
    QStringList out;
    const auto objects = db.query(QStringLiteral(
        "select type, name, sql from sqlite_master where name not like 'sqlite_autoindex%' order by type, name"));
    for (const auto &o : objects) {
        out << o.at(0).toString() + QLatin1Char(' ') + o.at(1).toString() + QStringLiteral(": ") + o.at(2).toString();
        if (o.at(0).toString() != QLatin1String("table"))
            continue;
        const QString table = o.at(1).toString();
        // The generation stamp changes with every write: it is no content of the notes.
        const QString skip = table == QLatin1String("set_table")
                                 ? QStringLiteral(" where key1 is not '%1'").arg(QString::fromLatin1(kGenerationKey))
                                 : QString();
        const auto rows = db.query(QStringLiteral("select * from \"%1\"%2 order by rowid").arg(table, skip));
        for (const auto &r : rows) {
            QStringList cells;
            for (const auto &c : r)
                cells << value_text(c);
            out << QStringLiteral("  ") + cells.join(QStringLiteral(" | "));
        }
    }
    return out.join(QLatin1Char('\n'));
}

QString dump_database_file(const QString &path)
{
    Connection c;
    c.open(path);
    return dump_database(c);
}

QString qualified_sql(const QString &sql)
{
    static const QRegularExpression table(QStringLiteral("\\b(into|update|from|join|table)\\s+(\\w+)"),
                                          QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression cte(QStringLiteral("\\bwith\\s+(?:recursive\\s+)?(\\w+)"),
                                        QRegularExpression::CaseInsensitiveOption);
    QStringList own;
    for (auto it = cte.globalMatch(sql); it.hasNext();)
        own << it.next().captured(1).toLower();
    QString out;
    qsizetype at = 0;
    for (auto it = table.globalMatch(sql); it.hasNext();) {
        const auto m = it.next();
        const QString name = m.captured(2);
        if (name.compare(QLatin1String("main"), Qt::CaseInsensitive) == 0 ||
            name.compare(QLatin1String("select"), Qt::CaseInsensitive) == 0 || own.contains(name.toLower()))
            continue;
        out += sql.mid(at, m.capturedStart(2) - at) + QStringLiteral("main.");
        at = m.capturedStart(2);
    }
    return out + sql.mid(at);
}

int write_sql(NoteStore &store, const QString &sql, const SqlParams &params)
{
    return store.write([&](Writer &w) { return w.run(qualified_sql(sql), params); });
}

std::unique_ptr<Connection> open_backup(NoteStore &store)
{
    auto c = std::make_unique<Connection>();
    c->open_read_only(store.backup_file());
    return c;
}

void expect_mirror_identical(NoteStore &store)
{
    ASSERT_TRUE(store.main_connected());
    ASSERT_TRUE(store.backup_connected());
    const auto backup = open_backup(store);
    EXPECT_EQ(dump_database(store.main()).toStdString(), dump_database(*backup).toStdString());
    const QString stamp =
        QStringLiteral("select value1 from set_table where key1='%1'").arg(QString::fromLatin1(kGenerationKey));
    EXPECT_EQ(store.main().query_first(stamp), backup->query_first(stamp));
}

void expect_files_identical(const QString &main_file, const QString &backup_file)
{
    EXPECT_EQ(dump_database_file(main_file).toStdString(), dump_database_file(backup_file).toStdString());
}

void make_old_database(const QString &path, bool with_set_table)
{
    Connection c;
    c.open(path);
    c.execute(QStringLiteral(
        "CREATE TABLE Class (id INTEGER PRIMARY KEY AUTOINCREMENT,px INTEGER DEFAULT (100),caption TEXT);"));
    c.execute(QStringLiteral("CREATE TABLE Section (id INTEGER PRIMARY KEY AUTOINCREMENT,px INTEGER DEFAULT "
                             "(100),classId INTEGER NOT NULL,caption TEXT);"));
    c.execute(QStringLiteral(
        "CREATE TABLE title (id INTEGER PRIMARY KEY AUTOINCREMENT,px INTEGER DEFAULT (100),classId   INTEGER,sectionId "
        "INTEGER,noteId INTEGER,isDel INTEGER DEFAULT (0),isRtf INTEGER DEFAULT (0),caption TEXT);"));
    c.execute(QStringLiteral(
        "CREATE TABLE notes (id INTEGER PRIMARY KEY AUTOINCREMENT,isDel INTEGER DEFAULT (0),label TEXT,cuanjian "
        "TIMESTAMP DEFAULT CURRENT_TIMESTAMP,put TIMESTAMP DEFAULT CURRENT_TIMESTAMP,content TEXT);"));
    c.execute(
        QStringLiteral("CREATE TABLE picture (id INTEGER PRIMARY KEY AUTOINCREMENT,articleId INTEGER,img BLOB);"));
    c.execute(QStringLiteral("CREATE TABLE rtffile (noteId INTEGER PRIMARY KEY,rtf BLOB);"));
    if (with_set_table)
        c.execute(QStringLiteral("CREATE TABLE set_table (key1 TEXT,value1 TEXT);"));
    c.execute(QStringLiteral("CREATE INDEX sectionIdIndex ON title(sectionId);"));
    c.execute(QStringLiteral("CREATE INDEX noteIdIndex ON title(noteId);"));
    c.execute(QStringLiteral("CREATE INDEX imgIndex ON picture(articleId);"));
    c.execute(QStringLiteral("insert into Class(px,caption) values(500,'旧大类');"));
    c.execute(QStringLiteral("insert into Section(classId,caption) values(1,'旧小类');"));
    // Fixed times, so two files made a second apart still hold the same rows.
    c.execute(QStringLiteral("insert into notes(label,content,cuanjian,put) "
                             "values('标签','正文','2020-01-02 03:04:05','2020-01-02 03:04:05');"));
    c.execute(QStringLiteral("insert into title(classId,sectionId,noteId,caption) values(1,1,1,'旧笔记');"));
}

} // namespace yunshan::test
