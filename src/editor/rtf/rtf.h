#pragma once
// Rich-text bodies: RTF bytes <-> QTextDocument.
//
// The reader accepts what the Windows rich-text control, WordPad, Word and LibreOffice write:
// GBK text as \'hh byte pairs under \fcharset134 fonts (also with \\ \{ \} or a raw ASCII
// character as the trail byte), \uN escapes with \ucN fallbacks, font and colour tables,
// hyperlink fields, pictures and tables (\trowd ... \cell ... \row, read into QTextTables with their
// cell widths, borders and merged cells; a table inside a cell becomes text of that cell). It never
// throws: damaged input yields what could be read plus warnings for the user.
//
// Pictures live in the document as resources:
//   - image resource "yunshan-image:<sha1>"      : the QImage shown by the editor
//   - user resource  "yunshan-image-data:<sha1>" : a QVariantMap {kind, bytes, picw, pich}
//     with the bytes the picture came with (kind "png", "jpeg", or for pictures that cannot be
//     shown the original kind such as "emfblip" or "wmetafile8"), so saving keeps them as they
//     were. Bitmaps inside metafiles and device-independent bitmaps are kept as PNG.
// Images the editor adds by other means (a QImage resource of any name) are written as PNG.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTextFormat>

class QTextCursor;
class QTextDocument;

namespace yunshan {

struct RtfReadResult {
    // False when the input did not start like RTF; its bytes were then shown as plain text.
    bool was_rtf = true;
    // Messages for the user, one line each, about what could not be read as written
    // (missing braces, cut-off data, pictures shown as placeholders, ...). Empty when all is well.
    QStringList warnings;
    int pictures = 0;     // pictures inserted, placeholders included
    int placeholders = 0; // pictures that could not be decoded and show a placeholder
};

// Replaces the content of `doc` with the RTF body `rtf`. The undo history of `doc` is cleared.
RtfReadResult read_rtf(const QByteArray &rtf, QTextDocument &doc);

// Inserts an RTF fragment at the cursor, replacing its selection, as one undo step.
// An empty selection means: insert at the cursor.
RtfReadResult insert_rtf(QTextCursor &cursor, const QByteArray &rtf_fragment);

// The document as RTF in the form the Windows rich-text control reads: code page 936 header,
// GBK font names, \uN text with GBK \'hh fallbacks, pictures as \pngblip / \jpegblip, tables as
// rows (\trowd, cell borders and \cellx widths, merged cells flagged \clmgf/\clmrg and
// \clvmgf/\clvmrg; tables inside cells as paragraphs of the cell).
// The font table's \f0 (\deff0) is the note's own default font: the document's default family, or
// 宋体 when it has none or only the program's interface font. Every font change also names the
// font of double-byte text (\hich\afN\dbch\afM\loch\fN, M a \fcharset134 font), so that word
// processors show Chinese text in a Chinese font.
QByteArray write_rtf(const QTextDocument &doc);

// The plain-text copy stored beside a body for searching: FF FE, then the text in UTF-16LE with
// CR LF line ends. Pictures do not appear in it; a table row is a line, its cells separated by tabs.
QByteArray plain_text_copy(const QTextDocument &doc);

// Adds a PNG or JPEG picture to `doc` as resources (kept byte for byte for saving) and returns
// the image format to insert; its size is the picture's own size at 96 DPI. For bytes that are not
// a readable PNG or JPEG the format shows a placeholder and the bytes are kept as they are.
QTextImageFormat add_picture(QTextDocument &doc, const QByteArray &png_or_jpeg);

} // namespace yunshan
