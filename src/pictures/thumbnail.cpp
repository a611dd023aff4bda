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
    : pictures_(std::move(pictures)), panel_width_(panel_width),
      claims_(std::make_unique<std::atomic<int>[]>(static_cast<size_t>(pictures_.size()))),
      helper_thumbnails_(static_cast<size_t>(pictures_.size()))
{
    for (qsizetype i = 0; i < pictures_.size(); ++i)
        claims_[static_cast<size_t>(i)].store(kFree, std::memory_order_relaxed);
    if (pictures_.isEmpty())
        return;
    try {
        helper_ = std::thread([this] { help(); });
    } catch (const std::system_error &) {
        // No helper: take() decodes them all.
    }
}

ThumbnailBatch::~ThumbnailBatch()
{
    if (helper_.joinable())
        helper_.join();
}

void ThumbnailBatch::help()
{
    for (qsizetype i = 0; i < pictures_.size(); ++i) {
        std::atomic<int> &claim = claims_[static_cast<size_t>(i)];
        int expected = kFree;
        if (!claim.compare_exchange_strong(expected, kHelper, std::memory_order_acq_rel))
            return; // the caller has come this far from the other end
        try {
            helper_thumbnails_[static_cast<size_t>(i)] = decode_thumbnail(pictures_.at(i), panel_width_);
        } catch (...) {
            return; // left claimed but not done: the caller decodes it
        }
        claim.store(kHelperDone, std::memory_order_release);
    }
}

std::vector<Thumbnail> ThumbnailBatch::take()
{
    std::vector<Thumbnail> thumbnails(static_cast<size_t>(pictures_.size()));
    for (qsizetype i = pictures_.size() - 1; i >= 0; --i) {
        std::atomic<int> &claim = claims_[static_cast<size_t>(i)];
        int state = kFree;
        if (!claim.compare_exchange_strong(state, kCaller, std::memory_order_acq_rel) && state == kHelper)
            state = claim.load(std::memory_order_acquire);
        if (state == kHelperDone)
            thumbnails[static_cast<size_t>(i)] = std::move(helper_thumbnails_[static_cast<size_t>(i)]);
        else
            thumbnails[static_cast<size_t>(i)] = decode_thumbnail(pictures_.at(i), panel_width_);
    }
    return thumbnails;
}

} // namespace yunshan
