#include "notes/note_lifetime.h"

#include "store/note_rows.h"
#include "store/note_store.h"

#include <QDate>
#include <QLocale>

namespace yunshan {

QString new_note_caption(const QDate &date, const QLocale &locale)
{
    return QStringLiteral("新的笔记") + locale.toString(date, QLocale::ShortFormat);
}

NewNote create_note(NoteStore &store, const QString &class_caption, const QString &section_caption, int entries,
                    const QString &caption)
{
    NewNote n;
    n.caption = caption;
    n.px = 2 * entries + 100;
    n.note_id = insert_note_rows(store, class_caption, section_caption, n.px, caption);
    return n;
}

bool delete_note(NoteStore &store, int note_id)
{
    return delete_note_rows(store, note_id);
}

} // namespace yunshan
