#include "app/layout_rules.h"

#include <gtest/gtest.h>

namespace yunshan {
namespace {

struct ResizeCase {
    const char *what;
    PaneWidths before;
    int outer_width;
    PaneWidths after;
};

TEST(ResizeRule, MovesHalfTheDifferenceAndFallsBackWhenNarrow)
{
    const int g4width = 490;
    const ResizeCase cases[] = {
        {"start layout stays", {100, 102, 195, 490, 218}, 1117, {100, 102, 195, 490, 218}},
        {"even difference", {100, 102, 195, 490, 600}, 1499, {100, 102, 195, 545, 545}},
        {"odd difference rounds toward the picture pane", {100, 102, 195, 491, 600}, 1500, {100, 102, 195, 545, 546}},
        {"one pixel wider moves nothing", {100, 102, 195, 490, 491}, 1390, {100, 102, 195, 490, 491}},
        {"equal widths", {100, 102, 195, 500, 500}, 1409, {100, 102, 195, 500, 500}},
        // 100+102+195+700 = 1097 > 1000: editor back to 490, pictures 1000-887-12-6.
        {"narrow window resets the editor pane", {100, 102, 195, 700, 50}, 1000, {100, 102, 195, 490, 95}},
        // Step 1 first (editor 600 -> 700), then the narrow rule.
        {"both steps", {100, 102, 195, 600, 800}, 1000, {100, 102, 195, 490, 95}},
        {"sum equal to the outer width is not too wide", {100, 102, 195, 603, 0}, 1000, {100, 102, 195, 603, 0}},
        {"no room left gives the picture pane nothing", {100, 102, 195, 700, 50}, 800, {100, 102, 195, 490, 0}},
    };
    for (const ResizeCase &c : cases) {
        const PaneWidths got = resize_panes(c.before, c.outer_width, g4width);
        EXPECT_EQ(got, c.after) << c.what << ": got " << got.major << "/" << got.minor << "/" << got.notes << "/"
                                << got.editor << "/" << got.pictures;
    }
}

} // namespace
} // namespace yunshan
