#include "catalogue/category_lists.h"

#include "store/note_store.h"
#include "store/sql_text.h"

namespace yunshan {

static QStringList first_column(NoteStore &store, const QString &sql)
{
    QStringList out;
    if (!store.main_connected())
        return out;
    for (const auto &row : store.main().query(sql))
        out << (row.isEmpty() ? QString() : row.first().toString());
    return out;
}

QStringList class_captions(NoteStore &store)
{
    return first_column(store, QStringLiteral("select caption from class where 1=1  order by px"));
}

QStringList section_captions(NoteStore &store, const QString &class_caption)
{
    return first_column(store, QStringLiteral("select caption from Section where classId=(select id from class where caption='") +
                                   double_quotes(class_caption) + QStringLiteral("') order by px"));
}

} // namespace yunshan
