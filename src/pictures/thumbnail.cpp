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

ThumbnailBatch::ThumbnailBatch(QList<QByteArray> pictures, int panel_width, std::function<void()> ready,
                               qsizetype held_after)
    : pictures_(std::move(pictures)), panel_width_(panel_width), ready_(std::move(ready)),
      claims_(std::make_unique<std::atomic<int>[]>(static_cast<size_t>(pictures_.size()))),
      helper_thumbnails_(static_cast<size_t>(pictures_.size())), held_after_(held_after)
{
    for (qsizetype i = 0; i < pictures_.size(); ++i)
        claims_[static_cast<size_t>(i)].store(kFree, std::memory_order_relaxed);
    if (pictures_.isEmpty())
        return;
    helper_stopped_.store(false, std::memory_order_relaxed);
    try {
        helper_ = std::thread([this] { help(); });
    } catch (const std::system_error &) {
        // No helper: the caller decodes them all.
        helper_stopped_.store(true, std::memory_order_release);
    }
}

ThumbnailBatch::~ThumbnailBatch()
{
    stop();
    if (helper_.joinable())
        helper_.join();
}

void ThumbnailBatch::stop()
{
    {
        const std::lock_guard lock(hold_mutex_);
        stop_.store(true, std::memory_order_relaxed);
    }
    hold_changed_.notify_all();
}

void ThumbnailBatch::release()
{
    {
        const std::lock_guard lock(hold_mutex_);
        released_ = true;
    }
    hold_changed_.notify_all();
}

void ThumbnailBatch::help()
{
    for (qsizetype i = 0; i < pictures_.size() && !stop_.load(std::memory_order_relaxed); ++i) {
        if (i == held_after_) {
            std::unique_lock lock(hold_mutex_);
            hold_changed_.wait(lock, [this] { return released_ || stop_.load(std::memory_order_relaxed); });
            if (stop_.load(std::memory_order_relaxed))
                break;
        }
        std::atomic<int> &claim = claims_[static_cast<size_t>(i)];
        int expected = kFree;
        if (!claim.compare_exchange_strong(expected, kHelper, std::memory_order_acq_rel))
            continue; // the caller has taken it
        try {
            helper_thumbnails_[static_cast<size_t>(i)] = decode_thumbnail(pictures_.at(i), panel_width_);
        } catch (...) {
            // Given back (unless the caller took it meanwhile): the caller decodes it.
            expected = kHelper;
            claim.compare_exchange_strong(expected, kFree, std::memory_order_acq_rel);
            break;
        }
        // The caller may have taken it meanwhile and decoded it itself: then this one is unused.
        expected = kHelper;
        if (claim.compare_exchange_strong(expected, kHelperDone, std::memory_order_acq_rel) && ready_)
            ready_();
    }
    helper_stopped_.store(true, std::memory_order_release);
    if (ready_)
        ready_();
}

std::optional<Thumbnail> ThumbnailBatch::take(qsizetype i)
{
    std::atomic<int> &claim = claims_[static_cast<size_t>(i)];
    int state = claim.load(std::memory_order_acquire);
    // Free or still with the helper: the caller decodes it; done by the helper: the caller takes it.
    while (state != kCaller && !claim.compare_exchange_weak(state, kCaller, std::memory_order_acq_rel)) {
    }
    if (state == kCaller)
        return std::nullopt;
    if (state == kHelperDone)
        return std::move(helper_thumbnails_[static_cast<size_t>(i)]);
    return decode_thumbnail(pictures_.at(i), panel_width_);
}

std::vector<Thumbnail> ThumbnailBatch::take()
{
    std::vector<Thumbnail> thumbnails(static_cast<size_t>(pictures_.size()));
    for (qsizetype i = pictures_.size() - 1; i >= 0; --i)
        if (std::optional<Thumbnail> t = take(i))
            thumbnails[static_cast<size_t>(i)] = std::move(*t);
    return thumbnails;
}

std::vector<std::pair<qsizetype, Thumbnail>> ThumbnailBatch::take_ready()
{
    std::vector<std::pair<qsizetype, Thumbnail>> ready;
    for (qsizetype i = 0; i < pictures_.size(); ++i) {
        int state = kHelperDone;
        if (claims_[static_cast<size_t>(i)].compare_exchange_strong(state, kCaller, std::memory_order_acq_rel))
            ready.emplace_back(i, std::move(helper_thumbnails_[static_cast<size_t>(i)]));
    }
    return ready;
}

} // namespace yunshan
