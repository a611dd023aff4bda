#include "pictures/attachments.h"

#include "platform/dialogs.h"
#include "store/note_store.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>

namespace yunshan {

QString picture_file_filter()
{
    return QStringLiteral("JPEG Image File (*.jpg);;JPEG Image File (*.jpeg);;PNG Image File (*.png)");
}

NewPicture picture_from_file(const QString &path, int thumbnail_width)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw PictureError(QStringLiteral("无法读取文件“%1”：%2").arg(path, file.errorString()));
    NewPicture picture;
    picture.bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw PictureError(QStringLiteral("无法读取文件“%1”：%2").arg(path, file.errorString()));
    picture.decoded = decode_picture(picture.bytes, thumbnail_width);
    if (!picture.decoded.ok())
        throw PictureError(picture.decoded.error);
    return picture;
}

NewPicture picture_from_bitmap(const QImage &bitmap, int thumbnail_width)
{
    NewPicture picture;
    picture.bytes = encode_jpeg(bitmap, kJpegQuality);
    picture.decoded = decode_picture(picture.bytes, thumbnail_width);
    if (!picture.decoded.ok())
        throw PictureError(picture.decoded.error);
    return picture;
}

std::optional<NewPicture> picture_from_clipboard(int thumbnail_width)
{
    const QMimeData *clip = QGuiApplication::clipboard()->mimeData();
    if (!clip || !clip->hasImage())
        return std::nullopt;
    const QImage bitmap = qvariant_cast<QImage>(clip->imageData());
    if (bitmap.isNull())
        return std::nullopt;
    return picture_from_bitmap(bitmap, thumbnail_width);
}

qint64 attach_picture(NoteStore &store, int note_id, int &img_id, const QByteArray &bytes)
{
    const qint64 id = store_picture(store, note_id, bytes);
    img_id = static_cast<int>(id);
    return id;
}

bool require_selected_note(int note_list_row, Dialogs &dialogs)
{
    if (note_list_row >= 0)
        return true;
    dialogs.message(QStringLiteral("请先创建笔记。"));
    return false;
}

namespace {
AddedPicture attach(NoteStore &store, int note_id, int &img_id, const NewPicture &picture)
{
    AddedPicture added;
    added.id = attach_picture(store, note_id, img_id, picture.bytes);
    added.size = picture.decoded.size;
    added.thumbnail = picture.decoded.image;
    return added;
}
} // namespace

std::optional<AddedPicture> add_picture_from_file(NoteStore &store, int note_id, int &img_id, Dialogs &dialogs,
                                                  int note_list_row, int thumbnail_width)
{
    if (!require_selected_note(note_list_row, dialogs))
        return std::nullopt;
    const QString path = dialogs.open_file(QStringLiteral("添加图片"), picture_file_filter(), QString());
    if (path.isEmpty())
        return std::nullopt;
    NewPicture picture;
    try {
        picture = picture_from_file(path, thumbnail_width);
    } catch (const PictureError &e) {
        dialogs.error(e.message());
        return std::nullopt;
    }
    return attach(store, note_id, img_id, picture);
}

std::optional<AddedPicture> add_picture_from_clipboard(NoteStore &store, int note_id, int &img_id, Dialogs &dialogs,
                                                       int note_list_row, int thumbnail_width)
{
    if (!require_selected_note(note_list_row, dialogs))
        return std::nullopt;
    std::optional<NewPicture> picture;
    try {
        picture = picture_from_clipboard(thumbnail_width);
    } catch (const PictureError &e) {
        dialogs.error(e.message());
        return std::nullopt;
    }
    if (!picture)
        return std::nullopt;
    return attach(store, note_id, img_id, *picture);
}

bool confirm_delete_picture(int img_id, Dialogs &dialogs)
{
    if (img_id == -1) {
        dialogs.message(QStringLiteral("请先鼠标点击来选择一个要删除的图片。"));
        return false;
    }
    return dialogs.question_yes_no(QStringLiteral("是否删除当前图片？")) == Dialogs::Answer::Yes;
}

void delete_current_picture(NoteStore &store, int &img_id)
{
    delete_picture_row(store, img_id);
    img_id = -1;
}

} // namespace yunshan
