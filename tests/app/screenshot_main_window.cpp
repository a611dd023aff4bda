// Renders the main window into a PNG, to look at it without a display:
//   QT_QPA_PLATFORM=offscreen screenshot_main_window out.png [readonly] [panels] [menu] [pictures] [dark]
//   (dark: the Fusion style with a dark palette, as dark desktop themes give)
//   ... out.png start [FOLDER]: the real start-up on notes in FOLDER (a temporary folder by
//   default), with the start page.
#include "app/ui/application_setup.h"
#include "app/ui/catalogue_pane.h"
#include "app/ui/main_commands.h"
#include "app/ui/move_panel.h"
#include "app/ui/picture_pane.h"
#include "app/ui/progress_panel.h"
#include "app/ui/tform2.h"
#include "platform/settings_store.h"
#include "platform/ui/qt_dialogs.h"
#include "support/dark_palette.h"
#include "support/note_list_entries.h"

#include <QApplication>
#include <QBuffer>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    yunshan::setup_application(app);
    if (QCoreApplication::arguments().contains(QStringLiteral("dark"))) {
        QApplication::setStyle(QStringLiteral("Fusion"));
        QApplication::setPalette(yunshan::test::dark_palette());
    }
    const QStringList args = QCoreApplication::arguments();
    const QString out = args.value(1, QStringLiteral("main_window.png"));

    yunshan::QtDialogs dialogs;
    yunshan::TForm2 form(dialogs);
    QTemporaryDir temp;
    if (args.contains(QStringLiteral("start"))) {
        const int i = args.indexOf(QStringLiteral("start"));
        const QString folder = args.value(i + 1, temp.path());
        yunshan::SettingsStore settings(temp.filePath(QStringLiteral("YunShanNote.ini")));
        settings.set_value(QStringLiteral("zhu_db"), folder);
        form.FormCreate(settings);
        form.show();
        form.start_worker(0);
        QTimer::singleShot(600, [&] {
            form.grab().save(out);
            QApplication::quit();
        });
        return QApplication::exec();
    }
    form.catalogue_pane()->major_list()->addItems({QStringLiteral("工作"), QStringLiteral("生活")});
    form.catalogue_pane()->minor_list()->addItems({QStringLiteral("会议记录"), QStringLiteral("读书笔记")});
    yunshan::test::put_note_entries(form, {QStringLiteral("第一篇笔记"), QStringLiteral("第二篇笔记")}, {1, 2});
    form.catalogue_pane()->major_list()->setCurrentRow(0); // a selected row of each list
    form.catalogue_pane()->minor_list()->setCurrentRow(1);
    yunshan::test::choose_note(form, 0);
    form.set_panel(0, QStringLiteral("主备数据库"));
    form.set_panel(4, QStringLiteral("RTF"));
    if (args.contains(QStringLiteral("readonly")))
        form.enter_read_only_mode();
    if (args.contains(QStringLiteral("panels"))) {
        form.move_panel()->show();
        form.move_panel()->raise();
        form.progress_panel()->show_line(QStringLiteral("上传 45%"));
    }
    form.show();
    QTimer::singleShot(200, [&] {
        if (args.contains(QStringLiteral("pictures"))) {
            // Three attached pictures and a stored one that cannot be decoded; the second clicked.
            const QList<QSize> sizes{{800, 600}, {1200, 400}, {600, 800}};
            for (int i = 0; i < sizes.size(); ++i) {
                QImage image(sizes[i], QImage::Format_RGB32);
                image.fill(QColor::fromHsv(60 * i + 20, 120, 230));
                QPainter p(&image);
                p.setPen(QPen(Qt::darkBlue, 12));
                p.drawEllipse(image.rect().adjusted(40, 40, -40, -40));
                p.end();
                QByteArray bytes;
                QBuffer buffer(&bytes);
                buffer.open(QIODevice::WriteOnly);
                image.save(&buffer, "PNG");
                form.picture_pane()->add_thumbnail(bytes, i + 1);
            }
            form.picture_pane()->add_thumbnail(QByteArray("damaged"), 4);
            form.picture_pane()->Image1Click(1);
        }
        QPixmap shot = form.grab();
        if (args.contains(QStringLiteral("menu"))) {
            form.commands().menu("MenuFile")->popup(form.mapToGlobal(QPoint(0, 20)));
            QApplication::processEvents();
            shot = form.commands().menu("MenuFile")->grab();
        }
        if (!shot.save(out))
            std::fprintf(stderr, "cannot write %s\n", qPrintable(out));
        QApplication::quit();
    });
    return QApplication::exec();
}
