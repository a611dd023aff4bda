#include "editor/rtf/rtf.h"
#include "pictures/inline_images.h"
#include "pictures/picture_codec.h"
#include "pictures/picture_test_util.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>

namespace yunshan {
namespace {

using test::TempFolder;

// Image formats in the document, in order.
QList<QTextImageFormat> images_in(const QTextDocument &doc)
{
    QList<QTextImageFormat> out;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
        for (auto it = b.begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().isImageFormat())
                out.append(it.fragment().charFormat().toImageFormat());
    return out;
}

TEST(InlineImages, FragmentOfThreeBytes)
{
    EXPECT_EQ(jpeg_rtf_fragment(QByteArray("\xFF\xD8\xFF", 3)),
              QByteArray("{\\rtf1\r\n{\\pict\r\n\\jpegblip FFD8FF\r\n}\r\n}\r\n"));
}

TEST(InlineImages, InsertedJpegReplacesTheSelectionAndSavesAsJpeg)
{
    TempFolder dir;
    const QByteArray jpeg = encode_jpeg(test::sample_image(64, 40));
    const QString path = dir.file(QStringLiteral("照片.jpg"));
    TempFolder::write(path, jpeg);

    QTextDocument doc;
    doc.setPlainText(QStringLiteral("前面XX后面"));
    QTextCursor cursor(&doc);
    cursor.setPosition(2);
    cursor.setPosition(4, QTextCursor::KeepAnchor);
    const RtfReadResult r = insert_jpeg_file(path, cursor);
    EXPECT_TRUE(r.warnings.isEmpty()) << r.warnings.join(QStringLiteral("; ")).toStdString();
    EXPECT_EQ(r.pictures, 1);
    EXPECT_EQ(r.placeholders, 0);
    EXPECT_EQ(doc.toPlainText(),
              QStringLiteral("前面") + QChar(QChar::ObjectReplacementCharacter) + QStringLiteral("后面"));
    const QList<QTextImageFormat> images = images_in(doc);
    ASSERT_EQ(images.size(), 1);
    EXPECT_DOUBLE_EQ(images[0].width(), 64);
    EXPECT_DOUBLE_EQ(images[0].height(), 40);

    // The body saves with the picture's own JPEG bytes and reads back with the picture.
    const QByteArray rtf = write_rtf(doc);
    EXPECT_TRUE(rtf.contains("\\jpegblip"));
    QByteArray hex = rtf;
    hex.replace("\r", "").replace("\n", "");
    EXPECT_TRUE(hex.toLower().contains(jpeg.toHex())); // the file's bytes, unchanged
    QTextDocument again;
    read_rtf(rtf, again);
    EXPECT_EQ(images_in(again).size(), 1);
    EXPECT_EQ(again.toPlainText(), doc.toPlainText());
}

TEST(InlineImages, TwentyPicturesSaveAndReopen)
{
    QTextDocument doc;
    QTextCursor cursor(&doc);
    for (int i = 0; i < 20; ++i) {
        cursor.insertText(QStringLiteral("图%1 ").arg(i));
        insert_rtf_at_selection(cursor, jpeg_rtf_fragment(encode_jpeg(test::sample_image(30 + i, 20))));
    }
    ASSERT_EQ(images_in(doc).size(), 20);
    QTextDocument again;
    const RtfReadResult r = read_rtf(write_rtf(doc), again);
    EXPECT_EQ(r.pictures, 20);
    EXPECT_EQ(r.placeholders, 0);
    const QList<QTextImageFormat> images = images_in(again);
    ASSERT_EQ(images.size(), 20);
    for (int i = 0; i < 20; ++i)
        EXPECT_DOUBLE_EQ(images[i].width(), 30 + i) << i;
}

TEST(InlineImages, UnreadableFileInsertsNothing)
{
    TempFolder dir;
    QTextDocument doc;
    doc.setPlainText(QStringLiteral("正文"));
    QTextCursor cursor(&doc);
    const QString missing = dir.file(QStringLiteral("不在.jpg"));
    EXPECT_THROW(insert_jpeg_file(missing, cursor), PictureError);
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("正文"));
}

} // namespace
} // namespace yunshan
