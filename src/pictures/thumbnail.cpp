#include "pictures/thumbnail.h"

#include "app/startup.h"

#include <QBuffer>
#include <QImageReader>

namespace yunshan {

Thumbnail decode_thumbnail(const QByteArray &bytes, int panel_width)
{
    Thumbnail t;
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    t.original = reader.size();
    const int height = thumbnail_height(t.original, panel_width);
    if (height > 0) {
        reader.setScaledSize(QSize(panel_width, height));
        // A thumbnail needs no slow high-quality scaling.
        reader.setQuality(49);
    }
    if (!reader.read(&t.image)) {
        t.image = QImage();
        t.error = reader.errorString();
    } else if (!t.original.isValid()) {
        t.original = t.image.size();
    }
    return t;
}

} // namespace yunshan
