// Pictures: the picture panel with the thumbnails of the open note's attached pictures (adding
// from a file or the clipboard, selecting, deleting, opening in the viewer) and pictures placed
// inside the note's rich text.
#include "app/ui/application_setup.h"
#include "app/ui/command_helpers.h"
#include "app/ui/tform2.h"

#include "pictures/attachments.h"
#include "pictures/inline_images.h"
#include "pictures/picture_codec.h"
#include "pictures/thumbnail.h"
#include "pictures/ui/tpictureview.h"
#include "platform/dialogs.h"
#include "store/picture_rows.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextEdit>
#include <QWheelEvent>

#include <exception>

namespace yunshan {

namespace {

// The slot (0-based) a thumbnail widget sits in.
constexpr char kSlotProperty[] = "thumbnail_slot";

// Clicks and double clicks on thumbnails; wheel steps and size changes of the panel.
class PicturePanelEvents : public QObject {
  public:
    explicit PicturePanelEvents(TForm2 &form) : form_(form) {}

  protected:
    bool eventFilter(QObject *watched, QEvent *e) override
    {
        const bool viewport = watched == form_.ScrollBox1->viewport();
        const QVariant slot = viewport ? QVariant() : watched->property(kSlotProperty);
        if (e->type() == QEvent::Wheel && (viewport || slot.isValid())) {
            wheel_rest_ += static_cast<QWheelEvent *>(e)->angleDelta().y();
            for (; wheel_rest_ >= QWheelEvent::DefaultDeltasPerStep; wheel_rest_ -= QWheelEvent::DefaultDeltasPerStep)
                form_.ScrollBox1MouseWheelUp();
            for (; wheel_rest_ <= -QWheelEvent::DefaultDeltasPerStep; wheel_rest_ += QWheelEvent::DefaultDeltasPerStep)
                form_.ScrollBox1MouseWheelDown();
            return true;
        }
        if (viewport) {
            if (e->type() == QEvent::Resize)
                form_.ScrollBox1Resize();
            return false;
        }
        if (!slot.isValid())
            return false;
        // From the keyboard: Tab onto a thumbnail selects its picture, Enter or Space opens it.
        if (e->type() == QEvent::FocusIn) {
            const Qt::FocusReason reason = static_cast<QFocusEvent *>(e)->reason();
            if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason) {
                form_.ScrollBox1->ensureWidgetVisible(static_cast<QWidget *>(watched), 0, 0);
                form_.Image1Click(slot.toInt());
            }
            return false;
        }
        if (e->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent *>(e)->key();
            if (key != Qt::Key_Return && key != Qt::Key_Enter && key != Qt::Key_Space)
                return false;
            form_.Image1Click(slot.toInt());
            form_.Image1DblClick(slot.toInt());
            return true;
        }
        if (e->type() != QEvent::MouseButtonPress && e->type() != QEvent::MouseButtonDblClick)
            return false;
        if (static_cast<QMouseEvent *>(e)->button() != Qt::LeftButton)
            return false;
        if (e->type() == QEvent::MouseButtonPress)
            form_.Image1Click(slot.toInt());
        else
            form_.Image1DblClick(slot.toInt());
        return true;
    }

  private:
    TForm2 &form_;
    int wheel_rest_ = 0;
};

} // namespace

void TForm2::setup_picture_panel()
{
    // The thumbnails' width follows the panel, and their heights with it; a scroll bar that came
    // and went with the content's height would change the width again.
    ScrollBox1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    ScrollBox1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    LabelPictureNumber = new QLabel(ScrollBoxContent);
    LabelPictureNumber->setObjectName(QStringLiteral("LabelPictureNumber"));
    QFont font(ui_font_family());
    font.setPixelSize(13);
    LabelPictureNumber->setFont(font);
    QPalette palette = LabelPictureNumber->palette();
    palette.setColor(QPalette::WindowText, QColor(0xA5, 0x2A, 0x2A));
    LabelPictureNumber->setPalette(palette);
    LabelPictureNumber->setAutoFillBackground(true);
    // Clicks on the number go to the thumbnail below it.
    LabelPictureNumber->setAttribute(Qt::WA_TransparentForMouseEvents);
    LabelPictureNumber->setProperty(kSlotProperty, QVariant());
    LabelPictureNumber->hide();

    picture_panel_events_ = std::make_unique<PicturePanelEvents>(*this);
    ScrollBox1->viewport()->installEventFilter(picture_panel_events_.get());
}

// ---------------------------------------------------------------------------------------------
// Thumbnails

namespace {
int panel_width(const QScrollArea *box)
{
    return qMax(1, box->viewport()->width());
}
} // namespace

bool TForm2::place_thumbnail(int id, QSize size, const QImage &image, const QString &error)
{
    const int width = panel_width(ScrollBox1);
    const int slot = imagelist.add(id, image.isNull() ? QSize() : size, width);
    if (slot < 0)
        return false; // all 100 slots taken: the picture stays stored, without a thumbnail
    auto *thumb = new QLabel(ScrollBoxContent);
    thumb->setObjectName(QStringLiteral("Image%1").arg(slot + 1));
    thumb->setAccessibleName(QStringLiteral("图片%1").arg(slot + 1));
    thumb->setProperty("picture_id", id);
    thumb->setProperty(kSlotProperty, slot);
    thumb->setAccessibleDescription(QStringLiteral("按回车键打开图片"));
    // Reachable with Tab like the other controls; the frame shows which one has the focus.
    thumb->setFocusPolicy(Qt::StrongFocus);
    thumb->setStyleSheet(QStringLiteral("QLabel:focus { border: 2px solid palette(highlight); }"));
    if (image.isNull()) {
        // Bytes the loader cannot show stay stored; the slot says so, the hint says why.
        thumb->setText(QStringLiteral("无法显示的图片"));
        thumb->setToolTip(error);
        thumb->setAlignment(Qt::AlignCenter);
        thumb->setFrameStyle(QFrame::Box);
    } else {
        // Kept no wider than the panel: the label stretches it, and a full-size picture per
        // thumbnail would cost memory and time at every paint.
        const int height = imagelist.slot(slot).height;
        const QImage shown = image.width() > width && height > 0
                                 ? image.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                 : image;
        thumb->setScaledContents(true);
        thumb->setPixmap(QPixmap::fromImage(shown));
    }
    thumb->installEventFilter(picture_panel_events_.get());
    thumbnail_slots[static_cast<size_t>(slot)] = thumb;
    note.img_id = id;
    lay_out_thumbnails();
    thumb->show();
    return true;
}

void TForm2::add_thumbnail(const QByteArray &bytes, int id)
{
    const Thumbnail t = decode_thumbnail(bytes, panel_width(ScrollBox1));
    place_thumbnail(id, t.original, t.image, t.error);
}

void TForm2::start_thumbnails(const QList<StoredPicture> &pictures)
{
    thumbnail_batch_.reset();
    QList<QByteArray> bytes;
    bytes.reserve(pictures.size());
    for (const StoredPicture &p : pictures)
        bytes.append(p.bytes);
    thumbnail_batch_ = std::make_unique<ThumbnailBatch>(std::move(bytes), panel_width(ScrollBox1));
}

void TForm2::add_thumbnails(const QList<StoredPicture> &pictures)
{
    const std::vector<Thumbnail> thumbnails = thumbnail_batch_->take();
    for (qsizetype i = 0; i < pictures.size(); ++i) {
        const Thumbnail &t = thumbnails[static_cast<size_t>(i)];
        place_thumbnail(static_cast<int>(pictures.at(i).id), t.original, t.image, t.error);
    }
}

void TForm2::clear_thumbnails()
{
    for (QWidget *&t : thumbnail_slots) {
        delete t;
        t = nullptr;
    }
    imagelist.clear();
    note.img_id = -1;
    if (LabelPictureNumber)
        LabelPictureNumber->hide();
    lay_out_thumbnails();
}

void TForm2::lay_out_thumbnails()
{
    const int width = panel_width(ScrollBox1);
    for (size_t i = 0; i < thumbnail_slots.size(); ++i) {
        QWidget *t = thumbnail_slots[i];
        if (!t)
            continue;
        const ThumbnailSlots::Slot &s = imagelist.slot(static_cast<int>(i));
        t->setGeometry(0, s.top, width, s.height);
    }
    ScrollBoxContent->setMinimumHeight(imagelist.content_height());
    if (LabelPictureNumber && LabelPictureNumber->isVisible()) {
        const int slot = LabelPictureNumber->property(kSlotProperty).toInt();
        LabelPictureNumber->move(0, imagelist.slot(slot).top);
        LabelPictureNumber->raise();
    }
}

void TForm2::ScrollBox1Resize()
{
    imagelist.rescale(panel_width(ScrollBox1));
    lay_out_thumbnails();
}

void TForm2::ScrollBox1MouseWheelDown()
{
    QScrollBar *bar = ScrollBox1->verticalScrollBar();
    bar->setValue(bar->value() + bar->singleStep());
}

void TForm2::ScrollBox1MouseWheelUp()
{
    QScrollBar *bar = ScrollBox1->verticalScrollBar();
    bar->setValue(bar->value() - bar->singleStep());
}

void TForm2::Image1Click(int slot)
{
    if (slot < 0 || slot >= ThumbnailSlots::kSlots || !thumbnail_slots[static_cast<size_t>(slot)])
        return;
    const qint64 id = imagelist.slot(slot).id;
    note.img_id = static_cast<int>(id);
    const int first = imagelist.find(id);
    if (first < 0)
        return;
    LabelPictureNumber->setText(QString::number(first + 1));
    LabelPictureNumber->setAccessibleName(QStringLiteral("选中的图片：%1").arg(first + 1));
    LabelPictureNumber->adjustSize();
    LabelPictureNumber->setProperty(kSlotProperty, first);
    LabelPictureNumber->move(0, imagelist.slot(first).top);
    LabelPictureNumber->show();
    LabelPictureNumber->raise();
}

void TForm2::Image1DblClick(int slot)
{
    if (slot < 0 || slot >= ThumbnailSlots::kSlots || !thumbnail_slots[static_cast<size_t>(slot)])
        return;
    const qint64 id = imagelist.slot(slot).id;
    QByteArray bytes;
    bool read = false;
    guarded(dialogs_, [&] {
        bytes = picture_bytes(store, id);
        read = true;
    });
    if (!read)
        return;
    if (!picture_view)
        picture_view = new TPictureView(dialogs_, this);
    picture_view->set_is_write(true);
    // Bytes that cannot be decoded give the decoder's message instead of the window.
    picture_view->open_picture(bytes, static_cast<int>(id));
}

// ---------------------------------------------------------------------------------------------
// Commands

namespace {
// The note-list entry pictures are added to: the selected entry of the open note, -1 for none.
int picture_target_row(const QListWidget *list, int note_id)
{
    return note_id >= 0 ? list->currentRow() : -1;
}
} // namespace

void TForm2::SpeedButton4Click()
{
    if (read_only())
        return;
    guarded(dialogs_, [this] {
        const std::optional<AddedPicture> added =
            add_picture_from_file(store, note.noteId, note.img_id, dialogs_, picture_target_row(ListBox3, note.noteId),
                                  panel_width(ScrollBox1));
        if (added)
            place_thumbnail(static_cast<int>(added->id), added->size, added->thumbnail, {});
    });
}

void TForm2::SpeedButton6Click()
{
    if (read_only())
        return;
    guarded(dialogs_, [this] {
        const std::optional<AddedPicture> added =
            add_picture_from_clipboard(store, note.noteId, note.img_id, dialogs_,
                                       picture_target_row(ListBox3, note.noteId), panel_width(ScrollBox1));
        if (added)
            place_thumbnail(static_cast<int>(added->id), added->size, added->thumbnail, {});
    });
}

void TForm2::SpeedButton5Click()
{
    if (read_only())
        return;
    if (!confirm_delete_picture(note.img_id, dialogs_))
        return;
    const int slot = imagelist.remove(note.img_id);
    if (slot >= 0) {
        delete thumbnail_slots[static_cast<size_t>(slot)];
        thumbnail_slots[static_cast<size_t>(slot)] = nullptr;
        if (LabelPictureNumber->isVisible() && LabelPictureNumber->property(kSlotProperty).toInt() == slot)
            LabelPictureNumber->hide();
        lay_out_thumbnails();
    }
    guarded(dialogs_, [this] { delete_current_picture(store, note.img_id); });
}

// ---------------------------------------------------------------------------------------------
// Pictures inside the text

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
