#include "pictures/inline_images.h"

#include "pictures/picture_codec.h"

#include <QFile>
#include <QTextCursor>

namespace yunshan {

QString jpeg_file_filter()
{
    return QStringLiteral("JPEG Image File (*.jpg);;JPEG Image File (*.jpeg)");
}

QByteArray jpeg_rtf_fragment(const QByteArray &jpeg_bytes)
{
    QByteArray rtf;
    rtf.reserve(jpeg_bytes.size() * 2 + 40);
    rtf.append("{\\rtf1\r\n{\\pict\r\n\\jpegblip ");
    rtf.append(jpeg_bytes.toHex().toUpper());
    rtf.append("\r\n}\r\n}\r\n");
    return rtf;
}

RtfReadResult insert_rtf_at_selection(QTextCursor &cursor, const QByteArray &rtf)
{
    return insert_rtf(cursor, rtf);
}

RtfReadResult insert_jpeg_file(const QString &file_name, QTextCursor &cursor)
{
    QFile file(file_name);
    if (!file.open(QIODevice::ReadOnly))
        throw PictureError(QStringLiteral("无法读取文件“%1”：%2").arg(file_name, file.errorString()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw PictureError(QStringLiteral("无法读取文件“%1”：%2").arg(file_name, file.errorString()));
    return insert_rtf_at_selection(cursor, jpeg_rtf_fragment(bytes));
}

} // namespace yunshan
