#pragma once
// The welcome text the editor shows at every start before a note is opened.
#include <QStringList>

class QTextDocument;

namespace yunshan {

const QStringList &start_page_lines();
// Replaces the document's content with the start page and its three formatted ranges.
void fill_start_page(QTextDocument &doc);

} // namespace yunshan
