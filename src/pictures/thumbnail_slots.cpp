#include "pictures/thumbnail_slots.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace yunshan {

int thumbnail_height(QSize picture, int panel_width)
{
    if (picture.width() <= 0 || picture.height() <= 0 || panel_width <= 0)
        return 0;
    const double ratio = double(picture.width()) / double(panel_width);
    return static_cast<int>(std::nearbyint(double(picture.height()) / ratio));
}

int ThumbnailSlots::slot_height(QSize picture, int panel_width)
{
    if (picture.width() <= 0 || picture.height() <= 0)
        return kPlaceholderHeight;
    return thumbnail_height(picture, panel_width);
}

int ThumbnailSlots::add(qint64 id, QSize picture, int panel_width)
{
    const auto free = std::find_if(slots_.begin(), slots_.end(), [](const Slot &s) { return !s.used; });
    if (free == slots_.end())
        return -1;
    if (count() == 0 || panel_width_ <= 0)
        panel_width_ = panel_width;
    const int top = content_height();
    *free = Slot{true, id, picture, top, slot_height(picture, panel_width)};
    return static_cast<int>(free - slots_.begin());
}

int ThumbnailSlots::set_pending_id(qint64 id)
{
    const int index = find(-1);
    if (index >= 0)
        slots_[static_cast<size_t>(index)].id = id;
    return index;
}

void ThumbnailSlots::set_picture(int index, QSize picture)
{
    Slot &s = slots_.at(static_cast<size_t>(index));
    if (!s.used || s.picture == picture)
        return;
    s.picture = picture;
    rescale(panel_width_);
}

int ThumbnailSlots::find(qint64 id) const
{
    for (int i = 0; i < kSlots; ++i)
        if (slots_[static_cast<size_t>(i)].used && slots_[static_cast<size_t>(i)].id == id)
            return i;
    return -1;
}

int ThumbnailSlots::remove(qint64 id)
{
    const int index = find(id);
    if (index >= 0)
        slots_[static_cast<size_t>(index)] = Slot{};
    return index;
}

void ThumbnailSlots::clear()
{
    slots_.fill(Slot{});
    panel_width_ = 0;
}

void ThumbnailSlots::rescale(int panel_width)
{
    std::vector<Slot *> order;
    for (Slot &s : slots_)
        if (s.used)
            order.push_back(&s);
    std::stable_sort(order.begin(), order.end(), [](const Slot *a, const Slot *b) { return a->top < b->top; });
    const double scale = panel_width_ > 0 && panel_width > 0 ? double(panel_width) / double(panel_width_) : 1.0;
    int old_bottom = 0; // bottom of the previous thumbnail before and after the change, gap included
    int new_bottom = 0;
    for (Slot *s : order) {
        // Room beyond the usual gap: what a deleted thumbnail left free above this one.
        const int room = std::max(0, s->top - old_bottom);
        old_bottom = s->top + s->height + kGap;
        const int scaled_room = room > kGap ? static_cast<int>(std::nearbyint((room - kGap) * scale)) + kGap : room;
        s->top = new_bottom + scaled_room;
        s->height = slot_height(s->picture, panel_width);
        new_bottom = s->top + s->height + kGap;
    }
    if (panel_width > 0)
        panel_width_ = panel_width;
}

int ThumbnailSlots::count() const
{
    return static_cast<int>(std::count_if(slots_.begin(), slots_.end(), [](const Slot &s) { return s.used; }));
}

int ThumbnailSlots::content_height() const
{
    int bottom = 0;
    for (const Slot &s : slots_)
        if (s.used)
            bottom = std::max(bottom, s.top + s.height + kGap);
    return bottom;
}

} // namespace yunshan
