#include "store/category_export.h"

#include "store/connection.h"
#include "store/note_store.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace yunshan {

void IdMap::append(qint32 old1, qint32 new1)
{
    records_.append({old1, new1});
    if (!first_.contains(old1))
        first_.insert(old1, new1);
}

qint32 IdMap::lookup(qint32 old1) const
{
    return first_.value(old1, -1);
}

namespace {

// The target's schema: each statement with the kind and name of what it creates.
struct SchemaPiece {
    const char *type;
    const char *name;
    const char *sql;
};

const SchemaPiece kTargetSchema[] = {
    {"table", "Class",
     "CREATE TABLE Class (id INTEGER PRIMARY KEY AUTOINCREMENT,px INTEGER DEFAULT (100),caption TEXT);"},
    {"table", "Section",
     " CREATE TABLE Section (id INTEGER PRIMARY KEY AUTOINCREMENT,px INTEGER DEFAULT (100),classId INTEGER NOT "
     "NULL,caption TEXT);"},
    {"table", "title",
     "CREATE TABLE title (id INTEGER PRIMARY KEY AUTOINCREMENT,px INTEGER DEFAULT (100),classId   INTEGER,sectionId "
     "INTEGER,noteId INTEGER,isDel INTEGER DEFAULT (0),fast INTEGER DEFAULT (0),beiyong1 INTEGER DEFAULT (0),beiyong2 "
     "INTEGER DEFAULT (0),beiyong3 INTEGER DEFAULT (0),beiyong4 INTEGER DEFAULT (0),beiyong5 TEXT,isRtf INTEGER "
     "DEFAULT (0),caption TEXT);"},
    {"table", "notes",
     "CREATE TABLE notes (id INTEGER PRIMARY KEY AUTOINCREMENT,isDel INTEGER DEFAULT (0),beiyong1 INTEGER DEFAULT "
     "(0),beiyong2 TEXT,label TEXT,cuanjian TIMESTAMP DEFAULT CURRENT_TIMESTAMP,put TIMESTAMP DEFAULT "
     "CURRENT_TIMESTAMP,content TEXT);"},
    {"table", "picture", "CREATE TABLE picture (id INTEGER PRIMARY KEY AUTOINCREMENT,articleId INTEGER,img BLOB);"},
    {"table", "rtffile", "CREATE TABLE rtffile (noteId INTEGER PRIMARY KEY,rtf BLOB);"},
    {"table", "beiyong_table",
     "CREATE TABLE beiyong_table(key1 INTEGER PRIMARY KEY AUTOINCREMENT,value1 INTEGER,value2 INTEGER,value3 "
     "TEXT,value4 TEXT);"},
    {"index", "sectionIdIndex", "CREATE INDEX sectionIdIndex ON title(sectionId);"},
    {"index", "noteIdIndex", "CREATE INDEX noteIdIndex ON title(noteId);"},
    {"index", "imgIndex", "CREATE INDEX imgIndex ON picture(articleId);"},
};

void create_missing_schema(Connection &target)
{
    PreparedQuery present(
        target, QStringLiteral("select count(*) from sqlite_master where type=:a and name=:b collate nocase"));
    for (const SchemaPiece &piece : kTargetSchema) {
        present.bind(1, QString::fromLatin1(piece.type));
        present.bind(2, QString::fromLatin1(piece.name));
        const bool exists = present.next() && present.integer(0) != 0;
        present.reset();
        if (!exists)
            target.execute(QString::fromLatin1(piece.sql));
    }
}

void report(const ExportProgress &progress, ExportStep step, int count = 0)
{
    if (progress)
        progress(step, count);
}

// The rows of one major category, read from `main` and written into `target` (one open
// transaction); the statements are prepared once and run for every row.
ExportCounts copy_category(Connection &main, Connection &target, qint64 old_major, const QString &caption,
                           const ExportProgress &progress)
{
    ExportCounts counts;
    create_missing_schema(target);

    target.execute(QStringLiteral("insert into Class(px,caption) values(100,:a)"), {caption});
    counts.major_id = target.last_insert_rowid();

    report(progress, ExportStep::Sections);
    IdMap sections;
    {
        PreparedQuery read(main, QStringLiteral("select id,px,caption from Section where classId=:a order by px,id"));
        PreparedQuery write(target, QStringLiteral("insert into Section(px,classId,caption) values(:a,:b,:c)"));
        read.bind(1, old_major);
        write.bind(2, counts.major_id);
        while (read.next()) {
            write.bind_column(1, read, 1);
            write.bind_column(3, read, 2);
            write.run();
            sections.append(qint32(read.integer(0)), qint32(target.last_insert_rowid()));
            ++counts.sections;
        }
    }

    report(progress, ExportStep::Notes);
    IdMap notes;
    {
        PreparedQuery read(main, QStringLiteral("select id,label,cuanjian,put,content from notes where id in(select "
                                                "noteid from title where classId=:a) order by id"));
        PreparedQuery write(target,
                            QStringLiteral("insert into notes(label,cuanjian,put,content) values(:a,:b,:c,:d)"));
        read.bind(1, old_major);
        int count = 0;
        while (read.next()) {
            for (int c = 1; c <= 4; ++c)
                write.bind_column(c, read, c);
            write.run();
            notes.append(qint32(read.integer(0)), qint32(target.last_insert_rowid()));
            ++count;
            if (count % 100 == 99)
                report(progress, ExportStep::NotesCopied, count);
        }
        counts.notes = count;
    }
    {
        // The RTF bodies (ciphertext for encrypted notes) go with their notes.
        PreparedQuery read(main, QStringLiteral("select noteId,rtf from rtffile where noteId in(select noteid from "
                                                "title where classId=:a) order by noteId"));
        PreparedQuery write(target, QStringLiteral("insert into rtffile(noteId,rtf) values(:a,:b)"));
        read.bind(1, old_major);
        while (read.next()) {
            const qint32 id = notes.lookup(qint32(read.integer(0)));
            if (id < 0)
                continue;
            write.bind(1, qint64(id));
            write.bind_column(2, read, 1);
            write.run();
            ++counts.rtf_bodies;
        }
    }

    report(progress, ExportStep::Titles);
    {
        PreparedQuery read(
            main,
            QStringLiteral(
                "select px,sectionId,noteId,isDel,fast,isRtf,caption from title where classId=:a order by px,id"));
        PreparedQuery write(target,
                            QStringLiteral("insert into title(px,classId,sectionId,noteId,isDel,fast,isRtf,caption) "
                                           "values(:a,:b,:c,:d,:e,:f,:g,:h)"));
        PreparedQuery read_pictures(main, QStringLiteral("select img from picture where articleId=:a order by id"));
        PreparedQuery write_picture(target, QStringLiteral("insert into picture(articleId,img) values(:a,:b)"));
        QSet<qint32> pictures_done;
        read.bind(1, old_major);
        write.bind(2, counts.major_id);
        int count = 0;
        while (read.next()) {
            const qint32 old_note = qint32(read.integer(2));
            const qint32 new_note = notes.lookup(old_note);
            write.bind_column(1, read, 0);
            write.bind(3, qint64(read.is_null(1) ? -1 : sections.lookup(qint32(read.integer(1)))));
            write.bind(4, qint64(new_note));
            write.bind_column(5, read, 3);
            write.bind_column(6, read, 4);
            write.bind_column(7, read, 5);
            write.bind_column(8, read, 6);
            write.run();
            // Pictures belong to the note: copied once, and only for a note that was copied.
            if (new_note >= 0 && !pictures_done.contains(old_note)) {
                pictures_done.insert(old_note);
                read_pictures.bind(1, qint64(old_note));
                write_picture.bind(1, qint64(new_note));
                while (read_pictures.next()) {
                    write_picture.bind_column(2, read_pictures, 0);
                    write_picture.run();
                    ++counts.pictures;
                }
                read_pictures.reset();
            }
            ++count;
            if (count % 100 == 99)
                report(progress, ExportStep::TitlesCopied, count);
        }
        counts.titles = count;
    }
    return counts;
}

void remove_database_file(const QString &path)
{
    QFile::remove(path);
    QFile::remove(path + QStringLiteral("-journal"));
}

} // namespace

qint64 class_id(NoteStore &store, const QString &caption)
{
    if (!store.main_connected())
        return 0;
    const auto v = store.main().query_first(QStringLiteral("select id from class where caption=:a"), {caption});
    return v ? v->toLongLong() : 0;
}

ExportCounts copy_major_category(const QString &source, qint64 old_major, const QString &caption, const QString &target,
                                 const ExportProgress &progress)
{
    report(progress, ExportStep::Database);
    const bool created = !QFileInfo::exists(target);
    // The target has a connection of its own: nothing meant for the notes' databases reaches it.
    // The source is read on another one, never on the store's, which belongs to the thread that
    // opened it.
    Connection in;
    Connection out;
    ExportCounts counts;
    try {
        in.open_read_only(source);
        // The source's read lock is held from the first read to the last, so every row comes
        // from one state of the file (a writer elsewhere waits meanwhile).
        in.execute(QStringLiteral("BEGIN"));
        out.open(target);
        out.execute(QStringLiteral("BEGIN IMMEDIATE"));
        counts = copy_category(in, out, old_major, caption, progress);
        out.execute(QStringLiteral("COMMIT"));
    } catch (...) {
        try {
            if (out.in_transaction())
                out.execute(QStringLiteral("ROLLBACK"));
        } catch (const DbError &) {
            // The engine ended the transaction itself.
        }
        out.close();
        in.close();
        if (created)
            remove_database_file(target);
        throw;
    }
    in.close(); // ends the read transaction
    return counts;
}

} // namespace yunshan
