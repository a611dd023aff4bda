#pragma once
// Helpers for the RTF tests: fixtures, pictures made on the fly and a flat view of a document's
// runs that tests can compare.
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QString>
#include <QTextDocument>

#include <vector>

namespace rtftest {

QByteArray fixture(const QString &name);
QByteArray image_bytes(const QImage &image, const char *format);
QImage solid_image(int width, int height, QColor colour);

struct TextRun {
    QString text;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    QColor foreground; // invalid = automatic
    qreal size = 0;    // 0 = not set
    QString family;
    QString href;
    bool image = false;
    qreal image_width = 0;
    qreal image_height = 0;
    QImage picture; // the image shown, for image runs
};

// One entry per fragment; a paragraph end is a run with text "\n".
std::vector<TextRun> runs(const QTextDocument &doc);
// The first run whose text contains `text`; fails the test (returns an empty run) if none.
TextRun run_with(const QTextDocument &doc, const QString &text);
std::vector<TextRun> image_runs(const QTextDocument &doc);
// The colour at the centre of a picture.
QColor centre_colour(const QImage &image);

// Same paragraphs, runs and run formats (the attributes TextRun holds), cells' included.
void expect_same_runs(const QTextDocument &a, const QTextDocument &b);

// Every table of the document in document order, as text. A table is one line
// ("table 2x3 widths 127.2 120 120 padding 7.2", widths in pixels, " centre" or " right" when the
// table is aligned so), then one line a cell:
// "[row,col]", " 2x1" when it spans, the paragraphs' text between quotes and separated by "|",
// then its borders ("borders 0.67 solid #000000" when all four are alike, else per side:
// "top ... left none ..."), " background #rrggbb", " middle" or " bottom".
QString describe_tables(const QTextDocument &doc);

} // namespace rtftest
