#pragma once
// Formatting commands on the editor's selection.
class QColor;
class QTextCursor;

namespace yunshan {

// Bold toggle: nothing without a selection; a bold selection loses bold, any other becomes
// bold. Returns whether something was applied (the body is then rich text).
bool toggle_bold(QTextCursor &cursor);
// Red toggle: a pure red selection becomes black, any other pure red.
bool toggle_red(QTextCursor &cursor);

} // namespace yunshan

#include <QString>

class QFont;
class QTextDocument;

namespace yunshan {

// Status bar texts: panel 1 (length of the body, line breaks included), panel 2 (line from 1
// and column from 0 of the caret; a line is a paragraph or a part of one after a line break),
// panel 3 (length of the selection).
QString body_length_text(const QTextDocument &doc);
QString caret_position_text(const QTextCursor &cursor);
QString selection_length_text(const QTextCursor &cursor);

// The selection takes `font` (name, size, style) and `color`. Nothing without a selection;
// returns whether something was applied.
bool apply_selection_font(QTextCursor &cursor, const QFont &font, const QColor &color);

// The default editor font as stored: name and size in points (from the pixel size at 96 dots
// per inch when the font has no point size).
struct StoredEditorFont {
    QString name;
    QString size;
};
StoredEditorFont stored_editor_font(const QFont &font);

} // namespace yunshan
