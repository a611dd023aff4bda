#include "pictures/ui/tpictureview.h"

#include "app/ui/application_setup.h"
#include "pictures/picture_codec.h"
#include "pictures/picture_view_rules.h"
#include "platform/dialogs.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QSaveFile>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <cstdlib>

namespace yunshan {

namespace {

constexpr int kClientWidth = 946;
constexpr int kClientHeight = 649;
constexpr int kToolBarHeight = 57;
constexpr int kButtonSize = 48;
constexpr int kFontPixels = 19;
// Zooming in stops before a side passes this many pixels.
constexpr int kMaxControlSide = 200000;

// Shows the bitmap stretched to the control's size.
class PictureControl : public QWidget {
  public:
    PictureControl(const QImage &bitmap, QWidget *parent) : QWidget(parent), bitmap_(bitmap) {}

  protected:
    void paintEvent(QPaintEvent *) override
    {
        if (bitmap_.isNull() || width() <= 0 || height() <= 0)
            return;
        QPainter p(this);
        p.setRenderHint(QPainter::SmoothPixmapTransform, width() < bitmap_.width());
        p.drawImage(rect(), bitmap_);
    }

  private:
    const QImage &bitmap_;
};

// The picture drawn over white: pictures with transparency look as they do on the panel and
// save as JPEG as shown.
QImage opaque_copy(const QImage &image)
{
    if (!image.hasAlphaChannel())
        return image.convertToFormat(QImage::Format_RGB32);
    QImage flat(image.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    QPainter p(&flat);
    p.drawImage(0, 0, image);
    return flat;
}

} // namespace

TPictureView::TPictureView(Dialogs &dialogs, QWidget *parent) : QDialog(parent), dialogs_(dialogs)
{
    setObjectName(QStringLiteral("PictureView"));
    setWindowTitle(viewer_title());
    setModal(true);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    setSizeGripEnabled(false);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setFixedHeight(kToolBarHeight);
    ToolBar1->setIconSize(QSize(24, 24));
    ToolBar1->setContextMenuPolicy(Qt::PreventContextMenu);
    layout->addWidget(ToolBar1);
    QStyle *st = style();
    auto button = [&](const char *name, const QString &text, QStyle::StandardPixmap icon, auto handler) {
        auto *b = new QToolButton(ToolBar1);
        b->setObjectName(QString::fromLatin1(name));
        b->setText(text);
        b->setAccessibleName(text);
        b->setIcon(st->standardIcon(icon));
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        b->setFixedSize(kButtonSize, kButtonSize);
        b->setAutoRaise(true);
        // Reached with Tab from the keyboard; a click leaves the text field its focus until it is done.
        b->setFocusPolicy(Qt::TabFocus);
        connect(b, &QToolButton::clicked, this, handler);
        ToolBar1->addWidget(b);
        return b;
    };
    ButtonAddText = button("ButtonAddText", QStringLiteral("加文字"), QStyle::SP_FileDialogDetailedView,
                           [this] { ButtonAddTextClick(); });
    ButtonFont =
        button("ButtonFont", QStringLiteral("字体"), QStyle::SP_FileDialogInfoView, [this] { ButtonFontClick(); });
    ButtonSave =
        button("ButtonSave", QStringLiteral("另存"), QStyle::SP_DialogSaveButton, [this] { ButtonSaveClick(); });
    ButtonCancel =
        button("ButtonCancel", QStringLiteral("取消"), QStyle::SP_DialogCancelButton, [this] { ButtonCancelClick(); });

    // The picture area, with scroll bars that show where a picture larger than the area lies.
    auto *area = new QGridLayout;
    area->setContentsMargins(0, 0, 0, 0);
    area->setSpacing(0);
    layout->addLayout(area, 1);
    ScrollBox1 = new QWidget(this);
    ScrollBox1->setObjectName(QStringLiteral("ScrollBox1"));
    ScrollBox1->setAccessibleName(QStringLiteral("图片"));
    ScrollBox1->setAutoFillBackground(true);
    ScrollBox1->installEventFilter(this);
    area->addWidget(ScrollBox1, 0, 0);
    HorzScrollBar = new QScrollBar(Qt::Horizontal, this);
    HorzScrollBar->setObjectName(QStringLiteral("HorzScrollBar"));
    HorzScrollBar->setAccessibleName(QStringLiteral("水平滚动"));
    VertScrollBar = new QScrollBar(Qt::Vertical, this);
    VertScrollBar->setObjectName(QStringLiteral("VertScrollBar"));
    VertScrollBar->setAccessibleName(QStringLiteral("垂直滚动"));
    area->addWidget(HorzScrollBar, 1, 0);
    area->addWidget(VertScrollBar, 0, 1);
    for (QScrollBar *bar : {HorzScrollBar, VertScrollBar}) {
        bar->hide();
        connect(bar, &QScrollBar::valueChanged, this, [this] { scrolled(); });
    }

    Image1 = new PictureControl(bitmap_, ScrollBox1);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setAccessibleName(QStringLiteral("图片"));
    Image1->setContextMenuPolicy(Qt::PreventContextMenu); // the menu opens on release, after a drag
    Image1->installEventFilter(this);

    Edit1 = new QLineEdit(ScrollBox1);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setAccessibleName(QStringLiteral("文字"));
    Edit1->setFrame(false);
    QFont font(ui_font_family());
    font.setPixelSize(kFontPixels);
    Edit1->setFont(font);
    Edit1->setStyleSheet(
        QStringLiteral("QLineEdit { background: rgba(255,255,255,150); border: 1px dashed #808080; }"));
    Edit1->installEventFilter(this);
    Edit1->hide();
    connect(Edit1, &QLineEdit::returnPressed, this, [this] { commit_text(); });
    connect(Edit1, &QLineEdit::textChanged, this, [this] { fit_field(); });

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    MenuWriteText = PopupMenu1->addAction(QStringLiteral("写字……"), this, [this] { MenuWriteTextClick(); });
    MenuBatchText = PopupMenu1->addAction(QStringLiteral("批量写字……"), this, [this] { M_add_texttoimage_bat(); });
    MenuFont = PopupMenu1->addAction(QStringLiteral("设置字体……"), this, [this] { ButtonFontClick(); });
    MenuSave = PopupMenu1->addAction(QStringLiteral("另存"), this, [this] { ButtonSaveClick(); });

    resize(kClientWidth, kClientHeight);
    if (QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

TPictureView::~TPictureView() = default;

bool TPictureView::load_picture(const QByteArray &bytes, int id, QString *error)
{
    const DecodedPicture decoded = decode_picture(bytes);
    if (!decoded.ok()) {
        if (error)
            *error = decoded.error;
        return false;
    }
    load_image(decoded.image, id);
    return true;
}

void TPictureView::load_image(const QImage &image, int id)
{
    id_ = id;
    picture_ = opaque_copy(image);
    bitmap_ = picture_;
    place_control(QRect(QPoint(0, 0), bitmap_.size()));
}

bool TPictureView::open_picture(const QByteArray &bytes, int id)
{
    QString error;
    if (!load_picture(bytes, id, &error)) {
        dialogs_.error(error);
        return false;
    }
    exec();
    return true;
}

void TPictureView::showEvent(QShowEvent *e)
{
    QDialog::showEvent(e);
    setWindowTitle(viewer_title());
    ButtonAddText->setEnabled(is_write_);
    M_is_change = false;
    ButtonCancel->setEnabled(false);
    canmove = false;
    wheel_rest_ = 0;
    Edit1->clear();
    Edit1->hide();
    bitmap_ = picture_; // a fresh bitmap: text written at the last opening is gone
    place_control(QRect(QPoint(0, 0), bitmap_.size()));
    centre_control();
}

void TPictureView::resizeEvent(QResizeEvent *e)
{
    QDialog::resizeEvent(e);
    centre_control();
}

void TPictureView::place_control(const QRect &r)
{
    control_ = r;
    Image1->setGeometry(r);
    Image1->update();
    update_scroll_bars();
}

// Each bar spans the area and the picture together; its handle is the area's part of it.
void TPictureView::update_scroll_bars()
{
    if (scrolling_)
        return;
    scrolling_ = true;
    const QRect area = ScrollBox1->rect();
    const QRect span = area.united(control_);
    const auto set = [](QScrollBar *bar, int page, int whole, int value) {
        bar->setVisible(whole > page);
        bar->setRange(0, std::max(0, whole - page));
        bar->setPageStep(page);
        bar->setSingleStep(std::max(1, page / 20));
        bar->setValue(value);
    };
    set(HorzScrollBar, area.width(), span.width(), area.left() - span.left());
    set(VertScrollBar, area.height(), span.height(), area.top() - span.top());
    scroll_origin_ = {HorzScrollBar->value(), VertScrollBar->value()};
    scrolling_ = false;
}

void TPictureView::scrolled()
{
    if (scrolling_)
        return;
    const QPoint now(HorzScrollBar->value(), VertScrollBar->value());
    const QPoint moved = now - scroll_origin_;
    scroll_origin_ = now;
    scrolling_ = true;
    control_.translate(-moved);
    Image1->setGeometry(control_);
    scrolling_ = false;
}

void TPictureView::centre_control()
{
    // Centred in the picture area, which is what the user sees of the window.
    place_control(QRect(centred_position(ScrollBox1->size(), control_.size()), control_.size()));
}

void TPictureView::zoom_step(bool away_from_user)
{
    if (bitmap_.isNull())
        return;
    QRect r =
        away_from_user ? zoom_in(control_) : zoom_out(control_, ScrollBox1->size(), ScrollBox1->size(), bitmap_.size());
    if (r.width() > kMaxControlSide || r.height() > kMaxControlSide)
        return;
    place_control(r);
    setWindowTitle(zoom_title(control_.width(), bitmap_.width()));
}

void TPictureView::wheelEvent(QWheelEvent *e)
{
    e->accept();
    if (Edit1->isVisible())
        return; // the field would lose its place on the picture
    wheel_rest_ += e->angleDelta().y();
    while (wheel_rest_ >= 120 || wheel_rest_ <= -120) {
        const bool away = wheel_rest_ > 0;
        wheel_rest_ += away ? -120 : 120;
        zoom_step(away);
    }
}

void TPictureView::start_writing(QPoint at)
{
    Edit1->clear();
    Edit1->move(at);
    fit_field();
    Edit1->show();
    Edit1->raise();
    Edit1->setFocus(Qt::OtherFocusReason);
}

void TPictureView::fit_field()
{
    const QFontMetrics fm(Edit1->font());
    const int width = std::max(200, fm.horizontalAdvance(Edit1->text()) + fm.averageCharWidth() * 2 + 8);
    Edit1->resize(width, fm.height() + 6);
}

void TPictureView::ButtonAddTextClick()
{
    start_writing(control_.topLeft() + QPoint(20, 20));
}

void TPictureView::MenuWriteTextClick()
{
    start_writing(control_.topLeft() + QPoint(mx1, my1));
}

void TPictureView::commit_text()
{
    if (!Edit1->isVisible())
        return;
    const QString text = Edit1->text();
    const QPoint field = Edit1->pos();
    Edit1->clear();
    Edit1->hide();
    if (text.isEmpty() || bitmap_.isNull())
        return;
    const QPoint at = text_position_on_bitmap(field, control_, bitmap_.size());
    QPainter p(&bitmap_);
    p.setFont(Edit1->font());
    p.setPen(text_colour_);
    p.drawText(QRect(at, QSize(bitmap_.width() + std::abs(at.x()), bitmap_.height() + std::abs(at.y()))),
               Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
    p.end();
    Image1->update();
    M_is_change = true;
    ButtonCancel->setEnabled(true);
}

void TPictureView::ButtonFontClick()
{
    QFont font = Edit1->font();
    QColor colour = text_colour_;
    if (!dialogs_.choose_font(QStringLiteral("字体"), font, colour))
        return;
    Edit1->setFont(font);
    text_colour_ = colour;
    QPalette p = Edit1->palette();
    p.setColor(QPalette::Text, colour);
    Edit1->setPalette(p);
    fit_field();
}

bool TPictureView::write_jpeg(const QString &path)
{
    try {
        const QByteArray jpeg = encode_jpeg(bitmap_, kJpegQuality);
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(jpeg) != jpeg.size() || !file.commit())
            throw PictureError(QStringLiteral("无法保存文件“%1”：%2").arg(path, file.errorString()));
        return true;
    } catch (const PictureError &e) {
        dialogs_.error(e.message());
        return false;
    }
}

bool TPictureView::ButtonSaveClick()
{
    commit_text();
    // The proposal lies in the folder of the last file chosen, if any.
    const QString proposal = M_cur_filename.isEmpty()
                                 ? proposed_save_name(M_cur_filename)
                                 : QFileInfo(M_cur_filename).dir().filePath(proposed_save_name(M_cur_filename));
    const QString chosen =
        dialogs_.save_file(QStringLiteral("另存"), QStringLiteral("JPEG Image File (*.jpg)"), proposal);
    if (chosen.isEmpty())
        return false;
    const QString path = with_default_jpg_extension(chosen);
    M_cur_filename = path;
    if (!write_jpeg(path))
        return false;
    M_is_change = false;
    return true;
}

bool TPictureView::save_numbered_copy()
{
    if (M_cur_filename.isEmpty())
        return ButtonSaveClick(); // nothing chosen yet in this run: ask as "另存" does
    const QString path = numbered_copy_name(M_cur_filename, [](const QString &p) { return QFile::exists(p); });
    if (!write_jpeg(path))
        return false;
    M_is_change = false;
    ButtonCancel->setEnabled(false);
    return true;
}

void TPictureView::ButtonCancelClick()
{
    Edit1->clear();
    Edit1->hide();
    M_is_change = false;
    ButtonCancel->setEnabled(false);
    close();
}

void TPictureView::reject()
{
    commit_text();
    if (M_is_change) {
        const Dialogs::Answer answer =
            dialogs_.question_yes_no_cancel(QStringLiteral("图片已经更改，是否保存或者取消退出？"));
        if (answer == Dialogs::Answer::Cancel)
            return;
        if (answer == Dialogs::Answer::Yes && !save_numbered_copy())
            return;
        M_is_change = false;
    }
    release_picture();
    QDialog::reject();
}

void TPictureView::release_picture()
{
    bitmap_ = QImage();
    picture_ = QImage();
    Image1->update();
}

bool TPictureView::eventFilter(QObject *watched, QEvent *e)
{
    if (watched == Edit1) {
        switch (e->type()) {
        case QEvent::FocusOut:
            // Leaving the field ends writing (a menu or box of this window opening does not).
            if (static_cast<QFocusEvent *>(e)->reason() != Qt::PopupFocusReason)
                commit_text();
            break;
        case QEvent::MouseButtonPress: {
            auto *m = static_cast<QMouseEvent *>(e);
            if (m->button() == Qt::LeftButton) {
                field_moving_ = true;
                field_press_ = m->position().toPoint();
            }
            break;
        }
        case QEvent::MouseMove: {
            auto *m = static_cast<QMouseEvent *>(e);
            if (field_moving_ && (m->buttons() & Qt::LeftButton)) {
                Edit1->move(Edit1->pos() + m->position().toPoint() - field_press_);
                return true;
            }
            break;
        }
        case QEvent::MouseButtonRelease:
            field_moving_ = false;
            break;
        default:
            break;
        }
        return QDialog::eventFilter(watched, e);
    }
    if (watched == ScrollBox1 && e->type() == QEvent::Resize)
        update_scroll_bars();
    if ((watched == Image1 || watched == ScrollBox1) && e->type() == QEvent::Wheel) {
        wheelEvent(static_cast<QWheelEvent *>(e));
        return true;
    }
    if (watched == Image1) {
        switch (e->type()) {
        case QEvent::MouseButtonPress: {
            auto *m = static_cast<QMouseEvent *>(e);
            const QPoint at = m->position().toPoint();
            OldX = at.x();
            OldY = at.y();
            canmove = true;
            if (m->button() == Qt::RightButton) {
                mx1 = at.x();
                my1 = at.y();
                right_moved_ = false;
            } else if (m->button() == Qt::LeftButton) {
                commit_text();
            }
            return true;
        }
        case QEvent::MouseMove: {
            auto *m = static_cast<QMouseEvent *>(e);
            if (!canmove)
                return true;
            const QPoint at = m->position().toPoint();
            QRect r = control_;
            const QSize area = ScrollBox1->size();
            if (const auto x = drag_position(r.left(), at.x() - OldX, area.width(), r.width())) {
                r.moveLeft(*x);
                right_moved_ = true;
            }
            if (const auto y = drag_position(r.top(), at.y() - OldY, area.height(), r.height())) {
                r.moveTop(*y);
                right_moved_ = true;
            }
            if (r != control_)
                place_control(r);
            return true;
        }
        case QEvent::MouseButtonRelease: {
            auto *m = static_cast<QMouseEvent *>(e);
            canmove = false;
            if (m->button() == Qt::RightButton && !right_moved_)
                PopupMenu1->popup(m->globalPosition().toPoint());
            return true;
        }
        case QEvent::MouseButtonDblClick:
            close();
            return true;
        default:
            break;
        }
    } else if (watched == ScrollBox1 && e->type() == QEvent::MouseButtonDblClick) {
        close();
        return true;
    }
    return QDialog::eventFilter(watched, e);
}

} // namespace yunshan
