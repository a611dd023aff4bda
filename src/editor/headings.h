#pragma once
// The headings list of the open note: lines that start with "#".
#include <QString>
#include <QStringList>

class QTextDocument;

namespace yunshan {

// The heading lines of a body, in order: each line (paragraph or line break) trimmed, kept when
// it begins with "#".
QStringList heading_lines(const QString &body);
QStringList heading_lines(const QTextDocument &doc);

// What the jump to a heading searches for: the text after the heading's first blank, the whole
// heading when it has none; at most 255 characters.
QString heading_search_key(const QString &heading);

// The text drawn for entry `row`: its number from 1, a blank and the heading.
QString heading_entry_text(int row, const QString &heading);

// Whether the entry is drawn in red: the search highlight is on and the heading contains the
// search text (letter case counts).
bool heading_in_red(const QString &heading, const QString &search_text, bool search_highlight);

} // namespace yunshan
