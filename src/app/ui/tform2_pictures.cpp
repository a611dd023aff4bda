// Pictures: pictures placed inside the note's rich text.
#include "app/ui/tform2.h"

#include "pictures/inline_images.h"
#include "pictures/picture_codec.h"
#include "platform/dialogs.h"

#include <QTextCursor>
#include <QTextEdit>

namespace yunshan {

void TForm2::SpeedButton11Click()
{
    const QString file = dialogs_.open_file(QStringLiteral("插入图片"), jpeg_file_filter(), QString());
    if (file.isEmpty())
        return;
    try {
        QTextCursor cursor = RichEdit1->textCursor();
        insert_jpeg_file(file, cursor);
        RichEdit1->setTextCursor(cursor);
    } catch (const PictureError &e) {
        dialogs_.error(e.message());
        return;
    }
    mark_rich_text();
    RichEdit1->setFocus();
}

} // namespace yunshan
