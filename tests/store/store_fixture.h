#pragma once
#include "platform/paths.h"
#include "store/note_store.h"
#include "support/scripted_dialogs.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

namespace yunshan::test {

// An empty program folder (so no notedb.sl3 beside the test binary interferes), a main and a
// backup folder, scripted dialogs and a lock name of the test's own.
class StoreTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        program = dir.mkdir(QStringLiteral("program"));
        zhu = dir.mkdir(QStringLiteral("主目录"));
        bei = dir.mkdir(QStringLiteral("备份"));
        set_program_folder_override(program);
    }
    void TearDown() override { set_program_folder_override({}); }

    QString main_file() const { return database_file_in(zhu); }
    QString backup_file() const { return database_file_in(bei); }

    TempFolder dir;
    QString program, zhu, bei;
    ScriptedDialogs dialogs;
    QString lock = QStringLiteral("yunshan_note_test");
};

} // namespace yunshan::test
