#include "pictures/picture_test_util.h"

#include "pictures/picture_codec.h"

#include <QBuffer>
#include <QPainter>

#include <algorithm>

#include <zlib.h>

namespace yunshan::test {

QImage sample_image(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = qRgb(x * 255 / std::max(1, width - 1), y * 255 / std::max(1, height - 1), 128);
    }
    QPainter p(&image);
    p.fillRect(QRect(width / 4, height / 4, width / 8 + 1, height / 8 + 1), Qt::black);
    p.fillRect(QRect(width / 2, height / 2, width / 8 + 1, height / 8 + 1), Qt::white);
    return image;
}

QByteArray png_bytes(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QByteArray jpeg_declaring(int width, int height)
{
    QByteArray jpeg = encode_jpeg(sample_image(16, 16));
    const qsizetype sof = jpeg.indexOf(QByteArray("\xFF\xC0", 2));
    // FF C0, length (2), precision (1), height (2), width (2)
    jpeg[sof + 5] = char(height >> 8);
    jpeg[sof + 6] = char(height & 0xFF);
    jpeg[sof + 7] = char(width >> 8);
    jpeg[sof + 8] = char(width & 0xFF);
    return jpeg;
}

QByteArray png_declaring(int width, int height)
{
    QByteArray png = png_bytes(sample_image(16, 16));
    // Signature (8), IHDR length (4), "IHDR" (4), width (4), height (4), …, CRC after 13 bytes.
    auto put32 = [&](qsizetype at, quint32 v) {
        for (int i = 0; i < 4; ++i)
            png[at + i] = char((v >> (24 - 8 * i)) & 0xFF);
    };
    put32(16, quint32(width));
    put32(20, quint32(height));
    const uLong crc = crc32(0L, reinterpret_cast<const Bytef *>(png.constData() + 12), 17);
    put32(29, quint32(crc));
    return png;
}

} // namespace yunshan::test
