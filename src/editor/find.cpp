#include "editor/find.h"

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QList>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

namespace yunshan {

namespace {

// Properties of a marked piece of text: the mark itself and the formats it covered (a missing
// saved property means the piece had none of its own).
constexpr int kMarked = QTextFormat::UserProperty + 0x5e1;
constexpr int kSavedWeight = kMarked + 1;
constexpr int kSavedForeground = kMarked + 2;

struct Run {
    int start = 0;
    int end = 0;
    QTextCharFormat format;
};

// The pieces of equal format between `start` and `end`.
QList<Run> runs_in(const QTextDocument &doc, int start, int end)
{
    QList<Run> runs;
    for (QTextBlock b = doc.findBlock(start); b.isValid() && b.position() < end; b = b.next()) {
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextFragment f = it.fragment();
            const int s = std::max(f.position(), start);
            const int e = std::min(f.position() + f.length(), end);
            if (s < e)
                runs.append({s, e, f.charFormat()});
        }
    }
    return runs;
}

QList<Run> marked_runs(const QTextDocument &doc)
{
    QList<Run> runs = runs_in(doc, 0, doc.characterCount());
    runs.erase(std::remove_if(runs.begin(), runs.end(), [](const Run &r) { return !r.format.hasProperty(kMarked); }),
               runs.end());
    return runs;
}

void restore_runs(QTextDocument &doc, const QList<Run> &runs)
{
    QTextCursor c(&doc);
    c.beginEditBlock();
    for (const Run &r : runs) {
        QTextCharFormat f = r.format;
        if (f.hasProperty(kSavedWeight))
            f.setProperty(QTextFormat::FontWeight, f.property(kSavedWeight));
        else
            f.clearProperty(QTextFormat::FontWeight);
        if (f.hasProperty(kSavedForeground))
            f.setProperty(QTextFormat::ForegroundBrush, f.property(kSavedForeground));
        else
            f.clearProperty(QTextFormat::ForegroundBrush);
        for (int p : {kMarked, kSavedWeight, kSavedForeground})
            f.clearProperty(p);
        c.setPosition(r.start);
        c.setPosition(r.end, QTextCursor::KeepAnchor);
        c.setCharFormat(f);
    }
    c.endEditBlock();
}

} // namespace

bool find_forward(const QTextDocument &doc, QTextCursor &cursor, const QString &text, FindOptions options)
{
    if (text.isEmpty())
        return false;
    QTextDocument::FindFlags flags;
    if (options.match_case)
        flags |= QTextDocument::FindCaseSensitively;
    if (options.whole_word)
        flags |= QTextDocument::FindWholeWords;
    const int from = cursor.hasSelection() ? cursor.selectionEnd() : cursor.position();
    const QTextCursor found = doc.find(text, from, flags);
    if (found.isNull())
        return false;
    cursor = found;
    return true;
}

int apply_search_highlight(QTextDocument &doc, const QString &text, int *end_of_last)
{
    if (end_of_last)
        *end_of_last = 0;
    if (text.isEmpty())
        return 0;
    QList<QPair<int, int>> matches;
    for (QTextCursor found = doc.find(text, 0); !found.isNull(); found = doc.find(text, found.selectionEnd()))
        matches.append({found.selectionStart(), found.selectionEnd()});
    if (matches.isEmpty())
        return 0;
    QTextCursor c(&doc);
    c.beginEditBlock();
    for (const auto &[start, end] : matches) {
        for (const Run &r : runs_in(doc, start, end)) {
            QTextCharFormat add;
            if (!r.format.hasProperty(kMarked)) {
                add.setProperty(kMarked, true);
                if (r.format.hasProperty(QTextFormat::FontWeight))
                    add.setProperty(kSavedWeight, r.format.property(QTextFormat::FontWeight));
                if (r.format.hasProperty(QTextFormat::ForegroundBrush))
                    add.setProperty(kSavedForeground, r.format.property(QTextFormat::ForegroundBrush));
            }
            add.setFontWeight(QFont::Bold);
            add.setForeground(QColor(255, 0, 0));
            c.setPosition(r.start);
            c.setPosition(r.end, QTextCursor::KeepAnchor);
            c.mergeCharFormat(add);
        }
    }
    c.endEditBlock();
    if (end_of_last)
        *end_of_last = matches.last().second;
    return static_cast<int>(matches.size());
}

bool remove_search_highlight(QTextDocument &doc)
{
    const QList<Run> runs = marked_runs(doc);
    if (runs.isEmpty())
        return false;
    restore_runs(doc, runs);
    return true;
}

bool has_search_highlight(const QTextDocument &doc)
{
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
        for (auto it = b.begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().hasProperty(kMarked))
                return true;
    return false;
}

std::unique_ptr<QTextDocument> copy_without_highlight(const QTextDocument &doc)
{
    if (!has_search_highlight(doc))
        return nullptr;
    std::unique_ptr<QTextDocument> copy(doc.clone());
    remove_search_highlight(*copy);
    return copy;
}

} // namespace yunshan
