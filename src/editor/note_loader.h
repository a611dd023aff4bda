#pragma once
// What the editor shows of a note's stored fields (store/note_rows.h reads them): the plain
// body, the update time, the headings mark, and find next in a body.
#include <QString>
#include <QVariant>

class QLocale;
class QTextCursor;
class QTextDocument;

namespace yunshan {

// The plain body from a stored plain-text copy: UTF-16LE bytes after the mark FF FE, or text
// (with or without a leading U+FEFF); bytes without the mark are read as UTF-8.
QString plain_body_text(const QVariant &content);

// A stored time ("yyyy-MM-dd HH:mm:ss") in the regional date-and-time format, the one form the
// status bar shows for plain and rich-text notes alike; the stored text itself when it is not a time.
QString regional_date_time(const QString &stored, const QLocale &locale);

// Whether the headings tab shows its picture: the body holds "#" anywhere.
bool body_has_headings_mark(const QString &body);

// Find next in a body: the next occurrence of `text` from the end of `cursor`'s selection (or
// its position) to the end, ignoring letter case. True and `cursor` selects it when found.
bool find_next_in(const QTextDocument &doc, QTextCursor &cursor, const QString &text);

} // namespace yunshan
