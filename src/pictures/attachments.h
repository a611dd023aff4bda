#pragma once
// Pictures attached to a note: rows of table `picture` (id, articleId, img), written to the main
// database and mirrored to the backup database.
#include "pictures/picture_codec.h"
#include "store/picture_rows.h"

#include <QByteArray>
#include <QImage>

#include <optional>

namespace yunshan {

class Dialogs;
class NoteStore;

// The add dialog's filter: the JPEG choices first, then PNG.
QString picture_file_filter();

// A picture about to be attached: its bytes as they will be stored and the image decoded from
// them for the thumbnail.
struct NewPicture {
    QByteArray bytes;
    DecodedPicture decoded;
};

// The bytes of a picture file, unchanged, decoded for the thumbnail. Throws PictureError when the
// file cannot be read or its bytes cannot be shown; nothing is stored then.
NewPicture picture_from_file(const QString &path, int thumbnail_width = 0);

// A clipboard bitmap as JPEG file bytes at quality 85. Throws PictureError for a null image.
NewPicture picture_from_bitmap(const QImage &bitmap, int thumbnail_width = 0);

// The clipboard's bitmap as a new picture (JPEG, quality 85); nullopt when the clipboard holds
// no bitmap (text only, nothing).
std::optional<NewPicture> picture_from_clipboard(int thumbnail_width = 0);

// Attaches a picture to note `note_id`: stores it, makes it the current picture (`img_id`) and
// marks the run's data as changed. Returns the new id. Throws DbError.
qint64 attach_picture(NoteStore &store, int note_id, int &img_id, const QByteArray &bytes);

// Pictures are added to the note selected in the note list: without a selected entry
// (`note_list_row` < 0) the message "请先创建笔记。" and false.
bool require_selected_note(int note_list_row, Dialogs &dialogs);

// A picture just attached: its new id, its own size and the image for its thumbnail.
struct AddedPicture {
    qint64 id = -1;
    QSize size;
    QImage thumbnail;
};

// "添加" / "添加图片": the selected-note check, the open-file dialog (JPEG and PNG), the file's
// bytes stored unchanged. A file that cannot be read or shown gives an error box and stores
// nothing. nullopt when nothing was added. Throws DbError from the store.
std::optional<AddedPicture> add_picture_from_file(NoteStore &store, int note_id, int &img_id, Dialogs &dialogs,
                                                  int note_list_row, int thumbnail_width);

// "粘贴" / "粘贴图片": the selected-note check; the clipboard's bitmap stored as JPEG (quality 85);
// without a bitmap on the clipboard nothing happens and nothing is shown. Throws DbError.
std::optional<AddedPicture> add_picture_from_clipboard(NoteStore &store, int note_id, int &img_id, Dialogs &dialogs,
                                                       int note_list_row, int thumbnail_width);

// "删除" on the picture panel, first step: without a current picture the message
// "请先鼠标点击来选择一个要删除的图片。" and false; otherwise the question "是否删除当前图片？",
// true on Yes. The caller then removes the thumbnail carrying `img_id` and calls
// delete_current_picture.
bool confirm_delete_picture(int img_id, Dialogs &dialogs);

// Second step: deletes the current picture's row from both databases; `img_id` becomes -1 and
// the run's data changed. Throws DbError (`img_id` is then kept).
void delete_current_picture(NoteStore &store, int &img_id);

} // namespace yunshan
