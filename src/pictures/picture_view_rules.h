#pragma once
// Rules of the picture viewer, free of widgets: zoom steps, the zoom caption, drag limits, where
// written text lands on the picture, and the names files are saved under.
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <functional>
#include <optional>

namespace yunshan {

// Position that centres a control of `control` size in a window of `window` (outer) size:
// Round((window - control) / 2) on each axis.
QPoint centred_position(QSize window, QSize control);

// One wheel step away from the user: a tenth of each side is added on both sides; the control
// moves left (up) by that tenth only while it stays at or right of (below) 0.
QRect zoom_in(const QRect &control);

// One wheel step toward the user: the control is first centred in `window` on each axis where
// the client area (`client`) is at least as large as the control, then loses a tenth of each side
// on both sides. A side whose tenth rounds to 0 stops shrinking, and no step makes the longer side
// shorter than kSmallestZoomSide (a smaller picture keeps its own size): the control is then
// returned as it was.
inline constexpr int kSmallestZoomSide = 48;
QRect zoom_out(const QRect &control, QSize client, QSize window, QSize picture = {});

// Window title after a zoom step: "图片浏览 缩放：" and control width / picture width written
// with at most one decimal and no trailing zero (1.2, 0.8, 1); below 0.1 with two significant
// digits (0.05, 0.012), so a shown picture never reads as zoomed to 0.
QString zoom_title(int control_width, int picture_width);
QString format_zoom(double zoom);

// The window title when a picture is shown.
QString viewer_title();

// Dragging along one axis: the control's new position when it moved by `delta`, if that lies
// strictly between (area - size - 20) and 20; nullopt when the control stays.
std::optional<int> drag_position(int position, int delta, int area, int size);

// Where text written in the field at `field` (area coordinates) lands on the bitmap of
// `bitmap` size shown in `control`: the offset from the control's corner scaled by
// bitmap / control on each axis and rounded.
QPoint text_position_on_bitmap(QPoint field, const QRect &control, QSize bitmap);

// The name "另存" proposes: "2" followed by the file-name part of the last file chosen.
QString proposed_save_name(const QString &last_file);

// A chosen name without an extension gets ".jpg".
QString with_default_jpg_extension(const QString &path);

// The numbered copy written by the closing question's Yes: `last_file` itself when no such file
// exists, else the first of "name(2).ext", "name(3).ext", … that does not exist.
QString numbered_copy_name(const QString &last_file, const std::function<bool(const QString &)> &exists);

} // namespace yunshan
