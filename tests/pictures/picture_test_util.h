#pragma once
// Pictures made for the picture tests.
#include <QByteArray>
#include <QImage>

namespace yunshan::test {

// A picture with a colour gradient and a few sharp marks, so that codecs have work to do.
QImage sample_image(int width, int height);
// The picture as PNG file bytes.
QByteArray png_bytes(const QImage &image);
// A JPEG file whose frame header declares `width` x `height` pixels (the scan data is that of
// a small picture).
QByteArray jpeg_declaring(int width, int height);
// A PNG file whose header (with a correct checksum) declares `width` x `height` pixels.
QByteArray png_declaring(int width, int height);

} // namespace yunshan::test
