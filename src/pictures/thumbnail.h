#pragma once
// Thumbnails of attached pictures in the picture panel.
#include <QByteArray>
#include <QImage>
#include <QList>
#include <QSize>

#include "pictures/thumbnail_slots.h"

#include <atomic>
#include <exception>
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
// decodes on the calling thread whatever the helper has not begun, waits for the helper and
// returns one thumbnail per picture, in the pictures' order. Without pictures, or when no thread
// can be started, everything is decoded by take().
class ThumbnailBatch {
  public:
    ThumbnailBatch(QList<QByteArray> pictures, int panel_width);
    ~ThumbnailBatch();
    ThumbnailBatch(const ThumbnailBatch &) = delete;
    ThumbnailBatch &operator=(const ThumbnailBatch &) = delete;

    // Call once.
    std::vector<Thumbnail> take();

  private:
    // Decodes pictures not yet claimed by either thread, until none is left.
    void decode_unclaimed();

    const QList<QByteArray> pictures_;
    const int panel_width_;
    std::vector<Thumbnail> thumbnails_; // each element written by the thread that claimed it
    std::atomic<qsizetype> next_{0};
    std::exception_ptr helper_failure_; // written by the helper, read after it is joined
    std::thread helper_;                // last: started once everything above exists
};

} // namespace yunshan
