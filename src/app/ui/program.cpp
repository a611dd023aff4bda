#include "app/ui/program.h"

#include "app/ui/application_setup.h"
#include "app/ui/tform1.h"
#include "app/ui/tform2.h"
#include "platform/settings_store.h"
#include "platform/ui/qt_dialogs.h"
#include "update/update_check.h"

#include <QApplication>

namespace yunshan {

int run_program(QApplication &app)
{
    setup_application(app);
    QtDialogs dialogs;
    SettingsStore settings;

    TForm2 form2(dialogs);
    dialogs.set_parent(&form2);
    TForm1 form1(form2, settings, &form2);
    form2.FormCreate(settings);
    form2.update_server = update_server_address(settings);
    if (form2.login_refused())
        return 0;
    form2.show();
    form2.start_worker();
    return QApplication::exec();
}

} // namespace yunshan
