#pragma once
// Thumbnails of attached pictures in the picture panel.
#include <QByteArray>
#include <QImage>
#include <QList>
#include <QSize>

#include "pictures/thumbnail_slots.h"

#include <atomic>
#include <memory>
#include <thread>
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
// starts on the first picture at once, while the caller goes on reading the note; take() then
// decodes on the calling thread, from the last picture back, whatever the helper has not begun,
// and returns one thumbnail per picture, in the pictures' order. take() never waits for the
// helper: a picture the helper is still decoding (on a busy machine it may not be running at
// all) is decoded again by the caller. Without pictures, or when no thread can be started,
// take() decodes them all.
class ThumbnailBatch {
  public:
    ThumbnailBatch(QList<QByteArray> pictures, int panel_width);
    // Waits for the helper, which has one picture left at most once take() returned.
    ~ThumbnailBatch();
    ThumbnailBatch(const ThumbnailBatch &) = delete;
    ThumbnailBatch &operator=(const ThumbnailBatch &) = delete;

    // Call once.
    std::vector<Thumbnail> take();

  private:
    enum Claim : int { kFree, kHelper, kHelperDone, kCaller };

    void help();

    const QList<QByteArray> pictures_;
    const int panel_width_;
    std::unique_ptr<std::atomic<int>[]> claims_; // one Claim per picture
    // Written by the helper only; an element is read by the caller once its claim is kHelperDone.
    std::vector<Thumbnail> helper_thumbnails_;
    std::thread helper_; // last: started once everything above exists
};

} // namespace yunshan
