#pragma once
// Colours of the entries of the category, note and headings lists.
#include <QColor>
#include <QPalette>

namespace yunshan {

// The selected entry's fixed background.
inline const QColor kSelectedListRow{228, 217, 233};

struct ListRowColours {
    QColor background;
    QColor text;
};

// The selected entry keeps its fixed light background with black text under any desktop theme;
// the other entries follow the palette (Base and Text), so a dark theme keeps them readable.
ListRowColours list_row_colours(const QPalette &palette, bool selected);

} // namespace yunshan
