#include "store/note_rows.h"

#include "store/note_store.h"
#include "store/picture_rows.h"

namespace yunshan {

namespace {

QString text_of(const QVariant &v)
{
    if (!v.isValid())
        return QString();
    if (v.typeId() == QMetaType::QByteArray)
        return QString::fromUtf8(v.toByteArray());
    return v.toString();
}

} // namespace

StoredNote read_stored_note(NoteStore &store, int note_id)
{
    StoredNote note;
    if (!store.main_connected())
        return note;
    const SqlParams id{note_id};
    Connection &db = store.main();
    if (const auto rtf = db.query_first(QStringLiteral("select rtf from rtffile where noteId=?1"), id)) {
        note.has_rtf = true;
        note.rtf = rtf->typeId() == QMetaType::QString ? rtf->toString().toUtf8() : rtf->toByteArray();
        note.label = store.get_first_string(QStringLiteral("select label from notes where id=?1"), id);
        note.put = store.get_first_string(QStringLiteral("select put from notes where id=?1"), id);
    } else {
        const auto rows = db.query(QStringLiteral("select label,put,content from notes where id=?1"), id);
        if (!rows.isEmpty() && rows.first().size() == 3) {
            note.has_notes_row = true;
            note.label = text_of(rows.first().at(0));
            note.put = text_of(rows.first().at(1));
            note.content = rows.first().at(2);
        }
    }
    note.pictures = note_pictures(store, note_id);
    return note;
}

std::optional<NoteTitleRow> read_note_title(NoteStore &store, int note_id)
{
    if (!store.main_connected())
        return std::nullopt;
    const auto rows = store.main().query(QStringLiteral("select caption,isDel from title where noteId=?1"), {note_id});
    if (rows.isEmpty() || rows.first().size() != 2)
        return std::nullopt;
    return NoteTitleRow{text_of(rows.first().at(0)), static_cast<int>(rows.first().at(1).toLongLong())};
}

QString read_note_label(NoteStore &store, int note_id)
{
    return store.get_first_string(QStringLiteral("select label from notes where id=?1"), {note_id});
}

QString database_now(Connection &db)
{
    return db.query_first(QStringLiteral("select CURRENT_TIMESTAMP")).value_or(QVariant()).toString();
}

bool update_note_rows(NoteStore &store, int note_id, const NoteRowsUpdate &u)
{
    const SqlValue id = note_id;
    return store.write([&](Writer &w) {
        int changed = 0;
        if (u.title)
            changed += w.run(QStringLiteral("update main.title set isDel=?1, caption=?2 where noteId=?3"),
                             {u.isDel, u.caption, id});
        if (u.body) {
            // One time for both databases, so that they stay identical row for row.
            const QString put = u.put.isEmpty() ? database_now(w.db()) : u.put;
            changed += w.run(QStringLiteral("update main.notes set label=?1, put=?2, content=?3 where id=?4"),
                             {u.label, put, u.content, id});
            if (u.rtf)
                w.run(QStringLiteral("replace into main.rtffile(noteId,rtf) values(?1,?2)"), {id, *u.rtf});
        } else {
            changed += w.run(QStringLiteral("update main.notes set label=?1 where id=?2"), {u.label, id});
        }
        if (changed == 0)
            w.cancel(); // the note's rows are gone
        return changed > 0;
    });
}

int insert_note_rows(NoteStore &store, const QString &class_caption, const QString &section_caption, int px,
                     const QString &caption)
{
    return store.write([&](Writer &w) {
        const qint64 id = w.insert(QStringLiteral("notes"), QStringLiteral("insert into main.notes(isDel) values(0)"));
        const qint64 class_id =
            w.db()
                .query_first(QStringLiteral("select id from main.class where caption=?1"), {class_caption})
                .value_or(0)
                .toLongLong();
        const qint64 section_id =
            w.db()
                .query_first(QStringLiteral("select id from main.section where caption=?1"), {section_caption})
                .value_or(0)
                .toLongLong();
        w.insert(QStringLiteral("title"),
                 QStringLiteral("insert into main.title(px,classId,sectionId,noteId,caption) values(?1,?2,?3,?4,?5)"),
                 {px, class_id, section_id, id, caption});
        return static_cast<int>(id);
    });
}

bool delete_note_rows(NoteStore &store, int note_id)
{
    const SqlParams id{note_id};
    return store.write([&](Writer &w) {
        int deleted = w.run(QStringLiteral("delete from main.title where noteId=?1"), id);
        deleted += w.run(QStringLiteral("delete from main.notes where id=?1"), id);
        deleted += w.run(QStringLiteral("delete from main.rtffile where noteId=?1"), id);
        if (deleted == 0)
            w.cancel();
        return deleted > 0;
    });
}

bool move_note_row(NoteStore &store, int note_id, const QString &section_caption)
{
    return store.write([&](Writer &w) {
        const auto rows =
            w.db().query(QStringLiteral("select classId, id from main.Section where caption=?1"), {section_caption});
        if (rows.isEmpty()) {
            w.cancel();
            return false;
        }
        w.run(QStringLiteral("update main.title set classId=?1, sectionId=?2 where noteId=?3"),
              {rows.first().value(0), rows.first().value(1), note_id});
        return true;
    });
}

void write_favourite_flag(NoteStore &store, int note_id, int flag)
{
    store.write([&](Writer &w) {
        w.run(QStringLiteral("update main.title set fast=?1 where noteId=?2"), {flag, note_id});
    });
}

} // namespace yunshan
