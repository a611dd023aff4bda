#include "store/schema.h"

#include "store/connection.h"
#include "store/note_store.h"

namespace yunshan {

const QStringList &creation_statements()
{
    static const QStringList statements = {
        QStringLiteral("CREATE TABLE Class (id INTEGER PRIMARY KEY AUTOINCREMENT,px INTEGER DEFAULT (100),caption TEXT);"),
        QStringLiteral(" CREATE TABLE Section (id INTEGER PRIMARY KEY AUTOINCREMENT,px INTEGER DEFAULT (100),classId INTEGER NOT NULL,caption TEXT);"),
        QStringLiteral("CREATE TABLE title (id INTEGER PRIMARY KEY AUTOINCREMENT,px INTEGER DEFAULT (100),classId   INTEGER,sectionId INTEGER,noteId INTEGER,isDel INTEGER DEFAULT (0),fast INTEGER DEFAULT (0),beiyong1 INTEGER DEFAULT (0),beiyong2 INTEGER DEFAULT (0),beiyong3 INTEGER DEFAULT (0),beiyong4 INTEGER DEFAULT (0),beiyong5 TEXT,isRtf INTEGER DEFAULT (0),caption TEXT);"),
        QStringLiteral("CREATE TABLE notes (id INTEGER PRIMARY KEY AUTOINCREMENT,isDel INTEGER DEFAULT (0),beiyong1 INTEGER DEFAULT (0),beiyong2 TEXT,label TEXT,cuanjian TIMESTAMP DEFAULT CURRENT_TIMESTAMP,put TIMESTAMP DEFAULT CURRENT_TIMESTAMP,content TEXT);"),
        QStringLiteral("CREATE TABLE picture (id INTEGER PRIMARY KEY AUTOINCREMENT,articleId INTEGER,img BLOB);"),
        QStringLiteral("CREATE TABLE beiyong_table(key1 INTEGER PRIMARY KEY AUTOINCREMENT,value1 INTEGER,value2 INTEGER,value3 TEXT,value4 TEXT);"),
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
        QStringLiteral("CREATE TABLE beiyong_table(key1 INTEGER PRIMARY KEY AUTOINCREMENT,value1 INTEGER,value2 INTEGER,value3 TEXT,value4 TEXT);"),
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
    for (const QString &sql : creation_statements())
        main.execute(sql);
}

bool upgrade_schema(NoteStore &store)
{
    if (!store.main_connected())
        return false;
    if (store.get_first_integer(QStringLiteral(
            "select count(*)  from sqlite_master where type='table' and name = 'beiyong_table'")) != 0)
        return false;
    for (const QString &sql : upgrade_statements())
        store.main().execute(sql);
    if (store.backup_connected()) {
        for (const QString &sql : upgrade_statements())
            store.backup().execute(sql);
    }
    if (store.get_first_integer(QStringLiteral(
            "select count(*)  from sqlite_master where type='table' and name = 'set_table'")) == 0) {
        const QString create = QStringLiteral("CREATE TABLE set_table (key1 text,value1 TEXT);");
        store.main().execute(create);
        if (store.backup_connected())
            store.backup().execute(create);
    }
    return true;
}

} // namespace yunshan
