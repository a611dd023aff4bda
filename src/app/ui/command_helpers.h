#pragma once
// Small helpers of the main window's command handlers.
#include "platform/dialogs.h"

#include <QApplication>
#include <QString>

#include <exception>

namespace yunshan {

// Runs a command; an error of the engine is shown and ends the command.
template <typename F> void guarded(Dialogs &dialogs, F &&command)
{
    try {
        command();
    } catch (const std::exception &e) {
        dialogs.error(QString::fromUtf8(e.what()));
    }
}

// The hourglass while it lives.
class BusyCursor {
  public:
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;
};

} // namespace yunshan
