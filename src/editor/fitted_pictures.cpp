#include "editor/fitted_pictures.h"

#include <QAbstractTextDocumentLayout>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QTextDocument>
#include <QTextFormat>
#include <QTextObjectInterface>
#include <QUrl>

namespace yunshan {

namespace {

QImage picture_of(QTextDocument *doc, const QTextImageFormat &f)
{
    const QVariant r = doc->resource(QTextDocument::ImageResource, QUrl(f.name()));
    if (r.canConvert<QImage>())
        return r.value<QImage>();
    if (r.canConvert<QPixmap>())
        return r.value<QPixmap>().toImage();
    return {};
}

class FittedPictures : public QObject, public QTextObjectInterface {
    Q_OBJECT
    Q_INTERFACES(QTextObjectInterface)

  public:
    using QObject::QObject;

    QSizeF intrinsicSize(QTextDocument *doc, int, const QTextFormat &format) override
    {
        const QTextImageFormat f = format.toImageFormat();
        QSizeF size(f.width(), f.height());
        if (size.width() <= 0 || size.height() <= 0) {
            const QImage image = picture_of(doc, f);
            const QSizeF natural = image.isNull() ? QSizeF(16, 16) : QSizeF(image.size());
            if (size.width() <= 0 && size.height() > 0)
                size.setWidth(natural.width() * size.height() / qMax<qreal>(1, natural.height()));
            else if (size.height() <= 0 && size.width() > 0)
                size.setHeight(natural.height() * size.width() / qMax<qreal>(1, natural.width()));
            else
                size = natural;
        }
        // The room a line has: the text width less the document's margins on both sides.
        const qreal room = doc->textWidth() - 2 * doc->documentMargin() - 1;
        if (room > 0 && size.width() > room)
            size *= room / size.width();
        return size;
    }

    void drawObject(QPainter *painter, const QRectF &rect, QTextDocument *doc, int, const QTextFormat &format) override
    {
        const QImage image = picture_of(doc, format.toImageFormat());
        if (image.isNull())
            return;
        painter->save();
        painter->setRenderHint(QPainter::SmoothPixmapTransform, rect.width() < image.width());
        painter->drawImage(rect, image);
        painter->restore();
    }
};

} // namespace

void fit_pictures_to_text_width(QTextDocument &doc)
{
    QAbstractTextDocumentLayout *layout = doc.documentLayout();
    if (layout->property("yunshan_fitted").toBool())
        return;
    layout->setProperty("yunshan_fitted", true);
    layout->registerHandler(QTextFormat::ImageObject, new FittedPictures(layout));
}

} // namespace yunshan

#include "fitted_pictures.moc"
