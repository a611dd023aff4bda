#include "app/list_colours.h"

namespace yunshan {

ListRowColours list_row_colours(const QPalette &palette, bool selected)
{
    if (selected)
        return {kSelectedListRow, QColor(Qt::black)};
    return {palette.color(QPalette::Base), palette.color(QPalette::Text)};
}

} // namespace yunshan
