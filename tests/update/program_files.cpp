#include "program_files.h"

#include "support/temp_folder.h"

#include <QFile>
#include <QProcess>

namespace yunshan::test {

QByteArray script(const char *says)
{
    return QByteArray("#!/bin/sh\necho ") + says + "\n";
}

void write_program(const QString &path, const char *says)
{
    TempFolder::write(path, script(says));
    QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner);
}

QByteArray run(const QString &program)
{
    QProcess p;
    p.start(program, {});
    if (!p.waitForFinished(10000))
        return "did not run";
    return p.readAllStandardOutput().trimmed();
}

} // namespace yunshan::test
