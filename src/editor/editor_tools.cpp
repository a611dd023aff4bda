#include "editor/editor_tools.h"

#include <QColor>
#include <QFont>
#include <QTextCharFormat>
#include <QTextCursor>

namespace yunshan {

bool toggle_bold(QTextCursor &cursor)
{
    if (!cursor.hasSelection())
        return false;
    // The selection "reads as bold" when its format is bold: the format at its start.
    QTextCursor probe(cursor.document());
    probe.setPosition(cursor.selectionStart() + 1);
    const bool bold = probe.charFormat().fontWeight() >= QFont::Bold;
    QTextCharFormat f;
    f.setFontWeight(bold ? QFont::Normal : QFont::Bold);
    cursor.mergeCharFormat(f);
    return true;
}

bool toggle_red(QTextCursor &cursor)
{
    if (!cursor.hasSelection())
        return false;
    QTextCursor probe(cursor.document());
    probe.setPosition(cursor.selectionStart() + 1);
    const QBrush fg = probe.charFormat().foreground();
    const bool red = fg.style() != Qt::NoBrush && fg.color() == QColor(255, 0, 0);
    QTextCharFormat f;
    f.setForeground(red ? QColor(0, 0, 0) : QColor(255, 0, 0));
    cursor.mergeCharFormat(f);
    return true;
}

} // namespace yunshan
