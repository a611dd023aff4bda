#pragma once
// The folders of one program run in a temporary folder: main and backup database folders, the
// private autosave folder and the program folder, with a settings file naming the first two.
// The program and autosave folder overrides hold while this lives.
#include "platform/settings_store.h"
#include "support/temp_folder.h"

#include <QString>

#include <memory>

namespace yunshan::test {

class ProgramFolders {
  public:
    ProgramFolders();
    ~ProgramFolders();
    ProgramFolders(const ProgramFolders &) = delete;
    ProgramFolders &operator=(const ProgramFolders &) = delete;

    TempFolder dir;
    QString zhu;     // main database folder
    QString bei;     // backup database folder
    QString tmp;     // autosave folder (0700)
    QString program; // program folder
    std::unique_ptr<SettingsStore> settings;
};

} // namespace yunshan::test
