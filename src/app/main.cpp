#include "app/ui/program.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    return yunshan::run_program(app);
}
