#include "pictures/picture_codec.h"
#include "pictures/picture_test_util.h"
#include "pictures/picture_view_rules.h"
#include "pictures/ui/tpictureview.h"
#include "support/scripted_dialogs.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QWheelEvent>

namespace yunshan {
namespace {

using test::ScriptedDialogs;
using test::TempFolder;
using Kind = ScriptedDialogs::Kind;

const QString kChanged = QStringLiteral("图片已经更改，是否保存或者取消退出？");

QImage white_image(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Qt::white);
    return image;
}

// Pixels of `image` that are not white, as a bounding box.
QRect ink(const QImage &image)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != qRgb(255, 255, 255))
                box |= QRect(x, y, 1, 1);
    return box;
}

class PictureViewTest : public ::testing::Test {
  protected:
    void open(const QImage &image)
    {
        view = std::make_unique<TPictureView>(dialogs);
        view->set_is_write(true);
        view->load_image(image, 5);
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    }
    void TearDown() override
    {
        view.reset();
        dialogs.verify_done();
    }
    // One wheel step over the picture: away from the user (+) or toward the user (-).
    void wheel(bool away)
    {
        const QPointF at(10, 10);
        QWheelEvent e(at, view->Image1->mapToGlobal(at), QPoint(), QPoint(0, away ? 120 : -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view->Image1, &e);
    }
    void mouse(QEvent::Type type, Qt::MouseButton button, QPoint at, Qt::MouseButtons held)
    {
        QMouseEvent e(type, at, view->Image1->mapToGlobal(at), button, held, Qt::NoModifier);
        QApplication::sendEvent(view->Image1, &e);
    }
    // Right-click on the picture at `at` (picture-control coordinates): the context menu opens.
    void right_click(QPoint at)
    {
        mouse(QEvent::MouseButtonPress, Qt::RightButton, at, Qt::RightButton);
        mouse(QEvent::MouseButtonRelease, Qt::RightButton, at, Qt::NoButton);
        EXPECT_TRUE(view->PopupMenu1->isVisible());
        view->PopupMenu1->hide();
    }
    void type_line(const QString &text)
    {
        ASSERT_TRUE(view->Edit1->isVisible());
        QTest::keyClicks(view->Edit1, text);
        QTest::keyClick(view->Edit1, Qt::Key_Return);
        EXPECT_FALSE(view->Edit1->isVisible());
    }

    ScriptedDialogs dialogs;
    TempFolder dir;
    std::unique_ptr<TPictureView> view;
};

TEST_F(PictureViewTest, ShowsAtZoomOneAndZoomsByWheelSteps)
{
    open(test::sample_image(800, 600));
    EXPECT_EQ(view->windowTitle(), QStringLiteral("图片浏览，点击鼠标右键可在图片上添加文字。"));
    EXPECT_EQ(view->picture_rect().size(), QSize(800, 600));
    EXPECT_EQ(view->Image1->size(), QSize(800, 600));
    EXPECT_TRUE(view->ButtonAddText->isEnabled());
    EXPECT_FALSE(view->ButtonCancel->isEnabled());
    EXPECT_EQ(view->ToolBar1->height(), 57);
    EXPECT_EQ(view->ButtonSave->size(), QSize(48, 48));

    wheel(false);
    EXPECT_EQ(view->Image1->size(), QSize(640, 480));
    EXPECT_EQ(view->windowTitle(), QStringLiteral("图片浏览 缩放：0.8"));
    wheel(true);
    EXPECT_EQ(view->Image1->size(), QSize(768, 576));
    EXPECT_EQ(view->windowTitle(), QStringLiteral("图片浏览 缩放：1"));
    EXPECT_EQ(view->bitmap().size(), QSize(800, 600));

    // The next opening starts again at zoom 1; "加文字" follows is_write.
    view->hide();
    view->set_is_write(false);
    view->load_image(test::sample_image(800, 600), 6);
    view->show();
    EXPECT_EQ(view->Image1->size(), QSize(800, 600));
    EXPECT_FALSE(view->ButtonAddText->isEnabled());
    EXPECT_EQ(view->picture_id(), 6);
}

// A picture larger than the area shows scroll bars, which move it; zooming out stops while it
// can still be seen.
TEST_F(PictureViewTest, ScrollBarsFollowALargePictureAndZoomingOutStops)
{
    open(test::sample_image(600, 400));
    EXPECT_FALSE(view->HorzScrollBar->isVisible());
    EXPECT_FALSE(view->VertScrollBar->isVisible());
    for (int i = 0; i < 6; ++i)
        wheel(true);
    ASSERT_GT(view->picture_rect().width(), view->ScrollBox1->width());
    EXPECT_TRUE(view->HorzScrollBar->isVisible());
    EXPECT_TRUE(view->VertScrollBar->isVisible());
    const QRect before = view->picture_rect();
    view->HorzScrollBar->setValue(view->HorzScrollBar->value() + 50);
    EXPECT_EQ(view->picture_rect(), before.translated(-50, 0));
    EXPECT_EQ(view->Image1->geometry(), view->picture_rect());

    for (int i = 0; i < 60; ++i)
        wheel(false);
    EXPECT_GE(std::max(view->Image1->width(), view->Image1->height()), kSmallestZoomSide);
    EXPECT_NE(view->windowTitle(), QStringLiteral("图片浏览 缩放：0"));
    EXPECT_FALSE(view->HorzScrollBar->isVisible());
    EXPECT_FALSE(view->VertScrollBar->isVisible());
}

TEST_F(PictureViewTest, ToolButtonsAreReachedWithTheKeyboard)
{
    open(test::sample_image(300, 200));
    for (QToolButton *b : {view->ButtonAddText, view->ButtonFont, view->ButtonSave, view->ButtonCancel})
        EXPECT_EQ(b->focusPolicy(), Qt::TabFocus) << b->objectName().toStdString();
    view->ButtonAddText->setFocus(Qt::TabFocusReason);
    QTest::keyClick(view->ButtonAddText, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), view->ButtonFont);
}

TEST_F(PictureViewTest, TextWrittenWhenZoomedOutLandsAtTheSamePlaceAtFullFontSize)
{
    open(white_image(800, 600));
    right_click(QPoint(200, 100));
    EXPECT_EQ(view->mx1, 200);
    EXPECT_EQ(view->my1, 100);
    view->MenuWriteText->trigger();
    type_line(QStringLiteral("Note 1"));
    EXPECT_TRUE(view->M_is_change);
    EXPECT_TRUE(view->ButtonCancel->isEnabled());
    const QImage at_full = view->bitmap();
    const QRect written = ink(at_full);
    ASSERT_FALSE(written.isEmpty());
    EXPECT_GE(written.left(), 200);
    EXPECT_LE(written.left(), 206);
    EXPECT_GE(written.top(), 100);
    EXPECT_LE(written.top(), 110);
    EXPECT_GE(written.height(), 12); // 19-pixel font: capitals and digits stand about 14 high

    dialogs.expect_question3(kChanged, Dialogs::Answer::No);
    view->close();
    EXPECT_FALSE(view->isVisible());

    // Shown at 0.64 (two steps toward the user): the same picture place is 0.64 times as far.
    view->load_image(white_image(800, 600), 5);
    view->show();
    wheel(false);
    wheel(false);
    ASSERT_EQ(view->Image1->size(), QSize(512, 384));
    right_click(QPoint(128, 64));
    view->MenuWriteText->trigger();
    type_line(QStringLiteral("Note 1"));
    EXPECT_EQ(view->bitmap(), at_full);
    dialogs.expect_question3(kChanged, Dialogs::Answer::No);
    view->close();
}

TEST_F(PictureViewTest, AddTextPlacesTheFieldNearTheCornerAndEmptyTextChangesNothing)
{
    open(white_image(400, 300));
    view->ButtonAddText->click();
    ASSERT_TRUE(view->Edit1->isVisible());
    EXPECT_EQ(view->Edit1->pos(), view->picture_rect().topLeft() + QPoint(20, 20));
    QTest::keyClick(view->Edit1, Qt::Key_Return);
    EXPECT_FALSE(view->M_is_change);
    EXPECT_FALSE(view->ButtonCancel->isEnabled());
    view->close(); // nothing to ask
    EXPECT_FALSE(view->isVisible());
}

TEST_F(PictureViewTest, WheelDoesNotZoomWhileWriting)
{
    open(white_image(400, 300));
    view->ButtonAddText->click();
    wheel(false);
    EXPECT_EQ(view->Image1->size(), QSize(400, 300));
    // A left press on the picture ends writing and draws the text.
    QTest::keyClicks(view->Edit1, QStringLiteral("abc"));
    mouse(QEvent::MouseButtonPress, Qt::LeftButton, QPoint(300, 250), Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, Qt::LeftButton, QPoint(300, 250), Qt::NoButton);
    EXPECT_FALSE(view->Edit1->isVisible());
    EXPECT_TRUE(view->M_is_change);
    EXPECT_FALSE(ink(view->bitmap()).isEmpty());
    view->ButtonCancel->click(); // closes without a question, the text is lost
    EXPECT_FALSE(view->isVisible());
    EXPECT_FALSE(view->M_is_change);
}

TEST_F(PictureViewTest, ChosenFontAndColourWriteTheText)
{
    open(white_image(400, 300));
    QFont big(QStringLiteral("WenQuanYi Micro Hei"));
    big.setPixelSize(40);
    dialogs.expect_font(big, QColor(Qt::red));
    view->ButtonFont->click();
    EXPECT_EQ(dialogs.offered_font().pixelSize(), 19);
    view->ButtonAddText->click();
    type_line(QStringLiteral("WW"));
    const QRect written = ink(view->bitmap());
    EXPECT_GE(written.height(), 25);
    bool red = false;
    for (int y = written.top(); y <= written.bottom() && !red; ++y)
        for (int x = written.left(); x <= written.right() && !red; ++x)
            red = view->bitmap().pixel(x, y) == qRgb(255, 0, 0);
    EXPECT_TRUE(red);
    view->ButtonCancel->click();
}

TEST_F(PictureViewTest, SaveAsThenNumberedCopiesOnClosing)
{
    open(white_image(300, 200));
    view->ButtonAddText->click();
    type_line(QStringLiteral("one"));

    const QString chosen = dir.file(QStringLiteral("海边"));
    dialogs.expect_file(Kind::SaveFile, chosen);
    EXPECT_TRUE(view->ButtonSaveClick());
    EXPECT_EQ(dialogs.last_start(), QStringLiteral("2"));
    const QString saved = chosen + QStringLiteral(".jpg");
    EXPECT_EQ(view->M_cur_filename, saved);
    EXPECT_FALSE(view->M_is_change);
    EXPECT_TRUE(view->isVisible());
    const QByteArray bytes = TempFolder::read(saved);
    ASSERT_TRUE(looks_like_jpeg(bytes));
    const DecodedPicture decoded = decode_picture(bytes);
    ASSERT_TRUE(decoded.ok());
    EXPECT_EQ(decoded.size, QSize(300, 200));
    EXPECT_FALSE(ink(decoded.image).isEmpty());

    view->close(); // saved: no question
    EXPECT_FALSE(view->isVisible());

    // Next opening: more text, closing with Yes writes 海边(2).jpg, then 海边(3).jpg.
    for (const char *copy : {"海边(2).jpg", "海边(3).jpg"}) {
        view->load_image(white_image(300, 200), 5);
        view->show();
        view->ButtonAddText->click();
        type_line(QStringLiteral("two"));
        dialogs.expect_question3(kChanged, Dialogs::Answer::Yes);
        view->close();
        EXPECT_FALSE(view->isVisible());
        EXPECT_TRUE(looks_like_jpeg(TempFolder::read(dir.file(QString::fromUtf8(copy))))) << copy;
    }
    EXPECT_EQ(view->M_cur_filename, saved);

    // The next "另存" proposes "2" and the last name, in the last file's folder.
    dialogs.expect_file(Kind::SaveFile, QString());
    EXPECT_FALSE(view->ButtonSaveClick());
    EXPECT_EQ(dialogs.last_start(), dir.file(QStringLiteral("2海边.jpg")));
}

TEST_F(PictureViewTest, ClosingQuestionCancelKeepsTheWindowAndYesWithoutFileAsksForOne)
{
    open(white_image(300, 200));
    view->ButtonAddText->click();
    type_line(QStringLiteral("x"));

    dialogs.expect_question3(kChanged, Dialogs::Answer::Cancel);
    view->close();
    EXPECT_TRUE(view->isVisible());
    EXPECT_TRUE(view->M_is_change);

    // Yes before any "另存": the save dialog; cancelling it keeps the window open.
    dialogs.expect_question3(kChanged, Dialogs::Answer::Yes);
    dialogs.expect_file(Kind::SaveFile, QString());
    view->close();
    EXPECT_TRUE(view->isVisible());

    const QString path = dir.file(QStringLiteral("first.jpg"));
    dialogs.expect_question3(kChanged, Dialogs::Answer::Yes);
    dialogs.expect_file(Kind::SaveFile, path);
    view->close();
    EXPECT_FALSE(view->isVisible());
    EXPECT_TRUE(looks_like_jpeg(TempFolder::read(path)));
}

TEST_F(PictureViewTest, UnwritableFileKeepsTheWindowAndTheChange)
{
    open(white_image(300, 200));
    view->ButtonAddText->click();
    type_line(QStringLiteral("x"));
    const QString bad = dir.file(QStringLiteral("no/such/folder/p.jpg"));
    dialogs.expect_file(Kind::SaveFile, bad);
    dialogs.expect_containing(Kind::Error, QStringLiteral("无法保存文件“") + bad + QStringLiteral("”："));
    EXPECT_FALSE(view->ButtonSaveClick());
    EXPECT_TRUE(view->M_is_change);
    EXPECT_TRUE(view->isVisible());
    view->ButtonCancel->click();
}

TEST_F(PictureViewTest, DraggingMovesOnlyLargePicturesWithinLimits)
{
    open(white_image(300, 200));
    const QRect small = view->picture_rect();
    mouse(QEvent::MouseButtonPress, Qt::LeftButton, QPoint(50, 50), Qt::LeftButton);
    mouse(QEvent::MouseMove, Qt::NoButton, QPoint(90, 80), Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, Qt::LeftButton, QPoint(90, 80), Qt::NoButton);
    EXPECT_EQ(view->picture_rect(), small);

    view->hide();
    view->load_image(white_image(2000, 1500), 5);
    view->show();
    const QRect big = view->picture_rect();
    const QSize area = view->ScrollBox1->size();
    mouse(QEvent::MouseButtonPress, Qt::LeftButton, QPoint(500, 500), Qt::LeftButton);
    mouse(QEvent::MouseMove, Qt::NoButton, QPoint(530, 510), Qt::LeftButton);
    EXPECT_EQ(view->picture_rect().topLeft(), big.topLeft() + QPoint(30, 10));
    // Far to the right: the left edge may not come to 20 or beyond; the picture stays.
    mouse(QEvent::MouseMove, Qt::NoButton, QPoint(500 + 2000, 500), Qt::LeftButton);
    EXPECT_EQ(view->picture_rect().topLeft(), big.topLeft() + QPoint(30, 10));
    mouse(QEvent::MouseButtonRelease, Qt::LeftButton, QPoint(500, 500), Qt::NoButton);
    EXPECT_FALSE(view->canmove);
    EXPECT_GT(view->picture_rect().left(), area.width() - 2000 - 20);
}

TEST_F(PictureViewTest, DoubleClickCloses)
{
    open(white_image(300, 200));
    QMouseEvent e(QEvent::MouseButtonDblClick, QPointF(5, 5), view->ScrollBox1->mapToGlobal(QPointF(5, 5)),
                  Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view->ScrollBox1, &e);
    EXPECT_FALSE(view->isVisible());
}

TEST_F(PictureViewTest, HostileBytesAreRefusedWithAMessage)
{
    view = std::make_unique<TPictureView>(dialogs);
    dialogs.expect_error(QStringLiteral("无法读取图片：图片尺寸过大（60000×60000 像素）。"));
    EXPECT_FALSE(view->open_picture(test::jpeg_declaring(60000, 60000), 3));
    EXPECT_FALSE(view->isVisible());
    QString error;
    const QByteArray jpeg = encode_jpeg(test::sample_image(200, 100));
    EXPECT_FALSE(view->load_picture(jpeg.left(jpeg.size() / 3), 3, &error));
    EXPECT_EQ(error, QStringLiteral("无法读取图片：图片数据不完整，文件可能已被截断。"));
    EXPECT_TRUE(view->load_picture(jpeg, 3, &error));
    EXPECT_EQ(view->bitmap().size(), QSize(200, 100));
}

} // namespace
} // namespace yunshan
