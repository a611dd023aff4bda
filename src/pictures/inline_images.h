#pragma once
// Pictures placed inside a note's rich text: a JPEG file becomes an RTF picture group that is
// read into the document at the cursor.
#include "editor/rtf/rtf.h"

#include <QByteArray>
#include <QString>

class QTextCursor;

namespace yunshan {

// The dialog filter of "插入": JPEG files.
QString jpeg_file_filter();

// The five CR LF ended lines "{\rtf1", "{\pict", "\jpegblip " + the bytes as upper-case hex
// digits, "}", "}". No size words: the picture shows at the size its data gives.
QByteArray jpeg_rtf_fragment(const QByteArray &jpeg_bytes);

// Reads the RTF stream into the document at the cursor, replacing the selection (an empty
// selection inserts at the cursor), as one undo step.
RtfReadResult insert_rtf_at_selection(QTextCursor &cursor, const QByteArray &rtf);

// Reads the whole file and inserts it as a JPEG picture at the cursor. Throws PictureError
// with the file system's message when the file cannot be read; nothing is inserted then.
RtfReadResult insert_jpeg_file(const QString &file_name, QTextCursor &cursor);

} // namespace yunshan
