// Renders the settings dialog as a new user first sees it, saves the proposal and renders the
// main window afterwards, to look at both without a display:
//   QT_QPA_PLATFORM=offscreen screenshot_settings_dialog OUT_FOLDER
// writes OUT_FOLDER/settings_dialog.png and OUT_FOLDER/main_after_save.png; the notes go to a
// temporary home folder. Every box the program shows is printed instead.
#include "app/ui/application_setup.h"
#include "app/ui/tform1.h"
#include "app/ui/tform2.h"
#include "platform/dialogs.h"
#include "platform/settings_store.h"
#include "support/printed_dialogs.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    yunshan::setup_application(app);
    const QString out = QCoreApplication::arguments().value(1, QStringLiteral("."));
    QTemporaryDir home;
    yunshan::test::PrintedDialogs dialogs;
    yunshan::SettingsStore settings(home.filePath(QStringLiteral("config/YunShanNote.ini")));
    yunshan::TForm2 form2(dialogs);
    yunshan::TForm1 form1(form2, settings, &form2);
    const QString documents = home.filePath(QStringLiteral("Documents"));
    form1.proposal.documents_folder = [documents] { return documents; };
    form2.FormCreate(settings);
    form2.show();
    form2.show_settings();
    form1.grab().save(out + QStringLiteral("/settings_dialog.png"));
    form1.Button3->click();
    form2.grab().save(out + QStringLiteral("/main_after_save.png"));
    std::printf("main folder: %s\n", qPrintable(settings.zhu_db()));
    return 0;
}
