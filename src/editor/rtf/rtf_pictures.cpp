#include "editor/rtf/rtf_pictures.h"

#include "editor/rtf/rtf.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QImageReader>
#include <QPixmap>
#include <QTextDocument>
#include <QUrl>
#include <QVariantMap>

#include <algorithm>
#include <cstdint>

namespace yunshan::rtf_detail {

namespace {

constexpr const char *kImageScheme = "yunshan-image:";
constexpr const char *kDataScheme = "yunshan-image-data:";
// Largest side of a picture shown in a body, in pixels; keeps broken size words harmless.
constexpr int kMaxSide = 8000;

quint32 le32(const uchar *p)
{
    return quint32(p[0]) | (quint32(p[1]) << 8) | (quint32(p[2]) << 16) | (quint32(p[3]) << 24);
}
quint16 le16(const uchar *p)
{
    return quint16(p[0] | (p[1] << 8));
}
void put_le32(QByteArray &out, quint32 v)
{
    out.append(char(v & 0xFF));
    out.append(char((v >> 8) & 0xFF));
    out.append(char((v >> 16) & 0xFF));
    out.append(char((v >> 24) & 0xFF));
}

} // namespace

QImage placeholder_image(int width, int height);

namespace {

int clamp_side(double v)
{
    if (!(v >= 1.0))
        return 1;
    if (v > kMaxSide)
        return kMaxSide;
    return int(v + 0.5);
}

QByteArray encode_png(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG") || bytes.isEmpty()) {
        // Never a picture without data: what cannot be encoded is kept as a placeholder.
        bytes.clear();
        buffer.seek(0);
        placeholder_image(image.width(), image.height()).save(&buffer, "PNG");
    }
    return bytes;
}

bool looks_png(const QByteArray &b)
{
    return b.startsWith("\x89PNG\r\n\x1a\n");
}
bool looks_jpeg(const QByteArray &b)
{
    return b.size() >= 3 && uchar(b[0]) == 0xFF && uchar(b[1]) == 0xD8 && uchar(b[2]) == 0xFF;
}

// Whether PNG or JPEG bytes run to their end marker; cut-off pictures are never written again,
// since other programs refuse a whole body that holds one.
bool looks_complete(const QByteArray &b)
{
    QByteArrayView v(b);
    while (v.endsWith('\0'))
        v.chop(1);
    if (looks_png(b))
        return v.size() >= 12 && v.last(12).startsWith(QByteArrayView("\0\0\0\0IEND", 8));
    if (looks_jpeg(b))
        return v.size() >= 4 && uchar(v.at(v.size() - 2)) == 0xFF && uchar(v.at(v.size() - 1)) == 0xD9;
    return false;
}

// Whether metafile bytes at least have a sound header, so that writing them again cannot make
// other programs refuse the whole body.
bool plausible_metafile(const QString &kind, const QByteArray &b)
{
    const auto *d = reinterpret_cast<const uchar *>(b.constData());
    const qsizetype n = b.size();
    if (kind == QLatin1String("emfblip")) {
        return n >= 88 && le32(d) == 1 && le32(d + 4) >= 88 && le32(d + 40) == 0x464D4520u &&
               le32(d + 48) <= quint32(n) && le32(d + 48) >= 88;
    }
    if (kind == QLatin1String("wmetafile")) {
        qsizetype pos = (n >= 22 && le32(d) == 0x9AC6CDD7u) ? 22 : 0;
        if (n - pos < 18)
            return false;
        const int type = le16(d + pos);
        const int header_words = le16(d + pos + 2);
        const qint64 size = qint64(le32(d + pos + 6)) * 2;
        return (type == 1 || type == 2) && header_words == 9 && size >= 18 && size <= n - pos;
    }
    return false;
}

QString resource_key(const QString &kind, const QByteArray &bytes)
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(kind.toUtf8());
    hash.addData(QByteArrayView("\0", 1));
    hash.addData(bytes);
    return QString::fromLatin1(hash.result().toHex());
}

} // namespace

QImage decode_dib(const QByteArray &dib)
{
    const auto n = dib.size();
    if (n < 12)
        return {};
    const auto *d = reinterpret_cast<const uchar *>(dib.constData());
    const quint32 header = le32(d);
    qint64 palette = 0;
    if (header == 12) {
        const int bits = le16(d + 10);
        if (bits <= 8)
            palette = qint64(1) << bits;
        palette *= 3;
    } else if (header >= 40 && header <= 124 && header <= quint32(n)) {
        const int bits = le16(d + 14);
        const quint32 compression = le32(d + 16);
        const quint32 used = le32(d + 32);
        qint64 colours = used;
        if (colours == 0 && bits <= 8)
            colours = qint64(1) << bits;
        if (colours > 65536)
            return {};
        palette = colours * 4;
        if (header == 40 && compression == 3)
            palette += 12;
        else if (header == 40 && compression == 6)
            palette += 16;
    } else {
        return {};
    }
    const qint64 offset = 14 + qint64(header) + palette;
    if (offset > 14 + n)
        return {};
    QByteArray bmp;
    bmp.reserve(14 + n);
    bmp.append("BM", 2);
    put_le32(bmp, quint32(14 + n));
    put_le32(bmp, 0);
    put_le32(bmp, quint32(offset));
    bmp.append(dib);
    QImage image;
    image.loadFromData(bmp, "BMP");
    return image;
}

QImage decode_wmf_bitmap(const QByteArray &wmf)
{
    const auto n = wmf.size();
    const auto *d = reinterpret_cast<const uchar *>(wmf.constData());
    qsizetype pos = 0;
    if (n >= 22 && le32(d) == 0x9AC6CDD7u)
        pos = 22; // placeable header
    if (n - pos < 18)
        return {};
    const qsizetype header = qsizetype(le16(d + pos + 2)) * 2;
    if (header < 18 || header > n - pos)
        return {};
    pos += header;
    while (n - pos >= 6) {
        const qint64 size = qint64(le32(d + pos)) * 2;
        const int function = le16(d + pos + 4);
        if (size < 6 || function == 0)
            break;
        const qsizetype length = qsizetype(std::min<qint64>(size, n - pos));
        qsizetype bitmap_at = -1;
        switch (function) {
        case 0x0F43:
            bitmap_at = 22;
            break; // StretchDIBits
        case 0x0B41:
            bitmap_at = 20;
            break; // DIBStretchBlt
        case 0x0940:
            bitmap_at = 16;
            break; // DIBBitBlt
        default:
            break;
        }
        const qsizetype params = length - 6;
        if (bitmap_at >= 0 && params > bitmap_at + 12) {
            QImage image = decode_dib(wmf.mid(pos + 6 + bitmap_at, params - bitmap_at));
            if (!image.isNull())
                return image;
        }
        pos += length;
    }
    return {};
}

QImage placeholder_image(int width, int height)
{
    width = std::clamp(width, 8, 2000);
    height = std::clamp(height, 8, 2000);
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(0xF0, 0xF0, 0xF0));
    const QRgb frame = qRgb(0x90, 0x90, 0x90);
    for (int x = 0; x < width; ++x) {
        image.setPixel(x, 0, frame);
        image.setPixel(x, height - 1, frame);
    }
    for (int y = 0; y < height; ++y) {
        image.setPixel(0, y, frame);
        image.setPixel(width - 1, y, frame);
    }
    const int steps = std::max(width, height);
    for (int i = 0; i < steps; ++i) {
        const int x = int(qint64(i) * (width - 1) / std::max(1, steps - 1));
        const int y = int(qint64(i) * (height - 1) / std::max(1, steps - 1));
        image.setPixel(x, y, frame);
        image.setPixel(width - 1 - x, y, frame);
    }
    return image;
}

StoredPicture store_picture(QTextDocument &doc, PictureData picture)
{
    QImage image;
    const QString original_kind = picture.kind;
    if (picture.kind == QLatin1String("png") || picture.kind == QLatin1String("jpeg")) {
        image = QImage::fromData(picture.bytes);
        // A PNG labelled as JPEG (or the other way round) is still that picture.
        if (!image.isNull())
            picture.kind = looks_png(picture.bytes)    ? QStringLiteral("png")
                           : looks_jpeg(picture.bytes) ? QStringLiteral("jpeg")
                                                       : QStringLiteral("png");
        if (!image.isNull() && !looks_complete(picture.bytes)) {
            picture.kind = QStringLiteral("png");
            picture.bytes = encode_png(image);
        }
    } else if (picture.kind == QLatin1String("dibitmap") || picture.kind == QLatin1String("wmetafile")) {
        image =
            picture.kind == QLatin1String("dibitmap") ? decode_dib(picture.bytes) : decode_wmf_bitmap(picture.bytes);
        if (!image.isNull()) {
            picture.kind = QStringLiteral("png");
            picture.bytes = encode_png(image);
        }
    }
    if (!image.isNull() && (image.width() > 30000 || image.height() > 30000))
        image = QImage(); // absurd sizes come from damaged data
    const bool placeholder = image.isNull();

    // Display size: the goal size in twips (15 per pixel at 96 DPI), scaled; otherwise the
    // picture's own size; for metafiles without a goal their HIMETRIC size.
    double width = 0;
    double height = 0;
    if (picture.goal_w > 0 && picture.goal_h > 0) {
        width = picture.goal_w / 15.0 * picture.scale_x / 100.0;
        height = picture.goal_h / 15.0 * picture.scale_y / 100.0;
    } else if (!image.isNull()) {
        width = image.width() * picture.scale_x / 100.0;
        height = image.height() * picture.scale_y / 100.0;
    } else if (picture.picw > 0 && picture.pich > 0) {
        const bool himetric = original_kind == QLatin1String("wmetafile") || original_kind == QLatin1String("emfblip");
        width = himetric ? picture.picw * 96.0 / 2540.0 : picture.picw;
        height = himetric ? picture.pich * 96.0 / 2540.0 : picture.pich;
    } else {
        width = height = 96;
    }
    if (placeholder) {
        image = placeholder_image(clamp_side(width), clamp_side(height));
        // Complete PNG/JPEG data and sound metafiles are kept as they came (another program may
        // show them); anything else is saved as the placeholder.
        const bool keep = (picture.kind == QLatin1String("png") || picture.kind == QLatin1String("jpeg"))
                              ? looks_complete(picture.bytes)
                              : plausible_metafile(picture.kind, picture.bytes);
        if (!keep) {
            picture.kind = QStringLiteral("png");
            picture.bytes = encode_png(image);
            picture.picw = image.width();
            picture.pich = image.height();
        }
    }

    const QString key = resource_key(picture.kind, picture.bytes);
    const QString name = QLatin1String(kImageScheme) + key;
    QVariantMap data;
    data.insert(QStringLiteral("kind"), picture.kind);
    data.insert(QStringLiteral("bytes"), picture.bytes);
    data.insert(QStringLiteral("picw"), picture.picw);
    data.insert(QStringLiteral("pich"), picture.pich);
    data.insert(QStringLiteral("mode"), picture.mode);
    doc.addResource(QTextDocument::ImageResource, QUrl(name), image);
    doc.addResource(QTextDocument::UserResource, QUrl(QLatin1String(kDataScheme) + key), data);

    StoredPicture stored;
    stored.format.setName(name);
    stored.format.setWidth(clamp_side(width));
    stored.format.setHeight(clamp_side(height));
    stored.placeholder = placeholder;
    return stored;
}

bool picture_for_writing(const QTextDocument &doc, const QTextImageFormat &format, PictureData *out)
{
    const QString name = format.name();
    QImage image;
    if (name.startsWith(QLatin1String(kImageScheme))) {
        const QString key = name.mid(int(qstrlen(kImageScheme)));
        const QVariant v = doc.resource(QTextDocument::UserResource, QUrl(QLatin1String(kDataScheme) + key));
        const QVariantMap data = v.toMap();
        if (!data.isEmpty() && !data.value(QStringLiteral("bytes")).toByteArray().isEmpty()) {
            out->kind = data.value(QStringLiteral("kind")).toString();
            out->bytes = data.value(QStringLiteral("bytes")).toByteArray();
            out->picw = data.value(QStringLiteral("picw")).toInt();
            out->pich = data.value(QStringLiteral("pich")).toInt();
            out->mode = data.value(QStringLiteral("mode"), 8).toInt();
            if (out->kind == QLatin1String("png") || out->kind == QLatin1String("jpeg")) {
                QBuffer buffer(&out->bytes);
                buffer.open(QIODevice::ReadOnly);
                const QSize size = QImageReader(&buffer).size();
                out->picw = size.width();
                out->pich = size.height();
            }
            return true;
        }
    }
    const QVariant resource = doc.resource(QTextDocument::ImageResource, QUrl(name));
    if (resource.userType() == QMetaType::QImage) {
        image = qvariant_cast<QImage>(resource);
    } else if (resource.userType() == QMetaType::QPixmap) {
        image = qvariant_cast<QPixmap>(resource).toImage();
    } else if (resource.userType() == QMetaType::QByteArray) {
        const QByteArray bytes = resource.toByteArray();
        image = QImage::fromData(bytes);
        if (!image.isNull() && (looks_png(bytes) || looks_jpeg(bytes))) {
            out->kind = looks_png(bytes) ? QStringLiteral("png") : QStringLiteral("jpeg");
            out->bytes = bytes;
            out->picw = image.width();
            out->pich = image.height();
            return true;
        }
    }
    if (image.isNull()) {
        // Not found: keep the picture's place with a placeholder of its size.
        image = placeholder_image(format.width() > 0 ? clamp_side(format.width()) : 32,
                                  format.height() > 0 ? clamp_side(format.height()) : 32);
    }
    out->kind = QStringLiteral("png");
    out->bytes = encode_png(image);
    out->picw = image.width();
    out->pich = image.height();
    return true;
}

} // namespace yunshan::rtf_detail

namespace yunshan {

QTextImageFormat add_picture(QTextDocument &doc, const QByteArray &png_or_jpeg)
{
    rtf_detail::PictureData picture;
    picture.kind = rtf_detail::looks_png(png_or_jpeg) ? QStringLiteral("png") : QStringLiteral("jpeg");
    picture.bytes = png_or_jpeg;
    return rtf_detail::store_picture(doc, std::move(picture)).format;
}

} // namespace yunshan
