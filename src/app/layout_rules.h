#pragma once
// Size rules of the main window, kept free of widgets so they can be tested on their own.
#include <QList>

namespace yunshan {

// Widths in pixels of the five panes, left to right.
struct PaneWidths {
    int major = 0;    // 大类
    int minor = 0;    // 小类
    int notes = 0;    // note list / headings
    int editor = 0;   // 内容
    int pictures = 0; // 图片

    friend bool operator==(const PaneWidths &, const PaneWidths &) = default;
};

// Splitter handle width between two panes.
constexpr int kSplitterWidth = 3;

// The rule applied on every change of the window size:
// 1. a picture pane wider than the editor pane gives half the difference (integer division) to it;
// 2. when the four left panes together exceed the window's outer width, the editor pane goes
//    back to `g4width` (its width at creation) and the picture pane gets the rest of the outer
//    width less four splitters and 6 pixels. A width below zero is not a width: the picture
//    pane is then given 0.
PaneWidths resize_panes(PaneWidths w, int outer_width, int g4width, int splitter_width = kSplitterWidth);

} // namespace yunshan
