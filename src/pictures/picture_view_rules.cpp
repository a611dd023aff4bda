#include "pictures/picture_view_rules.h"

#include "platform/rounding.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace yunshan {

QPoint centred_position(QSize window, QSize control)
{
    return {round_half_even((window.width() - control.width()) / 2.0),
            round_half_even((window.height() - control.height()) / 2.0)};
}

QRect zoom_in(const QRect &control)
{
    const int a = round_half_even(control.width() / 10.0);
    const int b = round_half_even(control.height() / 10.0);
    int left = control.left();
    int top = control.top();
    if (left - a >= 0)
        left -= a;
    if (top - b >= 0)
        top -= b;
    return {left, top, control.width() + 2 * a, control.height() + 2 * b};
}

QRect zoom_out(const QRect &control, QSize client, QSize window, QSize picture)
{
    const int a = round_half_even(control.width() / 10.0);
    const int b = round_half_even(control.height() / 10.0);
    const QPoint centre = centred_position(window, control.size());
    const int left = client.width() >= control.width() ? centre.x() : control.left();
    const int top = client.height() >= control.height() ? centre.y() : control.top();
    const QRect out{left, top, control.width() - 2 * a, control.height() - 2 * b};
    const int floor = picture.isValid() ? std::min(kSmallestZoomSide, std::max(picture.width(), picture.height()))
                                        : kSmallestZoomSide;
    if (std::max(out.width(), out.height()) < floor)
        return control;
    return out;
}

QString format_zoom(double zoom)
{
    if (zoom > 0 && zoom < 0.095)
        return QString::number(zoom, 'g', 2);
    // One decimal, halves away from zero, then a trailing ".0" dropped.
    const double tenths = std::round(zoom * 10.0);
    QString text = QString::number(tenths / 10.0, 'f', 1);
    if (text.endsWith(QStringLiteral(".0")))
        text.chop(2);
    if (text == QStringLiteral("-0"))
        text = QStringLiteral("0");
    return text;
}

QString zoom_title(int control_width, int picture_width)
{
    const double zoom = picture_width > 0 ? double(control_width) / double(picture_width) : 0.0;
    return QStringLiteral("图片浏览 缩放：") + format_zoom(zoom);
}

QString viewer_title()
{
    return QStringLiteral("图片浏览，点击鼠标右键可在图片上添加文字。");
}

std::optional<int> drag_position(int position, int delta, int area, int size)
{
    const int candidate = position + delta;
    if (candidate > area - size - 20 && candidate < 20)
        return candidate;
    return std::nullopt;
}

QPoint text_position_on_bitmap(QPoint field, const QRect &control, QSize bitmap)
{
    if (control.width() <= 0 || control.height() <= 0)
        return {};
    const double sx = double(bitmap.width()) / double(control.width());
    const double sy = double(bitmap.height()) / double(control.height());
    return {round_half_even((field.x() - control.left()) * sx), round_half_even((field.y() - control.top()) * sy)};
}

QString proposed_save_name(const QString &last_file)
{
    return QStringLiteral("2") + (last_file.isEmpty() ? QString() : QFileInfo(last_file).fileName());
}

QString with_default_jpg_extension(const QString &path)
{
    if (path.isEmpty() || !QFileInfo(path).suffix().isEmpty())
        return path;
    return path + QStringLiteral(".jpg");
}

QString numbered_copy_name(const QString &last_file, const std::function<bool(const QString &)> &exists)
{
    const QFileInfo info(last_file);
    const QString extension = info.suffix().isEmpty() ? QString() : QStringLiteral(".") + info.suffix();
    const QString base = last_file.left(last_file.size() - extension.size());
    QString name = last_file;
    for (int n = 2; exists(name); ++n)
        name = base + QStringLiteral("(") + QString::number(n) + QStringLiteral(")") + extension;
    return name;
}

} // namespace yunshan
