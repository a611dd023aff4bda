#pragma once
// Thumbnails of attached pictures in the picture panel.
#include <QByteArray>
#include <QImage>
#include <QSize>

#include "pictures/thumbnail_slots.h"

namespace yunshan {

struct Thumbnail {
    QImage image;   // scaled to the panel's width; null when the bytes could not be decoded
    QSize original; // the picture's own size
    QString error;  // the image loader's message when decoding failed
};

// Decodes `bytes` straight to the thumbnail's size (JPEG is scaled while decoding).
Thumbnail decode_thumbnail(const QByteArray &bytes, int panel_width);

} // namespace yunshan
