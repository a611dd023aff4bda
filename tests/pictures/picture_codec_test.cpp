#include "pictures/picture_codec.h"
#include "pictures/picture_test_util.h"
#include "pictures/thumbnail.h"

#include <gtest/gtest.h>

#include <atomic>

#include <QBuffer>
#include <QColor>
#include <QImageWriter>
#include <QThread>

namespace yunshan {
namespace {

using test::jpeg_declaring;
using test::png_bytes;
using test::png_declaring;
using test::sample_image;

int channel_distance(QRgb a, QRgb b)
{
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

// The first value of the first quantisation table: the standard luminance table's 16 scaled for
// the quality (quality 85 scales by 30 %: 5).
int first_quantiser(const QByteArray &jpeg)
{
    const qsizetype dqt = jpeg.indexOf(QByteArray("\xFF\xDB", 2));
    return dqt < 0 ? -1 : uchar(jpeg[dqt + 5]);
}

TEST(PictureCodec, EncodesJpegAtQuality85AndDecodesItBack)
{
    const QImage image = sample_image(120, 90);
    const QByteArray jpeg = encode_jpeg(image);
    ASSERT_TRUE(looks_like_jpeg(jpeg));
    EXPECT_EQ(first_quantiser(jpeg), 5);
    EXPECT_EQ(first_quantiser(encode_jpeg(image, 50)), 16);

    const DecodedPicture decoded = decode_picture(jpeg);
    ASSERT_TRUE(decoded.ok()) << decoded.error.toStdString();
    EXPECT_EQ(decoded.size, QSize(120, 90));
    EXPECT_EQ(decoded.image.size(), QSize(120, 90));
    for (QPoint p : {QPoint(5, 5), QPoint(110, 80), QPoint(34, 27), QPoint(65, 50)})
        EXPECT_LE(channel_distance(decoded.image.pixel(p), image.pixel(p)), 12) << p.x() << "," << p.y();
    EXPECT_EQ(picture_size(jpeg), QSize(120, 90));
}

TEST(PictureCodec, TransparentPartsBecomeWhite)
{
    QImage image(40, 20, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x)
            image.setPixel(x, y, qRgb(0, 0, 200));
    const DecodedPicture decoded = decode_picture(encode_jpeg(image));
    ASSERT_TRUE(decoded.ok());
    EXPECT_LE(channel_distance(decoded.image.pixel(35, 10), qRgb(255, 255, 255)), 4);
    EXPECT_LE(channel_distance(decoded.image.pixel(5, 10), qRgb(0, 0, 200)), 8);
}

TEST(PictureCodec, EncodingNothingFails)
{
    EXPECT_THROW(encode_jpeg(QImage()), PictureError);
}

TEST(PictureCodec, DecodesPngAndGreyJpeg)
{
    const QImage image = sample_image(33, 17);
    const DecodedPicture png = decode_picture(png_bytes(image));
    ASSERT_TRUE(png.ok()) << png.error.toStdString();
    EXPECT_EQ(png.image.convertToFormat(QImage::Format_RGB32), image);

    const QByteArray grey = encode_jpeg(image.convertToFormat(QImage::Format_Grayscale8));
    const DecodedPicture g = decode_picture(grey);
    ASSERT_TRUE(g.ok()) << g.error.toStdString();
    const QRgb px = g.image.pixel(2, 2);
    EXPECT_EQ(qRed(px), qGreen(px));
    EXPECT_EQ(qGreen(px), qBlue(px));
}

TEST(PictureCodec, ThumbnailDecodeStaysAtLeastAsWideAsAsked)
{
    const QByteArray jpeg = encode_jpeg(sample_image(1600, 1200));
    const DecodedPicture small = decode_picture(jpeg, 150);
    ASSERT_TRUE(small.ok());
    EXPECT_EQ(small.size, QSize(1600, 1200));
    EXPECT_EQ(small.image.size(), QSize(200, 150));
    EXPECT_EQ(decode_picture(jpeg, 500).image.size(), QSize(800, 600));
    EXPECT_EQ(decode_picture(jpeg, 1599).image.size(), QSize(1600, 1200));
}

TEST(PictureCodec, RefusesBadBytesWithAMessage)
{
    const QByteArray jpeg = encode_jpeg(sample_image(300, 200));
    const QByteArray png = png_bytes(sample_image(300, 200));
    struct Case {
        const char *name;
        QByteArray bytes;
        QString error;
    } cases[] = {
        {"empty", QByteArray(), QStringLiteral("无法读取图片：图片数据为空。")},
        {"text", QByteArray("these are not the bytes of a picture"),
         QStringLiteral("无法读取图片：无法识别的图片格式。")},
        {"truncated jpeg", jpeg.left(jpeg.size() / 2),
         QStringLiteral("无法读取图片：图片数据不完整，文件可能已被截断。")},
        {"jpeg bomb", jpeg_declaring(60000, 60000), QStringLiteral("无法读取图片：图片尺寸过大（60000×60000 像素）。")},
        {"png bomb", png_declaring(60000, 60000), QStringLiteral("无法读取图片：图片尺寸过大（60000×60000 像素）。")},
        {"wide png", png_declaring(40000, 1), QStringLiteral("无法读取图片：图片尺寸过大（40000×1 像素）。")},
    };
    for (const Case &c : cases) {
        const DecodedPicture d = decode_picture(c.bytes);
        EXPECT_FALSE(d.ok()) << c.name;
        EXPECT_TRUE(d.image.isNull()) << c.name;
        EXPECT_EQ(d.error, c.error) << c.name;
        // Thumbnails of stored pictures go through the same checks.
        const Thumbnail t = decode_thumbnail(c.bytes, 150);
        EXPECT_TRUE(t.image.isNull()) << c.name;
        EXPECT_EQ(t.error, c.error) << c.name;
    }
}

TEST(PictureCodec, ThumbnailIsThePanelWideScaledPicture)
{
    for (const QByteArray &bytes : {encode_jpeg(sample_image(1600, 1200)), png_bytes(sample_image(600, 300))}) {
        const Thumbnail t = decode_thumbnail(bytes, 150);
        ASSERT_TRUE(t.error.isEmpty()) << t.error.toStdString();
        EXPECT_EQ(t.image.size(), QSize(150, thumbnail_height(t.original, 150)));
    }
    EXPECT_EQ(decode_thumbnail(encode_jpeg(sample_image(1600, 1200)), 150).original, QSize(1600, 1200));
}

TEST(PictureCodec, BatchGivesEachPicturesThumbnailInOrder)
{
    const QByteArray jpeg = encode_jpeg(sample_image(1600, 1200));
    const QList<QByteArray> pictures = {jpeg,
                                        png_bytes(sample_image(600, 300)),
                                        jpeg.left(jpeg.size() / 2),
                                        encode_jpeg(sample_image(90, 120)),
                                        test::jpeg_declaring(60000, 60000),
                                        QByteArray("not a picture"),
                                        png_bytes(sample_image(300, 900))};
    // From one picture to many, and with take() called at once or after the helper is done.
    for (const qsizetype count : {qsizetype(0), qsizetype(1), pictures.size()}) {
        for (const bool late : {false, true}) {
            SCOPED_TRACE(testing::Message() << count << " pictures" << (late ? ", taken late" : ""));
            const QList<QByteArray> some = pictures.first(count);
            ThumbnailBatch batch(some, 150);
            if (late)
                QThread::msleep(200);
            const std::vector<Thumbnail> thumbnails = batch.take();
            ASSERT_EQ(thumbnails.size(), size_t(count));
            for (qsizetype i = 0; i < count; ++i) {
                const Thumbnail alone = decode_thumbnail(some.at(i), 150);
                const Thumbnail &t = thumbnails[size_t(i)];
                EXPECT_EQ(t.original, alone.original) << i;
                EXPECT_EQ(t.error, alone.error) << i;
                EXPECT_EQ(t.image, alone.image) << i;
            }
        }
    }
}

// A helper held after its first pictures decodes no further one until released, and a batch whose
// helper is held can be dropped without releasing it.
TEST(PictureCodec, BatchHeldAfterTheFirstPicturesGoesOnWhenReleased)
{
    QList<QByteArray> pictures;
    for (int i = 0; i < 4; ++i)
        pictures.append(encode_jpeg(sample_image(200 + 40 * i, 150)));
    for (const qsizetype held_after : {qsizetype(0), qsizetype(2)}) {
        SCOPED_TRACE(testing::Message() << "held after " << held_after);
        std::atomic<int> reports{0};
        ThumbnailBatch batch(
            pictures, 150, [&] { ++reports; }, held_after);
        for (int i = 0; i < 500 && reports.load() < held_after; ++i)
            QThread::msleep(10);
        QThread::msleep(100); // time for a picture the helper should not begin
        std::vector<std::pair<qsizetype, Thumbnail>> ready = batch.take_ready();
        ASSERT_EQ(ready.size(), size_t(held_after));
        EXPECT_FALSE(batch.helper_stopped());

        batch.release();
        for (int i = 0; i < 500 && !batch.helper_stopped(); ++i)
            QThread::msleep(10);
        ASSERT_TRUE(batch.helper_stopped());
        for (auto &r : batch.take_ready())
            ready.push_back(std::move(r));
        ASSERT_EQ(ready.size(), size_t(pictures.size()));
        for (qsizetype i = 0; i < pictures.size(); ++i) {
            EXPECT_EQ(ready[size_t(i)].first, i);
            EXPECT_EQ(ready[size_t(i)].second.image, decode_thumbnail(pictures.at(i), 150).image) << i;
        }
    }
    ThumbnailBatch never_released(pictures, 150, {}, 1);
}

TEST(PictureCodec, RefusesTruncatedPngAndBrokenJpeg)
{
    const QByteArray png = png_bytes(sample_image(300, 200));
    const DecodedPicture cut = decode_picture(png.left(png.size() / 2));
    EXPECT_FALSE(cut.ok());
    EXPECT_TRUE(cut.error.startsWith(QStringLiteral("无法读取图片：图片数据已损坏（"))) << cut.error.toStdString();

    // A JPEG start followed by rubbish: libjpeg's own message is passed on.
    const QByteArray broken = QByteArray("\xFF\xD8\xFF\xE0", 4) + QByteArray(64, '\x01');
    const DecodedPicture b = decode_picture(broken);
    EXPECT_FALSE(b.ok());
    EXPECT_TRUE(b.error.startsWith(QStringLiteral("无法读取图片：图片数据已损坏（"))) << b.error.toStdString();
}

TEST(PictureCodec, RefusesJpegWithEndlessScans)
{
    // A progressive JPEG whose last scan is repeated a thousand times.
    QByteArray jpeg;
    {
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "jpeg");
        writer.setProgressiveScanWrite(true);
        ASSERT_TRUE(writer.write(sample_image(64, 64)));
    }
    const qsizetype last_scan = jpeg.lastIndexOf(QByteArray("\xFF\xDA", 2));
    const qsizetype end = jpeg.lastIndexOf(QByteArray("\xFF\xD9", 2));
    ASSERT_GT(last_scan, 0);
    ASSERT_GT(end, last_scan);
    ASSERT_TRUE(decode_picture(jpeg).ok());
    const QByteArray scan = jpeg.mid(last_scan, end - last_scan);
    QByteArray hostile = jpeg.left(end);
    for (int i = 0; i < 1000; ++i)
        hostile += scan;
    hostile += QByteArray("\xFF\xD9", 2);
    const DecodedPicture d = decode_picture(hostile);
    EXPECT_FALSE(d.ok());
    EXPECT_EQ(d.error, QStringLiteral("无法读取图片：图片数据已损坏（more than 500 scans）。"));
}

} // namespace
} // namespace yunshan
