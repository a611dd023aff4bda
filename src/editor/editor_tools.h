#pragma once
// Formatting commands on the editor's selection.
class QTextCursor;

namespace yunshan {

// Bold toggle: nothing without a selection; a bold selection loses bold, any other becomes
// bold. Returns whether something was applied (the body is then rich text).
bool toggle_bold(QTextCursor &cursor);
// Red toggle: a pure red selection becomes black, any other pure red.
bool toggle_red(QTextCursor &cursor);

} // namespace yunshan
