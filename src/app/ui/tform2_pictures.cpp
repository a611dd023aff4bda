// Pictures: the commands of the picture pane (adding the open note's attached pictures from a
// file or the clipboard, deleting the selected one, reading one for the viewer) and pictures
// placed inside the note's rich text.
#include "app/ui/command_helpers.h"
#include "app/ui/note_list_pane.h"
#include "app/ui/picture_pane.h"
#include "app/ui/tform2.h"
#include "pictures/attachments.h"
#include "pictures/inline_images.h"
#include "pictures/picture_codec.h"
#include "platform/dialogs.h"

#include <QTextCursor>
#include <QTextEdit>

namespace yunshan {

void TForm2::setup_picture_panel()
{
    PicturePane *pane = picture_pane_;
    // The selected picture is the one "删除" takes away.
    connect(pane, &PicturePane::pictureSelected, this, [this](int id) { note.img_id = id; });
    connect(pane, &PicturePane::pictureOpenRequested, this, &TForm2::open_picture);
    connect(pane, &PicturePane::addRequested, this, &TForm2::add_picture_file);
    connect(pane, &PicturePane::pasteRequested, this, &TForm2::paste_picture);
    connect(pane, &PicturePane::deleteRequested, this, &TForm2::delete_selected_picture);
}

void TForm2::open_picture(int id)
{
    QByteArray bytes;
    bool read = false;
    guarded(dialogs_, [&] {
        bytes = picture_bytes(store, id);
        read = true;
    });
    if (read)
        picture_pane_->show_picture(bytes, id);
}

// ---------------------------------------------------------------------------------------------
// Commands

namespace {
// The note-list entry pictures are added to: the selected entry of the open note, -1 for none.
int picture_target_row(const NoteListPane &list, int note_id)
{
    return note_id >= 0 ? list.current_row() : -1;
}
} // namespace

void TForm2::add_picture_file()
{
    if (read_only())
        return;
    guarded(dialogs_, [this] {
        const std::optional<AddedPicture> added =
            add_picture_from_file(store, note.noteId, note.img_id, dialogs_,
                                  picture_target_row(*note_list_pane_, note.noteId), picture_pane_->thumbnail_width());
        if (added)
            picture_pane_->place_thumbnail(static_cast<int>(added->id), added->size, added->thumbnail, {});
    });
}

void TForm2::paste_picture()
{
    if (read_only())
        return;
    guarded(dialogs_, [this] {
        const std::optional<AddedPicture> added = add_picture_from_clipboard(
            store, note.noteId, note.img_id, dialogs_, picture_target_row(*note_list_pane_, note.noteId),
            picture_pane_->thumbnail_width());
        if (added)
            picture_pane_->place_thumbnail(static_cast<int>(added->id), added->size, added->thumbnail, {});
    });
}

void TForm2::delete_selected_picture()
{
    if (read_only())
        return;
    if (!confirm_delete_picture(note.img_id, dialogs_))
        return;
    picture_pane_->remove_thumbnail(note.img_id);
    guarded(dialogs_, [this] { delete_current_picture(store, note.img_id); });
}

// ---------------------------------------------------------------------------------------------
// Pictures inside the text

void TForm2::insert_picture_file()
{
    const QString file = dialogs_.open_file(QStringLiteral("插入图片"), jpeg_file_filter(), QString());
    if (file.isEmpty())
        return;
    try {
        QTextCursor cursor = editor()->textCursor();
        insert_jpeg_file(file, cursor);
        editor()->setTextCursor(cursor);
    } catch (const PictureError &e) {
        dialogs_.error(e.message());
        return;
    }
    mark_rich_text();
    editor()->setFocus();
}

} // namespace yunshan
