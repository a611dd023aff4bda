#include "rtf_test_util.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QTextBlock>
#include <QTextFragment>
#include <QTextFrame>
#include <QTextTable>
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

void expect_same_runs(const QTextDocument &a, const QTextDocument &b)
{
    const auto ra = runs(a);
    const auto rb = runs(b);
    ASSERT_EQ(ra.size(), rb.size()) << a.toPlainText().left(200).toStdString() << " | "
                                    << b.toPlainText().left(200).toStdString();
    for (size_t i = 0; i < ra.size(); ++i) {
        SCOPED_TRACE(ra[i].text.left(40).toStdString());
        EXPECT_EQ(ra[i].text, rb[i].text);
        EXPECT_EQ(ra[i].bold, rb[i].bold);
        EXPECT_EQ(ra[i].italic, rb[i].italic);
        EXPECT_EQ(ra[i].underline, rb[i].underline);
        EXPECT_EQ(ra[i].strike, rb[i].strike);
        EXPECT_EQ(ra[i].foreground, rb[i].foreground);
        if (ra[i].size > 0) {
            EXPECT_EQ(ra[i].size, rb[i].size);
        }
        if (!ra[i].family.isEmpty()) {
            EXPECT_EQ(ra[i].family, rb[i].family);
        }
        EXPECT_EQ(ra[i].href, rb[i].href);
        EXPECT_EQ(ra[i].image, rb[i].image);
        if (ra[i].image) {
            EXPECT_EQ(ra[i].image_width, rb[i].image_width);
            EXPECT_EQ(ra[i].image_height, rb[i].image_height);
            EXPECT_EQ(ra[i].picture.convertToFormat(QImage::Format_RGB32),
                      rb[i].picture.convertToFormat(QImage::Format_RGB32));
        }
    }
}

namespace {

QString number(qreal v)
{
    return QString::number(v, 'g', 4);
}

QString border(const QTextTableCellFormat &f, QTextFormat::Property width, QTextFormat::Property style,
               QTextFormat::Property brush)
{
    if (!f.hasProperty(width) || f.doubleProperty(width) <= 0)
        return QStringLiteral("none");
    static const char *const names[] = {"none",         "dotted", "dashed", "solid", "double", "dot-dash",
                                        "dot-dot-dash", "groove", "ridge",  "inset", "outset"};
    const int s = f.intProperty(style);
    return number(f.doubleProperty(width)) + QLatin1Char(' ') + QLatin1String(s >= 0 && s <= 10 ? names[s] : "?") +
           QLatin1Char(' ') + f.brushProperty(brush).color().name();
}

void describe_table(const QTextDocument &doc, const QTextTable &t, QString &out)
{
    const QTextTableFormat tf = t.format();
    out += QStringLiteral("table %1x%2 widths").arg(t.rows()).arg(t.columns());
    for (const QTextLength &l : tf.columnWidthConstraints())
        out += QLatin1Char(' ') + number(l.rawValue());
    out += QStringLiteral(" padding ") + number(tf.cellPadding());
    if (tf.alignment() & Qt::AlignHCenter)
        out += QStringLiteral(" centre");
    else if (tf.alignment() & Qt::AlignRight)
        out += QStringLiteral(" right");
    out += QLatin1Char('\n');
    for (int r = 0; r < t.rows(); ++r)
        for (int c = 0; c < t.columns(); ++c) {
            const QTextTableCell cell = t.cellAt(r, c);
            if (cell.row() != r || cell.column() != c)
                continue;
            out += QStringLiteral("[%1,%2]").arg(r).arg(c);
            if (cell.rowSpan() > 1 || cell.columnSpan() > 1)
                out += QStringLiteral(" %1x%2").arg(cell.rowSpan()).arg(cell.columnSpan());
            QStringList paragraphs;
            for (QTextBlock b = doc.findBlock(cell.firstPosition()); b.isValid() && b.position() <= cell.lastPosition();
                 b = b.next())
                paragraphs << b.text();
            out += QStringLiteral(" \"") + paragraphs.join(QLatin1Char('|')) + QLatin1Char('"');
            const QTextTableCellFormat f = cell.format().toTableCellFormat();
            const QString sides[4] = {
                border(f, QTextFormat::TableCellTopBorder, QTextFormat::TableCellTopBorderStyle,
                       QTextFormat::TableCellTopBorderBrush),
                border(f, QTextFormat::TableCellLeftBorder, QTextFormat::TableCellLeftBorderStyle,
                       QTextFormat::TableCellLeftBorderBrush),
                border(f, QTextFormat::TableCellBottomBorder, QTextFormat::TableCellBottomBorderStyle,
                       QTextFormat::TableCellBottomBorderBrush),
                border(f, QTextFormat::TableCellRightBorder, QTextFormat::TableCellRightBorderStyle,
                       QTextFormat::TableCellRightBorderBrush),
            };
            if (sides[0] == sides[1] && sides[1] == sides[2] && sides[2] == sides[3])
                out += QStringLiteral(" borders ") + sides[0];
            else
                out += QStringLiteral(" top %1 left %2 bottom %3 right %4").arg(sides[0], sides[1], sides[2], sides[3]);
            if (f.background().style() != Qt::NoBrush)
                out += QStringLiteral(" background ") + f.background().color().name();
            if (f.verticalAlignment() == QTextCharFormat::AlignMiddle)
                out += QStringLiteral(" middle");
            else if (f.verticalAlignment() == QTextCharFormat::AlignBottom)
                out += QStringLiteral(" bottom");
            out += QLatin1Char('\n');
        }
}

void describe_frame(const QTextDocument &doc, const QTextFrame *frame, QString &out)
{
    for (QTextFrame *child : frame->childFrames()) {
        if (const auto *t = qobject_cast<const QTextTable *>(child))
            describe_table(doc, *t, out);
        describe_frame(doc, child, out);
    }
}

} // namespace

QString describe_tables(const QTextDocument &doc)
{
    QString out;
    describe_frame(doc, doc.rootFrame(), out);
    return out;
}

} // namespace rtftest
