#include "editor/fitted_pictures.h"
#include "editor/rtf/rtf.h"

#include <gtest/gtest.h>

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextImageFormat>
#include <QTextLayout>

namespace yunshan {
namespace {

QByteArray png(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// The picture's drawn rectangle in the document's layout.
QSizeF drawn_size(QTextDocument &doc)
{
    doc.documentLayout()->documentSize(); // lays it out
    const QTextBlock block = doc.begin();
    const QTextLine line = block.layout()->lineAt(0);
    return QSizeF(line.naturalTextWidth(), line.height());
}

// A picture wider than the editor is drawn at the editor's width, its stored size unchanged; a
// narrow one keeps its size.
TEST(FittedPictures, WidePicturesAreDrawnAtTheTextWidthAndStoredWhole)
{
    const struct {
        int width;
        qreal drawn_at_most;
    } cases[] = {{1800, 500}, {300, 300}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.width);
        QTextDocument doc;
        fit_pictures_to_text_width(doc);
        doc.setDocumentMargin(4);
        doc.setTextWidth(509);
        QTextCursor cursor(&doc);
        cursor.insertImage(add_picture(doc, png(c.width, c.width / 2)));
        const QSizeF drawn = drawn_size(doc);
        EXPECT_LE(drawn.width(), c.drawn_at_most + 1);
        EXPECT_GE(drawn.width(), std::min<qreal>(c.width, 500) - 1);
        // What is saved holds the picture at its own size.
        QTextDocument back;
        read_rtf(write_rtf(doc), back);
        QTextCursor probe(&back);
        probe.setPosition(1);
        const QTextImageFormat f = probe.charFormat().toImageFormat();
        ASSERT_TRUE(f.isValid());
        EXPECT_NEAR(f.width(), QTextCursor(&doc).block().begin().fragment().charFormat().toImageFormat().width(), 1);
    }
}

TEST(FittedPictures, TheEditorNeverScrollsSidewaysForAWidePicture)
{
    QTextEdit editor;
    editor.resize(400, 300);
    fit_pictures_to_text_width(*editor.document());
    editor.show();
    QTextCursor(editor.document()).insertImage(add_picture(*editor.document(), png(2400, 600)));
    editor.document()->documentLayout()->documentSize();
    QApplication::processEvents();
    EXPECT_EQ(editor.horizontalScrollBar()->maximum(), 0);
}

} // namespace
} // namespace yunshan
