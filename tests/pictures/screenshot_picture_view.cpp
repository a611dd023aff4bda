// Renders the picture viewer into PNGs, to look at it without a display:
//   QT_QPA_PLATFORM=offscreen screenshot_picture_view PREFIX [PICTURE-FILE]
// writes PREFIX-open.png (zoom 1), PREFIX-zoom.png (two steps toward the user, text being
// written) and PREFIX-text.png (text written onto the picture), and PREFIX-font.png (the font
// dialog) and PREFIX-menu.png (the picture's context menu).
#include "app/ui/application_setup.h"
#include "pictures/picture_codec.h"
#include "pictures/picture_test_util.h"
#include "pictures/ui/tpictureview.h"
#include "platform/ui/qt_dialogs.h"

#include <QApplication>
#include <QFile>
#include <QFontDialog>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QTimer>
#include <QWheelEvent>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    yunshan::setup_application(app);
    const QStringList args = QCoreApplication::arguments();
    const QString prefix = args.value(1, QStringLiteral("picture_view"));

    QImage picture = yunshan::test::sample_image(1024, 700);
    if (args.size() > 2) {
        QFile f(args.at(2));
        if (f.open(QIODevice::ReadOnly)) {
            const yunshan::DecodedPicture d = yunshan::decode_picture(f.readAll());
            if (d.ok())
                picture = d.image;
        }
    }

    yunshan::QtDialogs dialogs;
    yunshan::TPictureView view(dialogs);
    view.set_is_write(true);
    view.load_image(picture, 1);
    view.show();
    QTimer::singleShot(100, [&] {
        view.grab().save(prefix + QStringLiteral("-open.png"));
        for (int i = 0; i < 2; ++i) {
            QWheelEvent e(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
            QApplication::sendEvent(view.Image1, &e);
        }
        view.ButtonAddTextClick();
        view.Edit1->setText(QStringLiteral("云杉札记 2026-12-10"));
        view.grab().save(prefix + QStringLiteral("-zoom.png"));
        view.commit_text();
        view.grab().save(prefix + QStringLiteral("-text.png"));
        view.bitmap().save(prefix + QStringLiteral("-bitmap.png"));
        view.PopupMenu1->popup(view.Image1->mapToGlobal(QPoint(100, 100)));
        view.PopupMenu1->grab().save(prefix + QStringLiteral("-menu.png"));
        view.PopupMenu1->hide();
        // The font dialog with its colour button.
        QTimer::singleShot(200, [&] {
            if (QWidget *box = QApplication::activeModalWidget()) {
                box->grab().save(prefix + QStringLiteral("-font.png"));
                box->close();
            }
        });
        view.ButtonFontClick();
        view.M_is_change = false;
        QApplication::quit();
    });
    return QApplication::exec();
}
