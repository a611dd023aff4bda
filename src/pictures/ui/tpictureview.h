#pragma once
// The picture viewer: one attached picture at full resolution, zoomed with the mouse wheel,
// dragged with the mouse, with lines of text written onto it, saved as a JPEG file. It never
// writes to the database.
//
// The main window opens it from a double click on a thumbnail:
//     if (!picture_view) picture_view = new TPictureView(dialogs(), this);
//     picture_view->set_is_write(true);
//     picture_view->open_picture(bytes, id);
#include <QDialog>
#include <QImage>
#include <QPointer>

class QAction;
class QLineEdit;
class QMenu;
class QToolBar;
class QScrollBar;
class QToolButton;

namespace yunshan {

class Dialogs;

class TPictureView : public QDialog {
    Q_OBJECT
    Q_PROPERTY(bool is_write READ is_write WRITE set_is_write)

  public:
    explicit TPictureView(Dialogs &dialogs, QWidget *parent = nullptr);
    ~TPictureView() override;

    // Whether "加文字" is enabled when the window is shown.
    bool is_write() const { return is_write_; }
    void set_is_write(bool on) { is_write_ = on; }

    // Decodes the stored picture bytes and shows them as a modal window; returns when the window
    // closes. Bytes that cannot be decoded (damaged, cut off, absurdly large) give an error box
    // with the reason and false; the window is not shown then.
    bool open_picture(const QByteArray &bytes, int id);
    // Decodes and takes the picture without showing the window; false and `error` on failure.
    bool load_picture(const QByteArray &bytes, int id, QString *error = nullptr);
    // Takes an already decoded picture.
    void load_image(const QImage &image, int id = -1);

    // ---- State ----
    bool M_is_change = false; // text written since shown or last saved
    QString M_cur_filename;   // the file last chosen with "另存"
    bool canmove = false;     // a mouse button is held on the picture
    int OldX = 0, OldY = 0;   // press point, picture-control coordinates
    int mx1 = 0, my1 = 0;     // last right-button press on the picture
    int picture_id() const { return id_; }
    // The picture as written on (its own pixel size).
    const QImage &bitmap() const { return bitmap_; }
    // The picture control's place and zoomed size inside the picture area.
    QRect picture_rect() const { return control_; }

    // ---- Commands ----
    void zoom_step(bool away_from_user); // one wheel step
    void ButtonAddTextClick();           // "加文字"
    void MenuWriteTextClick();           // "写字……": at the last right-button press
    void ButtonFontClick();              // "字体", "设置字体……"
    bool ButtonSaveClick();              // "另存"; true when a file was written
    void ButtonCancelClick();            // "取消"
    void M_add_texttoimage_bat() {}      // "批量写字……": no action
    // Ends writing: hides the text field and draws its text onto the picture.
    void commit_text();

    // ---- Widgets ----
    QToolBar *ToolBar1 = nullptr;
    QToolButton *ButtonAddText = nullptr; // 加文字
    QToolButton *ButtonFont = nullptr;    // 字体
    QToolButton *ButtonSave = nullptr;    // 另存
    QToolButton *ButtonCancel = nullptr;  // 取消
    QWidget *ScrollBox1 = nullptr;        // the picture area below the tool bar
    QScrollBar *HorzScrollBar = nullptr;  // shown while the picture is wider than the area
    QScrollBar *VertScrollBar = nullptr;  // shown while the picture is taller than the area
    QWidget *Image1 = nullptr;            // the picture control
    QLineEdit *Edit1 = nullptr;           // the one-line text field
    QMenu *PopupMenu1 = nullptr;
    QAction *MenuWriteText = nullptr, *MenuBatchText = nullptr, *MenuFont = nullptr, *MenuSave = nullptr;

  public Q_SLOTS:
    // Closing: asks "图片已经更改，是否保存或者取消退出？" while there is unsaved text.
    void reject() override;

  protected:
    void showEvent(QShowEvent *e) override;
    void resizeEvent(QResizeEvent *e) override;
    void wheelEvent(QWheelEvent *e) override;
    bool eventFilter(QObject *watched, QEvent *e) override;

  private:
    void place_control(const QRect &r);
    void update_scroll_bars();
    void scrolled();
    void centre_control();
    void start_writing(QPoint at);
    void fit_field();
    // Writes the picture as JPEG to `path`; on failure an error box and false.
    bool write_jpeg(const QString &path);
    bool save_numbered_copy();
    void release_picture();

    Dialogs &dialogs_;
    bool is_write_ = true;
    int id_ = -1;
    QImage picture_; // as stored
    QImage bitmap_;  // as shown and written on
    QRect control_;
    int wheel_rest_ = 0;
    bool field_moving_ = false;
    QPoint field_press_;
    bool right_moved_ = false;
    QColor text_colour_{Qt::black};
    bool scrolling_ = false;
    QPoint scroll_origin_;
};

} // namespace yunshan
