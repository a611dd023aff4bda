// The main window's part of the login password: the check while the window is created and the
// two menu commands, which open the settings dialog where the password is set or cleared.
#include "app/ui/tform2.h"
#include "crypto/login_password.h"
#include "platform/dialogs.h"

#include <exception>

namespace yunshan {

bool TForm2::login_at_start()
{
    bool passed = false;
    try {
        passed = login_check(store, dialogs_);
    } catch (const std::exception &e) {
        // A password that cannot be read is not a password that was given.
        dialogs_.error(QString::fromUtf8(e.what()));
    }
    login_refused_ = !passed;
    return passed;
}

void TForm2::set_login_password()
{
    Q_EMIT settingsRequested();
}

void TForm2::clear_login_password()
{
    Q_EMIT settingsRequested();
    Q_EMIT passwordClearRequested();
}

} // namespace yunshan
