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

#include <QTextBlock>
#include <QTextDocument>

#include <cmath>

namespace yunshan {

QString body_length_text(const QTextDocument &doc)
{
    return QStringLiteral("字数:") + QString::number(doc.characterCount() - 1);
}

QString caret_position_text(const QTextCursor &cursor)
{
    const QTextBlock block = cursor.block();
    const QString before = block.text().left(cursor.position() - block.position());
    const qsizetype line_break = before.lastIndexOf(QChar(0x2028));
    int line = block.blockNumber() + 1;
    const QTextDocument *doc = cursor.document();
    // Line breaks inside the paragraphs above and inside this one before the caret.
    for (QTextBlock b = doc->begin(); b.isValid() && b != block; b = b.next())
        line += static_cast<int>(b.text().count(QChar(0x2028)));
    line += static_cast<int>(before.count(QChar(0x2028)));
    const qsizetype column = line_break < 0 ? before.size() : before.size() - line_break - 1;
    return QStringLiteral("行:") + QString::number(line) + QStringLiteral(" 列:") + QString::number(column);
}

QString selection_length_text(const QTextCursor &cursor)
{
    return QStringLiteral("选中:") + QString::number(cursor.selectionEnd() - cursor.selectionStart());
}

bool apply_selection_font(QTextCursor &cursor, const QFont &font, const QColor &color)
{
    if (!cursor.hasSelection())
        return false;
    QTextCharFormat f;
    f.setFont(font, QTextCharFormat::FontPropertiesSpecifiedOnly);
    f.setForeground(color);
    cursor.mergeCharFormat(f);
    return true;
}

StoredEditorFont stored_editor_font(const QFont &font)
{
    int points = font.pointSize();
    if (points <= 0 && font.pixelSize() > 0)
        points = static_cast<int>(std::lround(font.pixelSize() * 72.0 / 96.0));
    return {font.family(), QString::number(points)};
}

} // namespace yunshan
