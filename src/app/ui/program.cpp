#include "app/ui/program.h"

#include "app/ui/application_setup.h"

#include <QApplication>
#include <QLabel>

namespace yunshan {

int run_program(QApplication &app)
{
    setup_application(app);
    QLabel placeholder(QStringLiteral("云杉札记"));
    placeholder.show();
    return QApplication::exec();
}

} // namespace yunshan
