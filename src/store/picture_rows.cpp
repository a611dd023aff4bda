#include "store/picture_rows.h"

#include "store/note_rows.h"
#include "store/note_store.h"

namespace yunshan {

qint64 store_picture(NoteStore &store, int note_id, const QByteArray &bytes)
{
    return store.write([&](Writer &w) {
        return w.insert(QStringLiteral("picture"),
                        QStringLiteral("insert into main.picture(articleId,img) values(?1,?2)"), {note_id, bytes});
    });
}

void delete_picture_row(NoteStore &store, qint64 id)
{
    store.write([&](Writer &w) {
        if (w.run(QStringLiteral("delete from main.picture where id=?1"), {id}) == 0)
            w.cancel();
    });
}

QList<StoredPicture> note_pictures(NoteStore &store, int note_id)
{
    QList<StoredPicture> rows;
    if (!store.main_connected())
        return rows;
    const auto result = store.main().query(QStringLiteral("select id,img from picture where articleId=?1"), {note_id});
    rows.reserve(result.size());
    for (const auto &r : result)
        rows.append({r.value(0).toLongLong(), r.value(1).toByteArray()});
    return rows;
}

QByteArray picture_bytes(NoteStore &store, qint64 id)
{
    if (!store.main_connected())
        throw DbError(kNoDatabaseOpen, QString(), QString());
    const auto value = store.main().query_first(QStringLiteral("select img from picture where id=?1"), {id});
    return value ? value->toByteArray() : QByteArray();
}

} // namespace yunshan
