#include "app/layout_rules.h"

namespace yunshan {

PaneWidths resize_panes(PaneWidths w, int outer_width, int g4width, int splitter_width)
{
    if (w.pictures > w.editor) {
        const int moved = (w.pictures - w.editor) / 2;
        w.editor += moved;
        w.pictures -= moved;
    }
    if (w.major + w.minor + w.notes + w.editor > outer_width) {
        w.editor = g4width;
        const int rest = outer_width - (w.major + w.minor + w.notes + w.editor) - 4 * splitter_width - 6;
        w.pictures = rest > 0 ? rest : 0;
    }
    return w;
}

} // namespace yunshan
