#pragma once
// The picture pane of the main window: the group "图片" with the buttons 添加, 粘贴 and 删除 over
// a scrolling column of thumbnails (at most 100, one slot each), the number label over the
// clicked thumbnail and the picture viewer. It knows nothing of the store or the open note: the
// window reads and writes the pictures and answers the pane's signals.
#include "pictures/thumbnail_slots.h"

#include <QImage>
#include <QPointer>
#include <QWidget>

#include <array>
#include <memory>
#include <vector>

class QGroupBox;
class QLabel;
class QScrollArea;
class QToolButton;

namespace yunshan {

class Dialogs;
class PicturePanelEvents;
struct Thumbnail;
class ThumbnailBatch;
class TPictureView;

class PicturePane : public QWidget {
    Q_OBJECT

  public:
    explicit PicturePane(Dialogs &dialogs, QWidget *parent = nullptr);
    ~PicturePane() override;

    // One thumbnail for picture `id` in the first free slot (none when all 100 are taken).
    void add_thumbnail(const QByteArray &bytes, int id);
    // The thumbnails of an opened note's pictures: start_thumbnails begins decoding `pictures` on
    // a helper thread (before the body is read), add_thumbnails shows them after it, for the
    // pictures' `ids` in the same order. Those in view are shown decoded at once; the others
    // hold a placeholder of their picture's size until the helper has decoded them (shown as the
    // event loop runs) or they are scrolled into view (decoded then).
    void start_thumbnails(const QList<QByteArray> &pictures);
    void add_thumbnails(const QList<int> &ids);
    // How many thumbnails of the opened note still show a placeholder.
    int pending_thumbnails() const;
    // Decodes now, on this thread, whatever thumbnails still show a placeholder.
    void finish_thumbnails();
    // Shows a thumbnail for picture `id` (of `size`, decoded as `image`; a null image shows the
    // stand-in with `error` as its hint) in the first free slot; false when all are taken. The
    // new picture becomes the selected one.
    bool place_thumbnail(int id, QSize size, const QImage &image, const QString &error);
    // Releases every thumbnail; no picture is selected afterwards.
    void clear();
    // Takes the thumbnail of picture `id` away (its slot stays a gap); false when none shows it.
    bool remove_thumbnail(int id);
    // The thumbnail in slot `slot` (0-based), null when the slot is empty or out of range.
    QWidget *thumbnail(int slot) const;
    // How many slots hold a thumbnail.
    int thumbnail_count() const;
    // The width thumbnails are made for: the width of the panel's visible area.
    int thumbnail_width() const;
    // Shows picture `id` from its stored `bytes` in the viewer (made on first use), modally.
    void show_picture(const QByteArray &bytes, int id);
    // The viewer, null until the first picture was shown.
    TPictureView *picture_view() const;
    // The group of the three picture buttons (read-only mode disables it).
    QGroupBox *button_group() const { return GroupBox7; }

  Q_SIGNALS:
    // The selected picture changed: a thumbnail was clicked or placed (its id), or the thumbnails
    // were cleared (-1).
    void pictureSelected(int id);
    // A thumbnail was double-clicked (or opened from the keyboard): show picture `id`.
    void pictureOpenRequested(int id);
    // The buttons 添加, 粘贴 and 删除.
    void addRequested();
    void pasteRequested();
    void deleteRequested();

  public Q_SLOTS:
    // A click on the thumbnail in slot `slot` (0-based) selects its picture and shows the slot's
    // number on it; a double click asks for the picture to be opened in the viewer.
    void Image1Click(int slot);
    void Image1DblClick(int slot);
    // One wheel step over the panel scrolls it one line.
    void ScrollBox1MouseWheelDown();
    void ScrollBox1MouseWheelUp();
    // The panel's width changed: the thumbnails follow it.
    void ScrollBox1Resize();

  private:
    friend class PicturePanelEvents;
    // Puts each thumbnail widget where `imagelist` says.
    void lay_out_thumbnails();
    // A thumbnail widget (a spare one when there is one) for picture `id` in slot `slot`, shown at
    // once; `lay_out`: every thumbnail is put in place again (else only this one; the caller lays
    // out the others).
    QLabel *new_thumbnail(int id, int slot, bool lay_out = true);
    // Shows `image` (null: the stand-in with `error` as its hint) in the thumbnail of slot `slot`.
    void show_thumbnail(QLabel *thumb, int slot, const QImage &image, const QString &error);
    // Puts the decoded `t` of the opened note's picture `index` in place of its placeholder.
    void fill_thumbnail(qsizetype index, const Thumbnail &t);
    // Decodes the placeholders in view.
    void fill_visible_thumbnails();
    // Shows what the helper of batch `generation` has finished.
    void collect_thumbnails(quint64 generation);
    // Forgets the placeholders of the opened note; the helper stops after its current picture.
    void drop_shown_batch();

    Dialogs &dialogs_;
    QGroupBox *GroupBox5 = nullptr;      // 图片
    QGroupBox *GroupBox7 = nullptr;      // picture button group
    QToolButton *SpeedButton4 = nullptr; // 添加
    QToolButton *SpeedButton6 = nullptr; // 粘贴
    QToolButton *SpeedButton5 = nullptr; // 删除
    QScrollArea *ScrollBox1 = nullptr;
    QWidget *ScrollBoxContent = nullptr;  // the thumbnails' parent inside ScrollBox1
    QLabel *LabelPictureNumber = nullptr; // number label over the clicked thumbnail
    // Picture thumbnails, one slot each (null: empty); children of ScrollBoxContent.
    std::array<QWidget *, ThumbnailSlots::kSlots> thumbnail_slots{};
    // Hidden thumbnail labels of earlier notes, for the next ones (children of ScrollBoxContent).
    std::vector<QLabel *> spare_thumbnails_;
    // Where each slot's thumbnail lies and which picture it shows.
    ThumbnailSlots imagelist;
    // The picture viewer, made on the first double click on a thumbnail.
    QPointer<TPictureView> picture_view_;
    // Clicks on thumbnails, wheel steps and size changes of the panel.
    std::unique_ptr<QObject> picture_panel_events_;
    // The thumbnails being decoded for the note being opened, until add_thumbnails shows them.
    std::unique_ptr<ThumbnailBatch> thumbnail_batch_;
    quint64 thumbnail_generation_ = 0; // of thumbnail_batch_
    // The batch of the opened note while some of its thumbnails show a placeholder: the
    // placeholder of each picture (null once decoded, or when it has no thumbnail). Kept until the
    // next opening, so that no opening waits for the helper to finish a picture it no longer needs.
    std::unique_ptr<ThumbnailBatch> shown_batch_;
    quint64 shown_generation_ = 0; // of shown_batch_; 0: none
    std::vector<QPointer<QLabel>> placeholders_;
    quint64 last_generation_ = 0;
};

} // namespace yunshan
