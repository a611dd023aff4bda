#pragma once
// Picture bytes <-> images. JPEG goes through libjpeg-turbo (quality 85 for pasted pictures and
// for pictures saved from the viewer); other formats through Qt's image readers.
//
// Decoding checks the size a file declares before any pixel memory is taken, so a small hostile
// file that claims a huge picture is refused, and refuses JPEG data that ends early.
#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

#include <stdexcept>

namespace yunshan {

// Largest picture decoded: each side at most kMaxPictureSide pixels and at most kMaxPicturePixels
// pixels in all (about 400 MB as 32-bit pixels).
constexpr int kMaxPictureSide = 32767;
constexpr qint64 kMaxPicturePixels = 100'000'000;

// Quality of every JPEG this program writes.
constexpr int kJpegQuality = 85;

// A failure of picture decoding or encoding; message() is the text for the user.
class PictureError : public std::runtime_error {
  public:
    explicit PictureError(const QString &message) : std::runtime_error(message.toStdString()) {}
    QString message() const { return QString::fromStdString(what()); }
};

struct DecodedPicture {
    QImage image;  // null on failure; with `min_width` possibly smaller than `size`
    QSize size;    // the picture's own pixel size (valid once the header was read)
    QString error; // empty on success: why the picture cannot be shown

    bool ok() const { return error.isEmpty(); }
};

// Decodes stored picture bytes (JPEG, PNG, BMP, GIF, … whatever Qt reads). Never throws.
// `min_width` > 0 allows a JPEG to be decoded at 1/2, 1/4 or 1/8 of its size as long as the
// image stays at least that wide (thumbnails); `size` is always the full size.
DecodedPicture decode_picture(const QByteArray &bytes, int min_width = 0);

// The picture's declared pixel size, read from its header only; invalid when unreadable.
QSize picture_size(const QByteArray &bytes);

// JPEG file bytes (baseline, 4:2:0, JFIF) of `image` at `quality`. Transparent parts are laid
// on white. Throws PictureError for a null image.
QByteArray encode_jpeg(const QImage &image, int quality = kJpegQuality);

// True when the bytes begin like a JPEG file (FF D8 FF).
bool looks_like_jpeg(const QByteArray &bytes);

} // namespace yunshan
