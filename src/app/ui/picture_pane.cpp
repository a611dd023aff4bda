#include "app/ui/picture_pane.h"

#include "app/ui/application_setup.h"
#include "app/ui/command_button.h"
#include "pictures/picture_codec.h"
#include "pictures/thumbnail.h"
#include "pictures/ui/tpictureview.h"

#include <QFocusEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <optional>
#include <utility>

namespace yunshan {

namespace {

constexpr int kPictureGroupHeight = 56;

// The slot (0-based) a thumbnail widget sits in.
constexpr char kSlotProperty[] = "thumbnail_slot";

QVBoxLayout *tight_column(QWidget *w, int margin)
{
    auto *v = new QVBoxLayout(w);
    v->setContentsMargins(margin, margin, margin, margin);
    v->setSpacing(2);
    return v;
}

} // namespace

// Clicks and double clicks on thumbnails; wheel steps and size changes of the panel.
class PicturePanelEvents : public QObject {
  public:
    explicit PicturePanelEvents(PicturePane &pane) : pane_(pane) {}

  protected:
    bool eventFilter(QObject *watched, QEvent *e) override
    {
        const bool viewport = watched == pane_.ScrollBox1->viewport();
        const QVariant slot = viewport ? QVariant() : watched->property(kSlotProperty);
        if (e->type() == QEvent::Wheel && (viewport || slot.isValid())) {
            wheel_rest_ += static_cast<QWheelEvent *>(e)->angleDelta().y();
            for (; wheel_rest_ >= QWheelEvent::DefaultDeltasPerStep; wheel_rest_ -= QWheelEvent::DefaultDeltasPerStep)
                pane_.ScrollBox1MouseWheelUp();
            for (; wheel_rest_ <= -QWheelEvent::DefaultDeltasPerStep; wheel_rest_ += QWheelEvent::DefaultDeltasPerStep)
                pane_.ScrollBox1MouseWheelDown();
            return true;
        }
        if (viewport) {
            if (e->type() == QEvent::Resize)
                pane_.ScrollBox1Resize();
            return false;
        }
        if (!slot.isValid())
            return false;
        // From the keyboard: Tab onto a thumbnail selects its picture, Enter or Space opens it.
        if (e->type() == QEvent::FocusIn) {
            const Qt::FocusReason reason = static_cast<QFocusEvent *>(e)->reason();
            if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason) {
                pane_.ScrollBox1->ensureWidgetVisible(static_cast<QWidget *>(watched), 0, 0);
                pane_.Image1Click(slot.toInt());
            }
            return false;
        }
        if (e->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent *>(e)->key();
            if (key != Qt::Key_Return && key != Qt::Key_Enter && key != Qt::Key_Space)
                return false;
            pane_.Image1Click(slot.toInt());
            pane_.Image1DblClick(slot.toInt());
            return true;
        }
        if (e->type() != QEvent::MouseButtonPress && e->type() != QEvent::MouseButtonDblClick)
            return false;
        if (static_cast<QMouseEvent *>(e)->button() != Qt::LeftButton)
            return false;
        if (e->type() == QEvent::MouseButtonPress)
            pane_.Image1Click(slot.toInt());
        else
            pane_.Image1DblClick(slot.toInt());
        return true;
    }

  private:
    PicturePane &pane_;
    int wheel_rest_ = 0;
};

PicturePane::PicturePane(Dialogs &dialogs, QWidget *parent) : QWidget(parent), dialogs_(dialogs)
{
    setObjectName(QStringLiteral("PicturePane"));
    auto *outer = tight_column(this, 0);

    // 图片: button group over the thumbnails.
    GroupBox5 = new QGroupBox(QStringLiteral("图片"), this);
    GroupBox5->setObjectName(QStringLiteral("GroupBox5"));
    GroupBox5->setAccessibleName(QStringLiteral("图片"));
    outer->addWidget(GroupBox5);
    // The pane may be narrower than its buttons need (they are then cut off at the right).
    GroupBox5->setMinimumWidth(1);
    auto *col5 = tight_column(GroupBox5, 2);
    GroupBox7 = new QGroupBox(GroupBox5);
    GroupBox7->setObjectName(QStringLiteral("GroupBox7"));
    GroupBox7->setAccessibleName(QStringLiteral("图片按钮"));
    GroupBox7->setFixedHeight(kPictureGroupHeight);
    auto *pic_row = new QHBoxLayout(GroupBox7);
    pic_row->setContentsMargins(4, 2, 4, 2);
    SpeedButton4 = make_command_button(GroupBox7, "SpeedButton4", QStringLiteral("添加"),
                                       QStringLiteral("从本机添加一个图片到笔记附件"));
    SpeedButton6 = make_command_button(GroupBox7, "SpeedButton6", QStringLiteral("粘贴"),
                                       QStringLiteral("从截屏或剪贴板直接添加图片到笔记附件"));
    SpeedButton5 =
        make_command_button(GroupBox7, "SpeedButton5", QStringLiteral("删除"), QStringLiteral("删除当前点选的图片"));
    connect(SpeedButton4, &QToolButton::clicked, this, &PicturePane::addRequested);
    connect(SpeedButton6, &QToolButton::clicked, this, &PicturePane::pasteRequested);
    connect(SpeedButton5, &QToolButton::clicked, this, &PicturePane::deleteRequested);
    for (QToolButton *b : {SpeedButton4, SpeedButton6, SpeedButton5})
        pic_row->addWidget(b);
    pic_row->addStretch(1);
    col5->addWidget(GroupBox7);

    ScrollBox1 = new QScrollArea(GroupBox5);
    ScrollBox1->setObjectName(QStringLiteral("ScrollBox1"));
    ScrollBox1->setAccessibleName(QStringLiteral("图片"));
    ScrollBox1->setWidgetResizable(true);
    ScrollBoxContent = new QWidget;
    ScrollBoxContent->setObjectName(QStringLiteral("ScrollBoxContent"));
    ScrollBox1->setWidget(ScrollBoxContent);
    col5->addWidget(ScrollBox1, 1);
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
    // A placeholder scrolled into view is decoded then.
    connect(ScrollBox1->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { fill_visible_thumbnails(); });
}

PicturePane::~PicturePane()
{
    // The helpers call back into the pane until they have stopped.
    thumbnail_batch_.reset();
    shown_batch_.reset();
}

// ---------------------------------------------------------------------------------------------
// Thumbnails

int PicturePane::thumbnail_width() const
{
    return qMax(1, ScrollBox1->viewport()->width());
}

QWidget *PicturePane::thumbnail(int slot) const
{
    if (slot < 0 || slot >= ThumbnailSlots::kSlots)
        return nullptr;
    return thumbnail_slots[static_cast<size_t>(slot)];
}

int PicturePane::thumbnail_count() const
{
    int n = 0;
    for (const QWidget *t : thumbnail_slots)
        n += t != nullptr;
    return n;
}

QLabel *PicturePane::new_thumbnail(int id, int slot, bool lay_out)
{
    QLabel *thumb = nullptr;
    if (spare_thumbnails_.empty()) {
        thumb = new QLabel(ScrollBoxContent);
        thumb->setAccessibleDescription(QStringLiteral("按回车键打开图片"));
        // Reachable with Tab like the other controls; the frame shows which one has the focus.
        thumb->setFocusPolicy(Qt::StrongFocus);
        thumb->setStyleSheet(QStringLiteral("QLabel:focus { border: 2px solid palette(highlight); }"));
        thumb->installEventFilter(picture_panel_events_.get());
    } else {
        // One the previous note showed, back as a new label would start.
        thumb = spare_thumbnails_.back();
        spare_thumbnails_.pop_back();
        thumb->clear();
        thumb->setToolTip(QString());
        thumb->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        thumb->setFrameStyle(QFrame::NoFrame);
        thumb->setScaledContents(false);
    }
    thumb->setObjectName(QStringLiteral("Image%1").arg(slot + 1));
    thumb->setAccessibleName(QStringLiteral("图片%1").arg(slot + 1));
    thumb->setProperty("picture_id", id);
    thumb->setProperty(kSlotProperty, slot);
    thumbnail_slots[static_cast<size_t>(slot)] = thumb;
    Q_EMIT pictureSelected(id);
    if (lay_out) {
        lay_out_thumbnails();
    } else {
        const ThumbnailSlots::Slot &s = imagelist.slot(slot);
        thumb->setGeometry(0, s.top, thumbnail_width(), s.height);
    }
    thumb->show();
    return thumb;
}

void PicturePane::show_thumbnail(QLabel *thumb, int slot, const QImage &image, const QString &error)
{
    if (image.isNull()) {
        // Bytes the loader cannot show stay stored; the slot says so, the hint says why.
        thumb->setText(QStringLiteral("无法显示的图片"));
        thumb->setToolTip(error);
        thumb->setAlignment(Qt::AlignCenter);
        thumb->setFrameStyle(QFrame::Box);
        return;
    }
    // Kept no wider than the panel: the label stretches it, and a full-size picture per
    // thumbnail would cost memory and time at every paint.
    const int width = thumbnail_width();
    const int height = imagelist.slot(slot).height;
    const QImage shown = image.width() > width && height > 0
                             ? image.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                             : image;
    thumb->setFrameStyle(QFrame::NoFrame);
    thumb->setScaledContents(true);
    thumb->setPixmap(QPixmap::fromImage(shown));
}

bool PicturePane::place_thumbnail(int id, QSize size, const QImage &image, const QString &error)
{
    const int slot = imagelist.add(id, image.isNull() ? QSize() : size, thumbnail_width());
    if (slot < 0)
        return false; // all 100 slots taken: the picture stays stored, without a thumbnail
    QLabel *thumb = new_thumbnail(id, slot);
    show_thumbnail(thumb, slot, image, error);
    return true;
}

void PicturePane::add_thumbnail(const QByteArray &bytes, int id)
{
    const Thumbnail t = decode_thumbnail(bytes, thumbnail_width());
    place_thumbnail(id, t.original, t.image, t.error);
}

void PicturePane::start_thumbnails(const QList<QByteArray> &pictures)
{
    // The opened note's pictures are no longer needed beyond what is decoded already.
    if (shown_batch_)
        shown_batch_->stop();
    thumbnail_batch_.reset();
    const quint64 generation = ++last_generation_;
    thumbnail_generation_ = generation;
    // The helper decodes the thumbnails that will be in view (the panel scrolled to its top) and
    // waits until the opening is over before the others.
    ThumbnailSlots layout;
    qsizetype in_view = 0;
    for (const QByteArray &bytes : pictures) {
        const int slot = layout.add(in_view, picture_size(bytes), thumbnail_width());
        if (slot < 0 || layout.slot(slot).top >= ScrollBox1->viewport()->height())
            break;
        ++in_view;
    }
    thumbnail_batch_ = std::make_unique<ThumbnailBatch>(
        pictures, thumbnail_width(),
        [this, generation] {
            QMetaObject::invokeMethod(
                this, [this, generation] { collect_thumbnails(generation); }, Qt::QueuedConnection);
        },
        in_view);
}

void PicturePane::add_thumbnails(const QList<int> &ids)
{
    if (!thumbnail_batch_)
        return;
    drop_shown_batch();
    shown_batch_ = std::move(thumbnail_batch_);
    shown_generation_ = thumbnail_generation_;
    const qsizetype count = std::min(ids.size(), shown_batch_->size());
    placeholders_.assign(static_cast<size_t>(count), nullptr);
    // Every thumbnail takes its place at once, at its picture's size as its header says; the
    // decoding fills them in.
    for (qsizetype i = 0; i < count; ++i) {
        const int slot = imagelist.add(ids.at(i), picture_size(shown_batch_->picture(i)), thumbnail_width());
        if (slot < 0)
            break; // all 100 slots taken
        auto *thumb = new_thumbnail(ids.at(i), slot, false);
        thumb->setFrameStyle(QFrame::Box);
        placeholders_[static_cast<size_t>(i)] = thumb;
        // Bytes without a readable header are no picture the panel can show: said at once.
        if (!imagelist.slot(slot).picture.isValid())
            if (std::optional<Thumbnail> t = shown_batch_->take(i))
                fill_thumbnail(i, *t);
    }
    lay_out_thumbnails();
    fill_visible_thumbnails();
    // The rest comes as the helper reports, once the event loop runs (after the paint the opening
    // asked for); without a helper (or when it has already stopped and reported), it is decoded
    // then.
    const quint64 generation = shown_generation_;
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
            if (generation != shown_generation_ || !shown_batch_)
                return;
            if (shown_batch_->helper_stopped())
                collect_thumbnails(generation);
            else
                shown_batch_->release();
        },
        Qt::QueuedConnection);
}

int PicturePane::pending_thumbnails() const
{
    int n = 0;
    for (const QPointer<QLabel> &p : placeholders_)
        n += !p.isNull();
    return n;
}

void PicturePane::fill_thumbnail(qsizetype index, const Thumbnail &t)
{
    if (index < 0 || index >= qsizetype(placeholders_.size()))
        return;
    QPointer<QLabel> thumb = std::exchange(placeholders_[static_cast<size_t>(index)], nullptr);
    if (!thumb)
        return; // taken away meanwhile
    const int slot = thumb->property(kSlotProperty).toInt();
    if (thumbnail(slot) != thumb)
        return;
    const int before = imagelist.slot(slot).height;
    imagelist.set_picture(slot, t.image.isNull() ? QSize() : t.original);
    show_thumbnail(thumb, slot, t.image, t.error);
    if (imagelist.slot(slot).height != before)
        lay_out_thumbnails();
}

void PicturePane::fill_visible_thumbnails()
{
    if (!shown_batch_)
        return;
    // A thumbnail that turns out smaller than its placeholder (a picture that cannot be shown)
    // brings the next ones up into view.
    for (bool more = true; more;) {
        more = false;
        const int top = ScrollBox1->verticalScrollBar()->value();
        const int bottom = top + ScrollBox1->viewport()->height();
        std::vector<qsizetype> visible;
        for (qsizetype i = 0; i < qsizetype(placeholders_.size()); ++i) {
            const QLabel *thumb = placeholders_[static_cast<size_t>(i)];
            if (!thumb)
                continue;
            const ThumbnailSlots::Slot &s = imagelist.slot(thumb->property(kSlotProperty).toInt());
            if (s.top < bottom && s.top + s.height > top)
                visible.push_back(i);
        }
        // From the last one back: the helper goes the other way.
        std::vector<std::pair<qsizetype, Thumbnail>> decoded;
        for (auto i = visible.rbegin(); i != visible.rend(); ++i)
            if (std::optional<Thumbnail> t = shown_batch_->take(*i))
                decoded.emplace_back(*i, std::move(*t));
        for (auto i = decoded.rbegin(); i != decoded.rend(); ++i) {
            const int before = imagelist.content_height();
            fill_thumbnail(i->first, i->second);
            more = more || imagelist.content_height() < before;
        }
    }
}

void PicturePane::collect_thumbnails(quint64 generation)
{
    if (generation != shown_generation_ || !shown_batch_)
        return;
    for (const auto &[index, t] : shown_batch_->take_ready())
        fill_thumbnail(index, t);
    if (shown_batch_->helper_stopped())
        finish_thumbnails(); // what the helper left (it stops early only when it failed)
}

void PicturePane::finish_thumbnails()
{
    if (!shown_batch_)
        return;
    for (qsizetype i = qsizetype(placeholders_.size()) - 1; i >= 0; --i) {
        if (!placeholders_[static_cast<size_t>(i)])
            continue;
        if (std::optional<Thumbnail> t = shown_batch_->take(i))
            fill_thumbnail(i, *t);
    }
}

void PicturePane::drop_shown_batch()
{
    if (shown_batch_)
        shown_batch_->stop();
    shown_generation_ = 0;
    placeholders_.clear();
}

void PicturePane::clear()
{
    drop_shown_batch();
    // The labels are kept for the next note's thumbnails: making them costs more than showing them.
    for (QWidget *&t : thumbnail_slots) {
        if (t) {
            t->hide();
            t->setObjectName(QString());
            spare_thumbnails_.push_back(static_cast<QLabel *>(t));
        }
        t = nullptr;
    }
    imagelist.clear();
    Q_EMIT pictureSelected(-1);
    LabelPictureNumber->hide();
    lay_out_thumbnails();
}

bool PicturePane::remove_thumbnail(int id)
{
    const int slot = imagelist.remove(id);
    if (slot < 0)
        return false;
    delete thumbnail_slots[static_cast<size_t>(slot)];
    thumbnail_slots[static_cast<size_t>(slot)] = nullptr;
    if (LabelPictureNumber->isVisible() && LabelPictureNumber->property(kSlotProperty).toInt() == slot)
        LabelPictureNumber->hide();
    lay_out_thumbnails();
    return true;
}

void PicturePane::lay_out_thumbnails()
{
    const int width = thumbnail_width();
    for (size_t i = 0; i < thumbnail_slots.size(); ++i) {
        QWidget *t = thumbnail_slots[i];
        if (!t)
            continue;
        const ThumbnailSlots::Slot &s = imagelist.slot(static_cast<int>(i));
        t->setGeometry(0, s.top, width, s.height);
    }
    ScrollBoxContent->setMinimumHeight(imagelist.content_height());
    if (LabelPictureNumber->isVisible()) {
        const int slot = LabelPictureNumber->property(kSlotProperty).toInt();
        LabelPictureNumber->move(0, imagelist.slot(slot).top);
        LabelPictureNumber->raise();
    }
}

void PicturePane::ScrollBox1Resize()
{
    imagelist.rescale(thumbnail_width());
    lay_out_thumbnails();
    fill_visible_thumbnails();
}

void PicturePane::ScrollBox1MouseWheelDown()
{
    QScrollBar *bar = ScrollBox1->verticalScrollBar();
    bar->setValue(bar->value() + bar->singleStep());
}

void PicturePane::ScrollBox1MouseWheelUp()
{
    QScrollBar *bar = ScrollBox1->verticalScrollBar();
    bar->setValue(bar->value() - bar->singleStep());
}

void PicturePane::Image1Click(int slot)
{
    if (!thumbnail(slot))
        return;
    const qint64 id = imagelist.slot(slot).id;
    Q_EMIT pictureSelected(static_cast<int>(id));
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

void PicturePane::Image1DblClick(int slot)
{
    if (!thumbnail(slot))
        return;
    Q_EMIT pictureOpenRequested(static_cast<int>(imagelist.slot(slot).id));
}

TPictureView *PicturePane::picture_view() const
{
    return picture_view_;
}

void PicturePane::show_picture(const QByteArray &bytes, int id)
{
    // The viewer belongs to the main window, as a dialog of it.
    if (!picture_view_)
        picture_view_ = new TPictureView(dialogs_, window());
    picture_view_->set_is_write(true);
    // Bytes that cannot be decoded give the decoder's message instead of the window.
    picture_view_->open_picture(bytes, id);
}

} // namespace yunshan
