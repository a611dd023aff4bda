#include "pictures/thumbnail.h"

#include "pictures/picture_codec.h"

namespace yunshan {

Thumbnail decode_thumbnail(const QByteArray &bytes, int panel_width)
{
    Thumbnail t;
    // The checked decoder refuses damaged data and pictures that declare an absurd size before
    // any pixel memory is taken; a JPEG is decoded at a reduced scale when that still fills the
    // panel's width.
    DecodedPicture decoded = decode_picture(bytes, panel_width);
    t.original = decoded.size;
    if (!decoded.ok()) {
        t.error = decoded.error;
        return t;
    }
    const int height = thumbnail_height(decoded.size, panel_width);
    if (height > 0 && decoded.image.width() > panel_width)
        t.image = decoded.image.scaled(panel_width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    else
        t.image = std::move(decoded.image);
    return t;
}

} // namespace yunshan
