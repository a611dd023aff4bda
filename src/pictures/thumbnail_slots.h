#pragma once
// The picture panel's layout: 100 thumbnail slots, each empty or holding one picture's
// thumbnail, stretched to the panel's width and stacked top to bottom 4 pixels apart.
#include <QSize>

#include <array>

namespace yunshan {

// Height of a thumbnail of a picture of `picture` size shown `panel_width` wide:
// Round(picture height / (picture width / panel width)), halves to even; 0 for an empty picture.
int thumbnail_height(QSize picture, int panel_width);

class ThumbnailSlots {
  public:
    static constexpr int kSlots = 100;
    static constexpr int kGap = 4;
    // Height of the stand-in shown for stored bytes that cannot be decoded (no picture size).
    static constexpr int kPlaceholderHeight = 40;

    struct Slot {
        bool used = false;
        qint64 id = -1; // the picture's id, -1 while not yet known
        QSize picture;  // the picture's own pixel size
        int top = 0;
        int height = 0;
    };

    // Puts a thumbnail into the first empty slot and returns the slot's index (0-based), or -1
    // when all slots are taken (no thumbnail then). It lies 4 pixels below the lowest thumbnail
    // (at 0 when there is none), also when it fills a slot freed by a deletion. An invalid
    // `picture` size gives the stand-in's height.
    int add(qint64 id, QSize picture, int panel_width);
    // Gives the thumbnail still waiting for its id (id -1) the id `id`; returns its slot or -1.
    int set_pending_id(qint64 id);
    // The picture in slot `index` turned out to be of `picture` size (invalid: the stand-in): its
    // height follows, and the thumbnails below it move with it, keeping their gaps.
    void set_picture(int index, QSize picture);
    // First slot carrying `id`, -1 when none.
    int find(qint64 id) const;
    // Empties the first slot carrying `id` and returns its index (-1 when none). The others keep
    // their places.
    int remove(qint64 id);
    void clear();
    // The panel's width changed: every height follows the new width. The thumbnails keep their
    // order on the panel (top to bottom) and the free space between them (the 4-pixel gap, and
    // the room a deleted thumbnail left, scaled with the width), so none overlaps another.
    void rescale(int panel_width);
    // Height of a slot's thumbnail at `panel_width` (the stand-in's height without a picture).
    static int slot_height(QSize picture, int panel_width);

    const Slot &slot(int index) const { return slots_.at(static_cast<size_t>(index)); }
    int count() const;
    // Bottom of the lowest thumbnail plus the gap: the height the panel's content needs.
    int content_height() const;

  private:
    std::array<Slot, kSlots> slots_{};
    int panel_width_ = 0; // the width the tops and heights were laid out for
};

} // namespace yunshan
