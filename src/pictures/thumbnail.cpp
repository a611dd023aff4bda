#include "pictures/thumbnail.h"

#include "pictures/picture_codec.h"

#include <system_error>
#include <utility>

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

ThumbnailBatch::ThumbnailBatch(QList<QByteArray> pictures, int panel_width)
    : pictures_(std::move(pictures)), panel_width_(panel_width), thumbnails_(static_cast<size_t>(pictures_.size()))
{
    if (pictures_.isEmpty())
        return;
    try {
        helper_ = std::thread([this] {
            try {
                decode_unclaimed();
            } catch (...) {
                helper_failure_ = std::current_exception();
            }
        });
    } catch (const std::system_error &) {
        // No helper: take() decodes them all.
    }
}

ThumbnailBatch::~ThumbnailBatch()
{
    if (helper_.joinable())
        helper_.join();
}

void ThumbnailBatch::decode_unclaimed()
{
    for (;;) {
        const qsizetype i = next_.fetch_add(1, std::memory_order_relaxed);
        if (i >= pictures_.size())
            return;
        thumbnails_[static_cast<size_t>(i)] = decode_thumbnail(pictures_.at(i), panel_width_);
    }
}

std::vector<Thumbnail> ThumbnailBatch::take()
{
    decode_unclaimed();
    if (helper_.joinable())
        helper_.join();
    if (helper_failure_)
        std::rethrow_exception(std::exchange(helper_failure_, nullptr));
    return std::move(thumbnails_);
}

} // namespace yunshan
