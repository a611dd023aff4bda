#include "rtf_test_util.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QTextBlock>
#include <QTextFragment>
#include <QUrl>

namespace rtftest {

QByteArray fixture(const QString &name)
{
    QFile file(QStringLiteral(YUNSHAN_TEST_DATA "/rtf/") + name);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
    return file.readAll();
}

QByteArray image_bytes(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

QImage solid_image(int width, int height, QColor colour)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

std::vector<TextRun> runs(const QTextDocument &doc)
{
    std::vector<TextRun> out;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        if (b != doc.begin()) {
            TextRun end;
            end.text = QStringLiteral("\n");
            out.push_back(end);
        }
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextFragment f = it.fragment();
            const QTextCharFormat c = f.charFormat();
            TextRun r;
            r.text = f.text();
            r.bold = c.fontWeight() >= QFont::DemiBold;
            r.italic = c.fontItalic();
            r.underline = c.fontUnderline();
            r.strike = c.fontStrikeOut();
            if (c.foreground().style() != Qt::NoBrush)
                r.foreground = c.foreground().color();
            r.size = c.hasProperty(QTextFormat::FontPointSize) ? c.fontPointSize() : 0;
            const QStringList families = c.fontFamilies().toStringList();
            r.family = families.isEmpty() ? QString() : families.first();
            r.href = c.isAnchor() ? c.anchorHref() : QString();
            if (c.isImageFormat()) {
                const QTextImageFormat i = c.toImageFormat();
                r.image = true;
                r.image_width = i.width();
                r.image_height = i.height();
                r.picture = qvariant_cast<QImage>(doc.resource(QTextDocument::ImageResource, QUrl(i.name())));
            }
            out.push_back(r);
        }
    }
    return out;
}

TextRun run_with(const QTextDocument &doc, const QString &text)
{
    for (const TextRun &r : runs(doc))
        if (r.text.contains(text))
            return r;
    ADD_FAILURE() << "no run with " << text.toStdString() << " in " << doc.toPlainText().toStdString();
    return {};
}

std::vector<TextRun> image_runs(const QTextDocument &doc)
{
    std::vector<TextRun> out;
    for (const TextRun &r : runs(doc))
        if (r.image)
            for (QChar c : r.text)
                if (c == QChar::ObjectReplacementCharacter)
                    out.push_back(r);
    return out;
}

QColor centre_colour(const QImage &image)
{
    if (image.isNull())
        return {};
    return image.pixelColor(image.width() / 2, image.height() / 2);
}

} // namespace rtftest
