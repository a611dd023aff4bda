// The main window's backup commands: the backup tool button and the exit step. The transfers
// themselves (worker thread, held input, progress panel) are the TransferRunner's.
#include "app/ui/main_commands.h"
#include "app/ui/progress_panel.h"
#include "app/ui/tform2.h"
#include "app/ui/transfer_runner.h"
#include "backup/tls_trust.h"
#include "backup/transfer_errors.h"
#include "backup/webdav.h"
#include "platform/dialogs.h"
#include "platform/settings_store.h"

#include <QLabel>
#include <QTimer>
#include <QToolBar>

#include <exception>

namespace yunshan {

void TForm2::build_backup()
{
    transfers_ = new TransferRunner(*this, commands().tool_bar(), *progress_panel_, dialogs_, store, run);
    // The autosave writes to the database: it waits while a worker runs, as every writing
    // command does.
    transfers_->pause_writes = [this] {
        const bool autosave_on = Timer1 && Timer1->isActive();
        if (Timer1)
            Timer1->stop();
        return std::function<void()>([this, autosave_on] {
            if (autosave_on && !destroyed_)
                Timer1->start();
        });
    };
    transfers_->before_replace = [this] { return settle_note_before_database_change(); };
    // The keys the user has trusted for https shares with certificates of their own.
    transfers_->webdav().client.set_pin_lookup(
        [this](const QString &origin) { return settings_store ? trusted_key(*settings_store, origin) : QByteArray(); });
}

void TForm2::after_main_file_replaced()
{
    notice_label_->clear();
    try {
        reload_catalogue(true);
    } catch (const std::exception &e) {
        dialogs_.error(QString::fromUtf8(e.what()));
    }
}

void TForm2::back_up_now()
{
    if (transfers_->running())
        return; // the running backup let this click in
    BackupResult result;
    try {
        result = transfers_->back_up();
    } catch (const std::exception &e) {
        report_transfer_failure(dialogs_, TransferStep::Upload, run.dav_url, e);
    }
    if (result.replaced)
        after_main_file_replaced();
}

void TForm2::exit_step()
{
    if (transfers_->running())
        return;
    try {
        transfers_->exit_backup();
    } catch (const std::exception &e) {
        report_transfer_failure(dialogs_, TransferStep::Upload, run.dav_url, e);
    }
}

} // namespace yunshan
