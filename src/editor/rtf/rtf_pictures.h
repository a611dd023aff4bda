#pragma once
// Pictures of rich-text bodies: decoding of the bitmap forms found in RTF and the document
// resources that keep a picture's bytes for saving. Internal to the RTF reader and writer.
#include <QByteArray>
#include <QImage>
#include <QString>
#include <QTextImageFormat>

class QTextDocument;

namespace yunshan::rtf_detail {

// A picture as it appears in RTF.
struct PictureData {
    QString kind;     // "png", "jpeg", "dibitmap", "wmetafile", "emfblip", "wbitmap", ...
    QByteArray bytes; // the picture data (hex already decoded)
    int picw = 0;     // \picw / \pich: pixels for bitmaps, HIMETRIC for metafiles
    int pich = 0;
    int goal_w = 0; // \picwgoal / \pichgoal in twips, 0 = not given
    int goal_h = 0;
    int scale_x = 100; // \picscalex / \picscaley in percent
    int scale_y = 100;
    int mode = 8; // \wmetafileN mapping mode
};

// A DIB (BITMAPINFOHEADER or BITMAPCOREHEADER, colour table, bits) as an image; null when invalid.
QImage decode_dib(const QByteArray &dib);
// The bitmap carried by a Windows metafile in a StretchDIBits, DIBStretchBlt or DIBBitBlt
// record; null when the metafile has none (a vector drawing).
QImage decode_wmf_bitmap(const QByteArray &wmf);
// A visible stand-in for a picture that cannot be shown: grey box with a frame and a cross.
QImage placeholder_image(int width, int height);

struct StoredPicture {
    QTextImageFormat format;
    bool placeholder = false;
};
// Decodes the picture, adds its resources to `doc` and returns the format to insert.
StoredPicture store_picture(QTextDocument &doc, PictureData picture);

// What the writer puts into a \pict group for the image format `format` of `doc`. An image that
// cannot be found is written as a placeholder of its size.
bool picture_for_writing(const QTextDocument &doc, const QTextImageFormat &format, PictureData *out);

} // namespace yunshan::rtf_detail
