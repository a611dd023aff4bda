// File menu: export of the selected major category into another database file, and promotion
// of a backup file to main and backup database.
#include "app/ui/catalogue_pane.h"
#include "app/ui/tform2.h"
#include "backup/export.h"
#include "platform/dialogs.h"

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QPalette>

#include <exception>
#include <stdexcept>

namespace yunshan {

void TForm2::export_category_database()
{
    if (transfers_->running())
        return; // a backup, transfer or export under way let this click in
    const QListWidget *majors = catalogue_pane_->major_list();
    const QListWidgetItem *item = majors->currentRow() >= 0 ? majors->currentItem() : nullptr;
    const QString caption = item ? item->text() : QString();

    // Progress in red on the notice label. The copy runs on a worker thread while this one
    // repaints; the window is held as during a backup, so nothing writes to the main database
    // meanwhile and no second export starts.
    QPalette red = notice_label_->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    notice_label_->setPalette(red);
    const auto notice = [this](const QString &text) { notice_label_->setText(text); };
    const auto in_background = [this](const ExportCopy &copy) {
        // A transfer that started while the save dialog was open.
        if (transfers_->running())
            throw std::runtime_error(QStringLiteral("备份或传输正在进行，请等它结束后再导出。").toStdString());
        transfers_->run_held(copy);
    };
    try {
        export_command(store, dialogs_, caption, notice, in_background);
    } catch (const std::exception &e) {
        notice_label_->clear();
        dialogs_.error(QString::fromUtf8(e.what()));
    }
    notice_label_->clear();
}

void TForm2::promote_backup_file()
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
