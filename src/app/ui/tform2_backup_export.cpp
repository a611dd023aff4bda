// File menu: export of the selected major category into another database file, and promotion
// of a backup file to main and backup database.
#include "app/ui/tform2.h"
#include "backup/export.h"
#include "platform/dialogs.h"

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QPalette>

#include <exception>

namespace yunshan {

void TForm2::N23Click()
{
    const QListWidgetItem *item = ListBox1->currentRow() >= 0 ? ListBox1->currentItem() : nullptr;
    const QString caption = item ? item->text() : QString();

    // Progress in red on the notice label. Only painting and timers run meanwhile: user input
    // waits until the export is over, and the store refuses writes while its backup connection
    // is lent to the target.
    QPalette red = Label1->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    Label1->setPalette(red);
    const auto notice = [this](const QString &text) {
        Label1->setText(text);
        Label1->repaint();
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    };
    try {
        export_command(store, dialogs_, caption, notice);
    } catch (const std::exception &e) {
        Label1->clear();
        dialogs_.error(QString::fromUtf8(e.what()));
    }
    Label1->clear();
}

void TForm2::N24Click()
{
    bool replaced = false;
    try {
        // The open note is settled once the user has agreed to the replacement.
        replaced = promote_backup_command(
            store, run.zhu_db, run.bei_db, dialogs_, [this] { database_owned_elsewhere(); },
            [this] { return settle_note_before_database_change(); });
    } catch (const std::exception &e) {
        dialogs_.error(QString::fromUtf8(e.what()));
        // The databases may have been reconnected before the failure.
        set_panel(0, connection_status_text(store.status()));
    }
    if (!replaced)
        return;
    set_panel(0, connection_status_text(store.status()));
    // The lists and the open note belonged to the replaced database: an id kept from it would
    // address another note of the new one.
    try {
        reload_catalogue(false);
    } catch (const std::exception &e) {
        dialogs_.error(QString::fromUtf8(e.what()));
    }
}

} // namespace yunshan
