#include "pictures/picture_codec.h"

#include <QBuffer>
#include <QImageReader>
#include <QPainter>

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jerror.h>
#include <jpeglib.h>

namespace yunshan {

namespace {

// Qt's readers may allocate this much for one picture (the pixel limit above, 4 bytes each,
// plus room for a reader's own buffers).
constexpr int kAllocationLimitMb = 512;

QString cannot_read(const QString &why)
{
    return QStringLiteral("无法读取图片：") + why;
}

QString too_large(QSize size)
{
    return cannot_read(QStringLiteral("图片尺寸过大（%1×%2 像素）。").arg(size.width()).arg(size.height()));
}

bool size_acceptable(QSize size)
{
    return size.width() > 0 && size.height() > 0 && size.width() <= kMaxPictureSide &&
           size.height() <= kMaxPictureSide && qint64(size.width()) * qint64(size.height()) <= kMaxPicturePixels;
}

// libjpeg reports errors through error_exit, which must not return: jump back to the caller.
// Only plain data lives in the frames between setjmp and longjmp.
struct JpegErrors {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    bool premature_end;
};

void on_jpeg_error(j_common_ptr info)
{
    auto *err = reinterpret_cast<JpegErrors *>(info->err);
    (*info->err->format_message)(info, err->message);
    std::longjmp(err->jump, 1);
}

void on_jpeg_message(j_common_ptr info, int level)
{
    auto *err = reinterpret_cast<JpegErrors *>(info->err);
    // Warnings of damaged but readable data (extraneous bytes, …) are let through; data that ends
    // before the picture does is refused, since its lower part would be made up.
    if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF)
        err->premature_end = true;
}

// A progressive JPEG may consist of any number of scans; a small hostile file with many thousands
// keeps the decoder busy for minutes. Real pictures have a dozen or so.
constexpr int kMaxJpegScans = 500;

void on_jpeg_progress(j_common_ptr info)
{
    auto *decompress = reinterpret_cast<j_decompress_ptr>(info);
    if (decompress->input_scan_number > kMaxJpegScans) {
        auto *err = reinterpret_cast<JpegErrors *>(info->err);
        std::snprintf(err->message, sizeof err->message, "more than %d scans", kMaxJpegScans);
        std::longjmp(err->jump, 1);
    }
}

void init_errors(JpegErrors &err)
{
    jpeg_std_error(&err.mgr);
    err.mgr.error_exit = on_jpeg_error;
    err.mgr.emit_message = on_jpeg_message;
    err.message[0] = '\0';
    err.premature_end = false;
}

enum class JpegStatus { Ok, Error, TooLarge, Truncated };

// Reads the header and, unless `header_only`, the pixels into `*out` (RGB32). `*size` gets the
// declared size. No objects with destructors are created in this frame after setjmp.
JpegStatus decode_jpeg_raw(const QByteArray &bytes, bool header_only, int min_width, QImage *out, QSize *size,
                           JpegErrors *err)
{
    jpeg_decompress_struct info;
    std::memset(&info, 0, sizeof info);
    init_errors(*err);
    info.err = &err->mgr;
    if (setjmp(err->jump)) {
        jpeg_destroy_decompress(&info);
        return JpegStatus::Error;
    }
    jpeg_create_decompress(&info);
    jpeg_progress_mgr progress;
    std::memset(&progress, 0, sizeof progress);
    progress.progress_monitor = on_jpeg_progress;
    info.progress = &progress;
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char *>(bytes.constData()),
                 static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    *size = QSize(static_cast<int>(info.image_width), static_cast<int>(info.image_height));
    if (!size_acceptable(*size)) {
        jpeg_destroy_decompress(&info);
        return JpegStatus::TooLarge;
    }
    if (header_only) {
        jpeg_destroy_decompress(&info);
        return JpegStatus::Ok;
    }
    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRX;
    info.scale_num = 1;
    info.scale_denom = 1;
    if (min_width > 0) {
        for (unsigned denom : {8u, 4u, 2u}) {
            if ((info.image_width + denom - 1) / denom >= static_cast<unsigned>(min_width)) {
                info.scale_denom = denom;
                break;
            }
        }
    }
    jpeg_start_decompress(&info);
    *out = QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height), QImage::Format_RGB32);
    if (out->isNull()) {
        std::snprintf(err->message, sizeof err->message, "out of memory");
        jpeg_destroy_decompress(&info);
        return JpegStatus::Error;
    }
    const bool inverted = info.saw_Adobe_marker;
    while (info.output_scanline < info.output_height) {
        uchar *line = out->scanLine(static_cast<int>(info.output_scanline));
        JSAMPROW row = line;
        jpeg_read_scanlines(&info, &row, 1);
        if (cmyk) {
            // Four bytes per pixel either way; turn C, M, Y, K into B, G, R, 255 in place.
            auto *px = reinterpret_cast<QRgb *>(line);
            for (JDIMENSION x = 0; x < info.output_width; ++x) {
                int c = line[4 * x], m = line[4 * x + 1], y = line[4 * x + 2], k = line[4 * x + 3];
                if (!inverted) {
                    c = 255 - c;
                    m = 255 - m;
                    y = 255 - y;
                    k = 255 - k;
                }
                px[x] = qRgb(c * k / 255, m * k / 255, y * k / 255);
            }
        }
        if (err->premature_end)
            break;
    }
    if (err->premature_end) {
        jpeg_destroy_decompress(&info);
        return JpegStatus::Truncated;
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return err->premature_end ? JpegStatus::Truncated : JpegStatus::Ok;
}

DecodedPicture decode_with_qt(const QByteArray &bytes)
{
    DecodedPicture result;
    QByteArray data = bytes; // QBuffer needs a non-const array; shares the bytes
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAllocationLimit(kAllocationLimitMb);
    if (!reader.canRead()) {
        result.error = cannot_read(QStringLiteral("无法识别的图片格式。"));
        return result;
    }
    result.size = reader.size();
    if (result.size.isValid() && !size_acceptable(result.size)) {
        result.error = too_large(result.size);
        return result;
    }
    QImage image;
    if (!reader.read(&image) || image.isNull()) {
        result.error = cannot_read(QStringLiteral("图片数据已损坏（%1）。").arg(reader.errorString()));
        return result;
    }
    if (!size_acceptable(image.size())) {
        result.error = too_large(image.size());
        return result;
    }
    result.size = image.size();
    result.image = std::move(image);
    return result;
}

} // namespace

bool looks_like_jpeg(const QByteArray &bytes)
{
    return bytes.size() >= 3 && uchar(bytes[0]) == 0xFF && uchar(bytes[1]) == 0xD8 && uchar(bytes[2]) == 0xFF;
}

DecodedPicture decode_picture(const QByteArray &bytes, int min_width)
{
    DecodedPicture result;
    if (bytes.isEmpty()) {
        result.error = cannot_read(QStringLiteral("图片数据为空。"));
        return result;
    }
    if (!looks_like_jpeg(bytes))
        return decode_with_qt(bytes);
    JpegErrors err;
    switch (decode_jpeg_raw(bytes, false, min_width, &result.image, &result.size, &err)) {
    case JpegStatus::Ok:
        break;
    case JpegStatus::TooLarge:
        result.image = QImage();
        result.error = too_large(result.size);
        break;
    case JpegStatus::Truncated:
        result.image = QImage();
        result.error = cannot_read(QStringLiteral("图片数据不完整，文件可能已被截断。"));
        break;
    case JpegStatus::Error:
        result.image = QImage();
        result.error = cannot_read(QStringLiteral("图片数据已损坏（%1）。").arg(QString::fromLocal8Bit(err.message)));
        break;
    }
    return result;
}

QSize picture_size(const QByteArray &bytes)
{
    if (looks_like_jpeg(bytes)) {
        JpegErrors err;
        QImage unused;
        QSize size;
        const JpegStatus status = decode_jpeg_raw(bytes, true, 0, &unused, &size, &err);
        return status == JpegStatus::Error ? QSize() : size;
    }
    QByteArray data = bytes;
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    return QImageReader(&buffer).size();
}

namespace {

struct JpegOutput {
    unsigned char *data;
    unsigned long size;
};

bool encode_jpeg_raw(const QImage &rgb, int quality, JpegOutput *out, JpegErrors *err)
{
    jpeg_compress_struct info;
    std::memset(&info, 0, sizeof info);
    init_errors(*err);
    info.err = &err->mgr;
    if (setjmp(err->jump)) {
        jpeg_destroy_compress(&info);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &out->data, &out->size);
    info.image_width = static_cast<JDIMENSION>(rgb.width());
    info.image_height = static_cast<JDIMENSION>(rgb.height());
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<uchar *>(rgb.constScanLine(static_cast<int>(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

} // namespace

QByteArray encode_jpeg(const QImage &image, int quality)
{
    if (image.isNull())
        throw PictureError(QStringLiteral("没有可保存的图片。"));
    QImage rgb;
    if (image.hasAlphaChannel()) {
        QImage flat(image.size(), QImage::Format_RGB888);
        flat.fill(Qt::white);
        QPainter p(&flat);
        p.drawImage(0, 0, image);
        p.end();
        rgb = std::move(flat);
    } else {
        rgb = image.convertToFormat(QImage::Format_RGB888);
    }
    if (rgb.isNull())
        throw PictureError(QStringLiteral("图片太大，内存不足。"));
    JpegOutput out{nullptr, 0};
    JpegErrors err;
    const bool ok = encode_jpeg_raw(rgb, quality, &out, &err);
    QByteArray bytes;
    if (ok)
        bytes = QByteArray(reinterpret_cast<const char *>(out.data), static_cast<qsizetype>(out.size));
    std::free(out.data);
    if (!ok)
        throw PictureError(QStringLiteral("JPEG 编码失败：") + QString::fromLocal8Bit(err.message));
    return bytes;
}

} // namespace yunshan
