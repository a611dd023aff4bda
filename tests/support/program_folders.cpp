#include "support/program_folders.h"

#include "platform/paths.h"

#include <QFile>

namespace yunshan::test {

ProgramFolders::ProgramFolders()
{
    zhu = dir.mkdir(QStringLiteral("main"));
    bei = dir.mkdir(QStringLiteral("backup"));
    tmp = dir.mkdir(QStringLiteral("tmp"));
    QFile::setPermissions(tmp, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    program = dir.mkdir(QStringLiteral("program"));
    set_program_folder_override(program);
    set_autosave_folder_override(tmp);
    settings = std::make_unique<SettingsStore>(dir.file(QStringLiteral("YunShanNote.ini")));
    settings->set_zhu_db(zhu);
    settings->set_bei_db(bei);
}

ProgramFolders::~ProgramFolders()
{
    set_program_folder_override({});
    set_autosave_folder_override({});
}

} // namespace yunshan::test
