#pragma once
// Finding inside the open note and marking every occurrence of the search text in bold red.
// The marks remember the formats they covered, so removing them gives the text back exactly as
// it was; a saved body never carries them (see copy_without_highlight).
#include <QString>

#include <memory>

class QTextCursor;
class QTextDocument;

namespace yunshan {

// Options of the find dialog.
struct FindOptions {
    bool match_case = false;
    bool whole_word = false;
};

// Searches `text` from the end of `cursor`'s selection (or its position) to the end of the
// body, without wrapping. True and `cursor` selects the match when found; unchanged otherwise.
bool find_forward(const QTextDocument &doc, QTextCursor &cursor, const QString &text, FindOptions options);

// Marks every occurrence of `text` (letter case ignored) in bold pure red, RGB(255, 0, 0),
// walking from the start of the body. Text already marked keeps the formats remembered the
// first time. Returns the number of occurrences; `end_of_last` (when given) receives the
// position after the last one, 0 when there is none. One undo step.
int apply_search_highlight(QTextDocument &doc, const QString &text, int *end_of_last = nullptr);

// Gives every marked piece of text the formats it had before it was marked. Returns whether
// anything was marked.
bool remove_search_highlight(QTextDocument &doc);

// Whether any text of the body carries the marks.
bool has_search_highlight(const QTextDocument &doc);

// The body as it must be stored: a copy without the marks, or null when `doc` has none (store
// `doc` itself then). Saving and autosaving write from this.
std::unique_ptr<QTextDocument> copy_without_highlight(const QTextDocument &doc);

} // namespace yunshan
