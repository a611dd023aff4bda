#include "pictures/thumbnail_slots.h"

#include <gtest/gtest.h>

namespace yunshan {
namespace {

TEST(ThumbnailSlots, HeightFollowsThePanelWidthRoundingHalvesToEven)
{
    EXPECT_EQ(thumbnail_height(QSize(200, 100), 200), 100);
    EXPECT_EQ(thumbnail_height(QSize(400, 100), 200), 50);
    EXPECT_EQ(thumbnail_height(QSize(800, 600), 150), 112); // 112.5 -> 112
    EXPECT_EQ(thumbnail_height(QSize(400, 5), 200), 2);     // 2.5 -> 2
    EXPECT_EQ(thumbnail_height(QSize(400, 7), 200), 4);     // 3.5 -> 4
    EXPECT_EQ(thumbnail_height(QSize(0, 10), 200), 0);
    EXPECT_EQ(thumbnail_height(QSize(10, 10), 0), 0);
}

TEST(ThumbnailSlots, StackFourPixelsApartInTheOrderAdded)
{
    ThumbnailSlots slots;
    EXPECT_EQ(slots.add(1, QSize(150, 100), 150), 0);
    EXPECT_EQ(slots.add(2, QSize(300, 100), 150), 1);
    EXPECT_EQ(slots.add(3, QSize(75, 40), 150), 2);
    EXPECT_EQ(slots.slot(0).top, 0);
    EXPECT_EQ(slots.slot(1).top, 104);
    EXPECT_EQ(slots.slot(2).top, 158);
    EXPECT_EQ(slots.slot(0).height, 100);
    EXPECT_EQ(slots.slot(1).height, 50);
    EXPECT_EQ(slots.slot(2).height, 80);
    EXPECT_EQ(slots.content_height(), 242);
}

TEST(ThumbnailSlots, AHundredSlotsAtMost)
{
    ThumbnailSlots slots;
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(slots.add(i + 1, QSize(10, 10), 10), i);
    EXPECT_EQ(slots.add(101, QSize(10, 10), 10), -1);
    EXPECT_EQ(slots.count(), 100);
    EXPECT_EQ(slots.find(101), -1);
    EXPECT_EQ(slots.find(100), 99);
}

TEST(ThumbnailSlots, DeletionLeavesAGapAndANewThumbnailGoesBelowTheLowest)
{
    ThumbnailSlots slots;
    slots.add(1, QSize(100, 100), 100);
    slots.add(2, QSize(100, 50), 100);
    slots.add(3, QSize(100, 80), 100);
    EXPECT_EQ(slots.remove(2), 1);
    EXPECT_EQ(slots.remove(2), -1);
    EXPECT_EQ(slots.slot(2).top, 158);

    // The freed slot 2 takes the new picture, shown below picture 3.
    EXPECT_EQ(slots.add(-1, QSize(100, 30), 100), 1);
    EXPECT_EQ(slots.slot(1).top, 242);
    EXPECT_EQ(slots.set_pending_id(9), 1);
    EXPECT_EQ(slots.find(9), 1);
    EXPECT_EQ(slots.set_pending_id(10), -1);
}

TEST(ThumbnailSlots, WideningScalesEveryThumbnailAndKeepsTheirOrder)
{
    ThumbnailSlots slots;
    slots.add(1, QSize(100, 100), 100);
    slots.add(2, QSize(100, 50), 100);
    slots.add(3, QSize(100, 80), 100);
    slots.remove(2);
    slots.add(4, QSize(100, 20), 100); // slot 1, lowest on the panel
    slots.rescale(200);
    EXPECT_EQ(slots.slot(0).height, 200);
    EXPECT_EQ(slots.slot(2).height, 160);
    EXPECT_EQ(slots.slot(1).height, 40);
    // The room picture 2 left above picture 3 grows as picture 2 would have grown.
    EXPECT_EQ(slots.slot(0).top, 0);
    EXPECT_EQ(slots.slot(2).top, 308);
    EXPECT_EQ(slots.slot(1).top, 472);
    slots.rescale(100); // and back
    EXPECT_EQ(slots.slot(0).top, 0);
    EXPECT_EQ(slots.slot(2).top, 158);
    EXPECT_EQ(slots.slot(1).top, 242);
    slots.clear();
    EXPECT_EQ(slots.count(), 0);
    EXPECT_EQ(slots.content_height(), 0);
}

TEST(ThumbnailSlots, AStandInForAnUndecodablePictureKeepsItsHeight)
{
    ThumbnailSlots slots;
    slots.add(1, QSize(), 100);
    slots.add(2, QSize(100, 50), 100);
    EXPECT_EQ(slots.slot(0).height, ThumbnailSlots::kPlaceholderHeight);
    EXPECT_EQ(slots.slot(1).top, ThumbnailSlots::kPlaceholderHeight + 4);
    slots.rescale(200);
    EXPECT_EQ(slots.slot(0).height, ThumbnailSlots::kPlaceholderHeight);
    EXPECT_EQ(slots.slot(1).top, ThumbnailSlots::kPlaceholderHeight + 4);
    EXPECT_EQ(slots.slot(1).height, 100);
}

} // namespace
} // namespace yunshan
