#include "sync_test_util.h"

#include "store/schema.h"
#include "support/db_check.h"

#include <QFile>
#include <QFileInfo>

#include <stdexcept>

namespace yunshan::test {

NotesFile::NotesFile(const QString &path) : path_(path)
{
    const bool fresh = !QFileInfo::exists(path);
    db_.open(path);
    // Test files need not survive a power cut.
    db_.execute(QStringLiteral("PRAGMA synchronous=OFF"));
    if (fresh)
        create_schema(db_);
}

qint64 NotesFile::major(const QString &caption, qint64 px)
{
    db_.execute(QStringLiteral("insert into Class(px,caption) values(?1,?2)"), {px, caption});
    return db_.last_insert_rowid();
}

qint64 NotesFile::minor(qint64 major_id, const QString &caption, qint64 px)
{
    db_.execute(QStringLiteral("insert into Section(px,classId,caption) values(?1,?2,?3)"), {px, major_id, caption});
    return db_.last_insert_rowid();
}

qint64 NotesFile::note(qint64 minor_id, const QString &caption, const QString &tag, const QString &body,
                       const QByteArray &rtf)
{
    const qint64 major_id =
        db_.query_first(QStringLiteral("select classId from Section where id=?1"), {minor_id}).value_or(0).toLongLong();
    db_.execute(QStringLiteral("insert into notes(isDel,label,cuanjian,put,content) values(0,?1,?2,?2,?3)"),
                {tag, kSaved, body});
    const qint64 id = db_.last_insert_rowid();
    const qint64 count =
        db_.query_first(QStringLiteral("select count(*) from title where sectionId=?1"), {minor_id})->toLongLong();
    db_.execute(QStringLiteral("insert into title(px,classId,sectionId,noteId,caption) values(?1,?2,?3,?4,?5)"),
                {2 * count + 100, major_id, minor_id, id, caption});
    if (!rtf.isEmpty())
        db_.execute(QStringLiteral("replace into rtffile(noteId,rtf) values(?1,?2)"), {id, rtf});
    return id;
}

qint64 NotesFile::picture(qint64 note_id, const QByteArray &img)
{
    db_.execute(QStringLiteral("insert into picture(articleId,img) values(?1,?2)"), {note_id, img});
    return db_.last_insert_rowid();
}

void NotesFile::setting(const QString &key, const QString &value)
{
    db_.execute(QStringLiteral("delete from set_table where key1=?1"), {key});
    db_.execute(QStringLiteral("insert into set_table(key1,value1) values(?1,?2)"), {key, value});
}

void NotesFile::save_body(qint64 note_id, const QString &tag, const QString &body, const QByteArray &rtf,
                          const QString &put)
{
    db_.execute(QStringLiteral("update notes set label=?1, content=?2, put=?3 where id=?4"), {tag, body, put, note_id});
    if (rtf.isEmpty())
        db_.execute(QStringLiteral("delete from rtffile where noteId=?1"), {note_id});
    else
        db_.execute(QStringLiteral("replace into rtffile(noteId,rtf) values(?1,?2)"), {note_id, rtf});
}

void NotesFile::delete_note(qint64 note_id)
{
    db_.execute(QStringLiteral("delete from title where noteId=?1"), {note_id});
    db_.execute(QStringLiteral("delete from notes where id=?1"), {note_id});
    db_.execute(QStringLiteral("delete from rtffile where noteId=?1"), {note_id});
}

std::optional<NoteView> read_note(Connection &db, qint64 id)
{
    const auto title = db.query(
        QStringLiteral("select caption, isDel, px, fast, classId, sectionId from title where noteId=?1"), {id});
    const auto notes = db.query(QStringLiteral("select label, content, put from notes where id=?1"), {id});
    if (title.isEmpty() && notes.isEmpty())
        return std::nullopt;
    NoteView v;
    v.id = id;
    if (!title.isEmpty()) {
        v.caption = title[0][0].toString();
        v.is_del = title[0][1].toLongLong();
        v.px = title[0][2].toLongLong();
        v.fast = title[0][3].toLongLong();
        v.class_id = title[0][4].toLongLong();
        v.section_id = title[0][5].toLongLong();
    }
    if (!notes.isEmpty()) {
        v.label = notes[0][0].toString();
        v.content = notes[0][1].toString();
        v.put = notes[0][2].toString();
    }
    if (const auto rtf = db.query_first(QStringLiteral("select rtf from rtffile where noteId=?1"), {id})) {
        v.has_rtf = true;
        v.rtf = rtf->toByteArray();
    }
    for (const auto &row : db.query(QStringLiteral("select img from picture where articleId=?1 order by id"), {id}))
        v.pictures << row[0].toByteArray();
    return v;
}

QList<qint64> notes_titled(Connection &db, const QString &caption)
{
    QList<qint64> out;
    for (const auto &row :
         db.query(QStringLiteral("select noteId from title where caption=?1 order by noteId"), {caption}))
        out << row[0].toLongLong();
    return out;
}

qint64 category_id(Connection &db, bool major, const QString &caption)
{
    return db
        .query_first(major ? QStringLiteral("select id from Class where caption=?1")
                           : QStringLiteral("select id from Section where caption=?1"),
                     {caption})
        .value_or(0)
        .toLongLong();
}

QString integrity(Connection &db)
{
    return db.query_first(QStringLiteral("PRAGMA integrity_check"))->toString();
}

QString dump(const QString &path)
{
    return dump_database_file(path);
}

void copy_file(const QString &from, const QString &to)
{
    QFile::remove(to);
    if (!QFile::copy(from, to))
        throw std::runtime_error("cannot copy " + from.toStdString());
}

} // namespace yunshan::test
