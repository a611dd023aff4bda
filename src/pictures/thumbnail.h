#pragma once
// Thumbnails of attached pictures in the picture panel.
#include <QByteArray>
#include <QImage>
#include <QList>
#include <QSize>

#include "pictures/thumbnail_slots.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace yunshan {

struct Thumbnail {
    QImage image;   // scaled to the panel's width; null when the bytes could not be decoded
    QSize original; // the picture's own size
    QString error;  // the image loader's message when decoding failed
};

// Decodes `bytes` straight to the thumbnail's size (JPEG is scaled while decoding).
Thumbnail decode_thumbnail(const QByteArray &bytes, int panel_width);

// The thumbnails of a note's pictures, decoded beside the rest of the opening: a helper thread
// starts on the first picture at once and goes on through the last while the caller reads the
// note and shows what is in view. take(i) gives one picture's thumbnail at once: the helper's
// when it finished that picture, else decoded on the calling thread, also while the helper is
// still at it (on a busy machine it may not be running at all), so the caller never waits for
// the helper. take_ready() collects what the helper finished since. Without pictures, or when no
// thread can be started, nothing is decoded until taken.
//
// The helper can be held after the first pictures (those in view) until release(), so that it
// does not compete for the processor with the rest of the opening for pictures nobody sees yet.
class ThumbnailBatch {
  public:
    // `ready`, when given, is called on the helper thread each time it finished a picture and
    // once when it stops; it must not call back into the batch. With `held_after` n >= 0 the
    // helper decodes the first n pictures and waits for release() (or stop()) before the others.
    ThumbnailBatch(QList<QByteArray> pictures, int panel_width, std::function<void()> ready = {},
                   qsizetype held_after = -1);
    // Stops the helper and waits for it, which has one picture left at most.
    ~ThumbnailBatch();
    ThumbnailBatch(const ThumbnailBatch &) = delete;
    ThumbnailBatch &operator=(const ThumbnailBatch &) = delete;

    qsizetype size() const { return pictures_.size(); }
    const QByteArray &picture(qsizetype i) const { return pictures_.at(i); }
    int panel_width() const { return panel_width_; }
    // Picture `i`'s thumbnail, once: nothing when it was taken before.
    std::optional<Thumbnail> take(qsizetype i);
    // Every picture's thumbnail not taken before, in the pictures' order: decoded on the calling
    // thread from the last picture back to where the helper has come.
    std::vector<Thumbnail> take();
    // The thumbnails the helper finished and nobody took yet, with their pictures' indexes.
    std::vector<std::pair<qsizetype, Thumbnail>> take_ready();
    // True once the helper stopped (or never ran): what is left is the caller's to decode.
    bool helper_stopped() const { return helper_stopped_.load(std::memory_order_acquire); }
    // The helper begins no further picture.
    void stop();
    // A helper held after its first pictures goes on with the others.
    void release();

  private:
    enum Claim : int { kFree, kHelper, kHelperDone, kCaller };

    void help();

    const QList<QByteArray> pictures_;
    const int panel_width_;
    const std::function<void()> ready_;
    std::unique_ptr<std::atomic<int>[]> claims_; // one Claim per picture
    // Written by the helper only; an element is read by the caller once its claim is kHelperDone.
    std::vector<Thumbnail> helper_thumbnails_;
    std::atomic<bool> stop_{false};
    const qsizetype held_after_;
    std::mutex hold_mutex_;
    std::condition_variable hold_changed_;
    bool released_ = false; // guarded by hold_mutex_
    std::atomic<bool> helper_stopped_{true};
    std::thread helper_; // last: started once everything above exists
};

} // namespace yunshan
