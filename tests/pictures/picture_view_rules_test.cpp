#include "pictures/picture_view_rules.h"

#include <gtest/gtest.h>

#include <QSet>

namespace yunshan {
namespace {

TEST(PictureViewRules, ZoomOutThenInFrom800x600)
{
    const QSize area(946, 592);
    QRect r(QPoint(73, -4), QSize(800, 600));
    r = zoom_out(r, area, area);
    EXPECT_EQ(r.size(), QSize(640, 480));
    EXPECT_EQ(r.topLeft(), centred_position(area, QSize(800, 600))); // centred before shrinking
    EXPECT_EQ(zoom_title(r.width(), 800), QStringLiteral("图片浏览 缩放：0.8"));
    r = zoom_in(r);
    EXPECT_EQ(r.size(), QSize(768, 576));
    EXPECT_EQ(zoom_title(r.width(), 800), QStringLiteral("图片浏览 缩放：1"));
}

TEST(PictureViewRules, ZoomInMovesOnlyWhileThePlaceStaysOnTheArea)
{
    EXPECT_EQ(zoom_in(QRect(50, 40, 100, 100)), QRect(40, 30, 120, 120));
    EXPECT_EQ(zoom_in(QRect(5, 40, 100, 300)), QRect(5, 10, 120, 360));
    EXPECT_EQ(zoom_in(QRect(5, 20, 100, 300)), QRect(5, 20, 120, 360));
    // Larger than the client area: not centred, just shrunk around its place.
    EXPECT_EQ(zoom_out(QRect(-100, -50, 2000, 1000), QSize(946, 592), QSize(946, 592)), QRect(-100, -50, 1600, 800));
    // A tenth that rounds to 0 stops the side: 40 -> 40 (4), 45 -> 45 (4.5 rounds to 4), 60 -> 48.
    EXPECT_EQ(zoom_out(QRect(0, 0, 60, 300), QSize(10, 10), QSize(10, 10)).size(), QSize(48, 240));
}

// Zooming out stops while the picture is still to be seen: the longer side keeps 48 pixels, and a
// picture smaller than that keeps its own size.
TEST(PictureViewRules, ZoomOutStopsAtASmallestSize)
{
    const QSize area(946, 592);
    QRect r(QPoint(0, 0), QSize(6000, 4000));
    for (int step = 0; step < 100; ++step)
        r = zoom_out(r, area, area, QSize(6000, 4000));
    EXPECT_GE(std::max(r.width(), r.height()), kSmallestZoomSide);
    EXPECT_LT(std::max(r.width(), r.height()), kSmallestZoomSide * 10 / 8 + 1);
    EXPECT_NE(zoom_title(r.width(), 6000), QStringLiteral("图片浏览 缩放：0"));
    const QRect tiny(0, 0, 30, 20);
    EXPECT_EQ(zoom_out(tiny, area, area, QSize(30, 20)), tiny);
}

TEST(PictureViewRules, ZoomFormat)
{
    const std::pair<double, const char *> cases[] = {{1.0, "1"},     {0.8, "0.8"},   {0.96, "1"},
                                                     {1.2, "1.2"},   {0.04, "0.04"}, {0.012, "0.012"},
                                                     {0.096, "0.1"}, {2.25, "2.3"},  {10.0, "10"}};
    for (const auto &[zoom, text] : cases)
        EXPECT_EQ(format_zoom(zoom), QString::fromLatin1(text)) << zoom;
    EXPECT_EQ(viewer_title(), QStringLiteral("图片浏览，点击鼠标右键可在图片上添加文字。"));
}

TEST(PictureViewRules, CentringRoundsHalvesToEven)
{
    EXPECT_EQ(centred_position(QSize(946, 592), QSize(800, 600)), QPoint(73, -4));
    EXPECT_EQ(centred_position(QSize(101, 100), QSize(100, 95)), QPoint(0, 2)); // 0.5 -> 0, 2.5 -> 2
    EXPECT_EQ(centred_position(QSize(103, 100), QSize(100, 93)), QPoint(2, 4)); // 1.5 -> 2, 3.5 -> 4
}

TEST(PictureViewRules, DragLimits)
{
    // Wider than the area less 40: moves while it stays strictly between area - width - 20 and 20.
    EXPECT_EQ(drag_position(-100, 30, 900, 1200), -70);
    EXPECT_EQ(drag_position(-100, 120, 900, 1200), std::nullopt); // 20 is not inside
    EXPECT_EQ(drag_position(-100, 119, 900, 1200), 19);
    EXPECT_EQ(drag_position(-300, -20, 900, 1200), std::nullopt); // -320 is the limit
    EXPECT_EQ(drag_position(-300, -19, 900, 1200), -319);
    // At least 40 pixels smaller than the area: never moves.
    for (int delta : {-50, -1, 1, 50})
        EXPECT_EQ(drag_position(100, delta, 900, 860), std::nullopt) << delta;
}

TEST(PictureViewRules, TextLandsAtTheSamePictureplaceAtAnyZoom)
{
    const QSize bitmap(800, 600);
    // Zoom 1: the field 40 by 30 pixels into the picture.
    EXPECT_EQ(text_position_on_bitmap(QPoint(113, 26), QRect(73, -4, 800, 600), bitmap), QPoint(40, 30));
    // Half size: 20 by 15 pixels into the picture is the same place.
    EXPECT_EQ(text_position_on_bitmap(QPoint(293, 161), QRect(273, 146, 400, 300), bitmap), QPoint(40, 30));
    // Rounded: 0.8 zoom, 33 px -> 41.25 -> 41; 25 px -> 31.25 -> 31.
    EXPECT_EQ(text_position_on_bitmap(QPoint(33, 25), QRect(0, 0, 640, 480), bitmap), QPoint(41, 31));
}

TEST(PictureViewRules, SaveNames)
{
    EXPECT_EQ(proposed_save_name(QString()), QStringLiteral("2"));
    EXPECT_EQ(proposed_save_name(QStringLiteral("/home/u/图/海边.jpg")), QStringLiteral("2海边.jpg"));
    EXPECT_EQ(with_default_jpg_extension(QStringLiteral("/t/a")), QStringLiteral("/t/a.jpg"));
    EXPECT_EQ(with_default_jpg_extension(QStringLiteral("/t/a.png")), QStringLiteral("/t/a.png"));

    QSet<QString> existing;
    auto exists = [&](const QString &p) { return existing.contains(p); };
    const QString file = QStringLiteral("/t/海边.jpg");
    EXPECT_EQ(numbered_copy_name(file, exists), file);
    existing << file;
    EXPECT_EQ(numbered_copy_name(file, exists), QStringLiteral("/t/海边(2).jpg"));
    existing << QStringLiteral("/t/海边(2).jpg");
    EXPECT_EQ(numbered_copy_name(file, exists), QStringLiteral("/t/海边(3).jpg"));
    existing << QStringLiteral("/t/照片.jpeg");
    EXPECT_EQ(numbered_copy_name(QStringLiteral("/t/照片.jpeg"), exists), QStringLiteral("/t/照片(2).jpeg"));
}

} // namespace
} // namespace yunshan
