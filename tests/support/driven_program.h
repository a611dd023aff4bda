#pragma once
// Runs of the real program through its remote keyboard (tests/editor/program_driver.cpp): the
// folders and environment of the runs, and one run driven line by line.
#include "support/temp_folder.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace yunshan::test {

// A main and a backup database folder named in a settings file, and the private state, runtime
// and cache folders of the runs, offscreen.
struct DriverFolders {
    DriverFolders();

    TempFolder dir;
    QString zhu; // main database folder
    QString bei; // backup database folder
    QString config;
    QString state;
    QString runtime;
    QString main_file;   // notedb.sl3 in zhu
    QString backup_file; // notedb.sl3 in bei
    QProcessEnvironment env;
};

// One run of the program.
class DrivenProgram {
  public:
    DrivenProgram(const QString &driver, const QProcessEnvironment &env);
    ~DrivenProgram();
    DrivenProgram(const DrivenProgram &) = delete;
    DrivenProgram &operator=(const DrivenProgram &) = delete;

    bool started();
    // Sends a command and returns its answer line.
    QString command(const QString &line);
    // Sends a command without waiting for its answer (it is on its way when this returns).
    void send(const QString &line);
    // Waits at most `ms` milliseconds for the next answer line; empty when none came.
    QString answer_within(int ms);
    // Ends the program with SIGKILL and returns the answer lines it had written still unread.
    QStringList kill();
    // The program ended on its own, normally.
    bool finished();

  private:
    QProcess process_;
};

} // namespace yunshan::test
