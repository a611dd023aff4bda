#pragma once
// Counting what a list drew in the search mark's red.
#include <QImage>
#include <QWidget>

namespace yunshan::test {

// Pixels inside `area` of `viewport`, as it draws now, in the search mark's red.
inline int red_pixels(QWidget *viewport, const QRect &area)
{
    const QImage image = viewport->grab().toImage();
    const QRect r = area.intersected(image.rect());
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            n += c.red() > 200 && c.green() < 60 && c.blue() < 60;
        }
    return n;
}

} // namespace yunshan::test
