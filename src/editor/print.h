#pragma once
// Printing a note: the body with its formatting, text without a font of its own in the editor's
// font, as one job named after the note's title.
#include <QString>

class QFont;
class QPagedPaintDevice;
class QTextDocument;

namespace yunshan {

// The print job's document name: the title field's text.
QString print_document_name(const QString &title);

// Prints `body` on `device` page after page.
void print_note(const QTextDocument &body, const QFont &editor_font, QPagedPaintDevice &device);

} // namespace yunshan
