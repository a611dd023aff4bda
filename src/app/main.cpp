#include "app/command_line.h"
#include "app/ui/program.h"

#include <QApplication>

int main(int argc, char **argv)
{
    if (const auto code = yunshan::answer_command_line(argc, argv))
        return *code; // --help, --version: printed, no window
    QApplication app(argc, argv);
    return yunshan::run_program(app);
}
