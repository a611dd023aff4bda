#include "pictures/attachments.h"
#include "pictures/picture_test_util.h"
#include "store/connection.h"
#include "store/note_store.h"
#include "store/store_fixture.h"
#include "support/db_check.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>

namespace yunshan {
namespace {

using test::ScriptedDialogs;
using test::TempFolder;

class AttachmentsTest : public test::StoreTest {
  protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        connect_store();
    }
    void connect_store()
    {
        store = std::make_unique<NoteStore>(lock);
        QString z = zhu, b = bei;
        ASSERT_EQ(store->Connect_to_db(z, b, dialogs), kMainAndBackup);
    }
    int rows(Connection &db, const QString &where = {})
    {
        return db.query_first(QStringLiteral("select count(*) from picture") + where)->toInt();
    }

    std::unique_ptr<NoteStore> store;
    const int note_id = 7;
    int img_id = -1; // the current picture
};

TEST_F(AttachmentsTest, StoredPicturesAreMirroredAndSurviveReopening)
{
    const QByteArray a = encode_jpeg(test::sample_image(64, 48));
    const QByteArray b = test::png_bytes(test::sample_image(20, 30));
    const qint64 id1 = attach_picture(*store, note_id, img_id, a);
    EXPECT_EQ(img_id, id1);
    EXPECT_TRUE(store->changed());
    const qint64 id2 = attach_picture(*store, note_id, img_id, b);
    EXPECT_EQ(id2, id1 + 1);
    EXPECT_EQ(img_id, id2);
    EXPECT_EQ(store_picture(*store, 8, a), id2 + 1);
    test::expect_mirror_identical(*store);

    store.reset();
    connect_store();
    const QList<StoredPicture> rows7 = note_pictures(*store, 7);
    ASSERT_EQ(rows7.size(), 2);
    EXPECT_EQ(rows7[0].id, id1);
    EXPECT_EQ(rows7[0].bytes, a);
    EXPECT_EQ(rows7[1].id, id2);
    EXPECT_EQ(rows7[1].bytes, b);
    EXPECT_EQ(test::open_backup(*store)
                  ->query_first(QStringLiteral("select img from picture where id=") + QString::number(id2))
                  ->toByteArray(),
              b);
}

TEST_F(AttachmentsTest, FileIsStoredByteForByteAndPasteAsJpeg)
{
    // A PNG file with a trailing byte that no decoder needs: still stored exactly as read.
    const QByteArray file_bytes = test::png_bytes(test::sample_image(50, 40)) + QByteArray("\0", 1);
    const QString path = dir.file(QStringLiteral("图片.png"));
    TempFolder::write(path, file_bytes);
    const NewPicture from_file = picture_from_file(path, 30);
    EXPECT_EQ(from_file.bytes, file_bytes);
    EXPECT_EQ(from_file.decoded.size, QSize(50, 40));

    QImage screenshot(200, 100, QImage::Format_ARGB32_Premultiplied);
    screenshot.fill(QColor(10, 120, 200));
    const NewPicture pasted = picture_from_bitmap(screenshot);
    ASSERT_GE(pasted.bytes.size(), 2);
    EXPECT_EQ(uchar(pasted.bytes[0]), 0xFF);
    EXPECT_EQ(uchar(pasted.bytes[1]), 0xD8);
    EXPECT_EQ(pasted.decoded.size, QSize(200, 100));

    const qint64 id = attach_picture(*store, note_id, img_id, pasted.bytes);
    EXPECT_EQ(store->main()
                  .query_first(QStringLiteral("select img from picture where id=") + QString::number(id))
                  ->toByteArray(),
              pasted.bytes);
}

TEST_F(AttachmentsTest, ClipboardWithTextOnlyGivesNoPicture)
{
    QGuiApplication::clipboard()->setText(QStringLiteral("只有文字"));
    EXPECT_FALSE(picture_from_clipboard().has_value());
    QImage shot(64, 32, QImage::Format_RGB32);
    shot.fill(Qt::darkGreen);
    QGuiApplication::clipboard()->setImage(shot);
    const std::optional<NewPicture> pasted = picture_from_clipboard();
    ASSERT_TRUE(pasted.has_value());
    EXPECT_TRUE(looks_like_jpeg(pasted->bytes));
    EXPECT_EQ(pasted->decoded.size, QSize(64, 32));
    QGuiApplication::clipboard()->clear();
}

TEST_F(AttachmentsTest, UnreadableFilesAreRefusedBeforeStoring)
{
    const QString bomb = dir.file(QStringLiteral("bomb.jpg"));
    TempFolder::write(bomb, test::jpeg_declaring(60000, 60000));
    try {
        picture_from_file(bomb);
        FAIL() << "a decompression bomb was accepted";
    } catch (const PictureError &e) {
        EXPECT_EQ(e.message(), QStringLiteral("无法读取图片：图片尺寸过大（60000×60000 像素）。"));
    }
    const QString missing = dir.file(QStringLiteral("没有.jpg"));
    try {
        picture_from_file(missing);
        FAIL() << "a missing file was read";
    } catch (const PictureError &e) {
        EXPECT_TRUE(e.message().startsWith(QStringLiteral("无法读取文件“") + missing + QStringLiteral("”：")))
            << e.message().toStdString();
    }
    EXPECT_EQ(rows(store->main()), 0);
    EXPECT_EQ(rows(*test::open_backup(*store)), 0);
}

TEST_F(AttachmentsTest, DeleteAsksAndRemovesFromBothDatabases)
{
    const QByteArray a = encode_jpeg(test::sample_image(8, 8));
    attach_picture(*store, note_id, img_id, a);
    const qint64 second = attach_picture(*store, note_id, img_id, a);
    store->set_changed(false);

    // The newest picture is current without a click; No keeps everything.
    dialogs.expect_question(QStringLiteral("是否删除当前图片？"), Dialogs::Answer::No);
    EXPECT_FALSE(confirm_delete_picture(img_id, dialogs));
    EXPECT_EQ(rows(store->main()), 2);

    dialogs.expect_question(QStringLiteral("是否删除当前图片？"), Dialogs::Answer::Yes);
    ASSERT_TRUE(confirm_delete_picture(img_id, dialogs));
    delete_current_picture(*store, img_id);
    EXPECT_EQ(img_id, -1);
    EXPECT_TRUE(store->changed());
    EXPECT_EQ(rows(store->main(), QStringLiteral(" where id=") + QString::number(second)), 0);
    EXPECT_EQ(rows(store->main()), 1);
    test::expect_mirror_identical(*store);

    dialogs.expect_message(QStringLiteral("请先鼠标点击来选择一个要删除的图片。"));
    EXPECT_FALSE(confirm_delete_picture(img_id, dialogs));
}

TEST_F(AttachmentsTest, AddingNeedsASelectedNote)
{
    QGuiApplication::clipboard()->setImage(test::sample_image(20, 20));
    dialogs.expect_message(QStringLiteral("请先创建笔记。"));
    EXPECT_FALSE(add_picture_from_file(*store, note_id, img_id, dialogs, -1, 100));
    dialogs.expect_message(QStringLiteral("请先创建笔记。"));
    EXPECT_FALSE(add_picture_from_clipboard(*store, note_id, img_id, dialogs, -1, 100));
    EXPECT_EQ(rows(store->main()), 0);
    EXPECT_FALSE(store->changed());
    QGuiApplication::clipboard()->clear();
}

TEST_F(AttachmentsTest, AddFromFileAndFromClipboard)
{
    const QByteArray jpeg = encode_jpeg(test::sample_image(800, 600));
    const QString path = dir.file(QStringLiteral("照片.jpg"));
    TempFolder::write(path, jpeg);
    dialogs.expect_file(ScriptedDialogs::Kind::OpenFile, path);
    const std::optional<AddedPicture> added = add_picture_from_file(*store, note_id, img_id, dialogs, 0, 150);
    ASSERT_TRUE(added);
    EXPECT_EQ(added->size, QSize(800, 600));
    EXPECT_EQ(added->thumbnail.size(), QSize(200, 150)); // decoded at a quarter, still wide enough
    EXPECT_EQ(img_id, added->id);
    EXPECT_EQ(store->main()
                  .query_first(QStringLiteral("select img from picture where id=") + QString::number(added->id))
                  ->toByteArray(),
              jpeg);

    // Cancelled dialog: nothing.
    dialogs.expect_file(ScriptedDialogs::Kind::OpenFile, QString());
    EXPECT_FALSE(add_picture_from_file(*store, note_id, img_id, dialogs, 0, 150));

    // Text only on the clipboard: nothing, silently; a bitmap: a JPEG row.
    QGuiApplication::clipboard()->setText(QStringLiteral("文字"));
    EXPECT_FALSE(add_picture_from_clipboard(*store, note_id, img_id, dialogs, 0, 150));
    QGuiApplication::clipboard()->setImage(test::sample_image(300, 100));
    const std::optional<AddedPicture> pasted = add_picture_from_clipboard(*store, note_id, img_id, dialogs, 0, 150);
    ASSERT_TRUE(pasted);
    EXPECT_EQ(pasted->size, QSize(300, 100));
    EXPECT_TRUE(looks_like_jpeg(
        store->main()
            .query_first(QStringLiteral("select img from picture where id=") + QString::number(pasted->id))
            ->toByteArray()));
    EXPECT_EQ(rows(store->main()), 2);
    test::expect_mirror_identical(*store);
    QGuiApplication::clipboard()->clear();
}

TEST_F(AttachmentsTest, AddingAHostileFileShowsWhyAndStoresNothing)
{
    const QString path = dir.file(QStringLiteral("bomb.png"));
    TempFolder::write(path, test::png_declaring(60000, 60000));
    dialogs.expect_file(ScriptedDialogs::Kind::OpenFile, path);
    dialogs.expect_error(QStringLiteral("无法读取图片：图片尺寸过大（60000×60000 像素）。"));
    EXPECT_FALSE(add_picture_from_file(*store, note_id, img_id, dialogs, 0, 150));
    EXPECT_EQ(rows(store->main()), 0);
    EXPECT_EQ(rows(*test::open_backup(*store)), 0);
    EXPECT_FALSE(store->changed());
    EXPECT_EQ(img_id, -1);
}

TEST_F(AttachmentsTest, StoringWithoutADatabaseFails)
{
    store->close_all();
    EXPECT_THROW(store_picture(*store, 7, QByteArray("x")), DbError);
}

} // namespace
} // namespace yunshan
