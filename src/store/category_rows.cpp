#include "store/category_rows.h"

#include "store/note_store.h"

namespace yunshan {

namespace {

QStringList first_column(NoteStore &store, const QString &sql, const SqlParams &params = {})
{
    QStringList out;
    if (!store.main_connected())
        return out;
    for (const auto &row : store.main().query(sql, params))
        out << (row.isEmpty() ? QString() : row.first().toString());
    return out;
}

// The statement's row condition and its bound value.
QString row_condition(ListTable table)
{
    return table == ListTable::Title ? QStringLiteral("noteId=?1") : QStringLiteral("caption=?1");
}

QString table_name(ListTable table)
{
    switch (table) {
    case ListTable::Class:
        return QStringLiteral("Class");
    case ListTable::Section:
        return QStringLiteral("Section");
    case ListTable::Title:
        break;
    }
    return QStringLiteral("title");
}

SqlValue row_key(ListTable table, const QString &caption, int note_id)
{
    return table == ListTable::Title ? SqlValue(note_id) : SqlValue(caption);
}

} // namespace

QStringList class_captions(NoteStore &store)
{
    return first_column(store, QStringLiteral("select caption from class where 1=1  order by px"));
}

QStringList section_captions(NoteStore &store, const QString &class_caption)
{
    return first_column(
        store,
        QStringLiteral("select caption from Section where classId=(select id from class where caption=?1) order by px"),
        {class_caption});
}

bool section_caption_taken(NoteStore &store, const QString &caption)
{
    return !store.get_first_string(QStringLiteral("select caption from Section where caption=?1"), {caption}).isEmpty();
}

void add_class(NoteStore &store, int px, const QString &stored_name)
{
    store.write([&](Writer &w) {
        w.insert(QStringLiteral("Class"), QStringLiteral("insert into main.Class(px,caption) values(?1,?2)"),
                 {px, stored_name});
    });
}

bool add_section(NoteStore &store, int px, const QString &stored_name, const QString &class_caption)
{
    return store.write([&](Writer &w) {
        const auto class_id =
            w.db().query_first(QStringLiteral("select id from main.Class where caption=?1"), {class_caption});
        if (!class_id) {
            w.cancel();
            return false;
        }
        w.insert(QStringLiteral("Section"),
                 QStringLiteral("insert into main.Section(px,classId,caption) values(?1,?2,?3)"),
                 {px, *class_id, stored_name});
        return true;
    });
}

int delete_category_row(NoteStore &store, ListTable table, const QString &caption)
{
    return store.write([&](Writer &w) {
        return w.run(QStringLiteral("delete from main.%1 where caption=?1").arg(table_name(table)), {caption});
    });
}

int change_px(NoteStore &store, ListTable table, const QString &caption, int note_id, PxChange change, int px)
{
    QString set;
    SqlParams params{row_key(table, caption, note_id)};
    switch (change) {
    case PxChange::Pin:
        set = QStringLiteral("px=0");
        break;
    case PxChange::Up:
        set = QStringLiteral("px=px-3");
        break;
    case PxChange::Down:
        set = QStringLiteral("px=px+3");
        break;
    case PxChange::Set:
        set = QStringLiteral("px=?2");
        params << px;
        break;
    }
    const QString sql =
        QStringLiteral("update main.%1 set %2 where %3").arg(table_name(table), set, row_condition(table));
    return store.write([&](Writer &w) { return w.run(sql, params); });
}

int set_caption(NoteStore &store, ListTable table, const QString &old_caption, int note_id,
                const QString &stored_caption)
{
    const QString sql =
        QStringLiteral("update main.%1 set caption=?2 where %2").arg(table_name(table), row_condition(table));
    return store.write([&](Writer &w) { return w.run(sql, {row_key(table, old_caption, note_id), stored_caption}); });
}

} // namespace yunshan
