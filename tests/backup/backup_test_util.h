#pragma once
// A notes database in temporary main and backup folders, the run's settings and a progress panel
// that records what it was told, for the backup tests.
#include "backup/local_backup.h"
#include "backup/webdav.h"
#include "platform/paths.h"
#include "settings/run_settings.h"
#include "store/note_store.h"
#include "support/scripted_dialogs.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace yunshan::test {

class BackupTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // The command's context over this fixture's store, settings, session and dialogs.
    BackupContext context();
    // Points the run's WebDAV settings at `url` with these credentials; the exit upload is on.
    void use_share(const QString &url, const QString &user, const QString &password);
    // A row in set_table of the main (and backup) database.
    void write_row(const QString &key, const QString &value);
    // Adds `bytes` of incompressible data to the main database only.
    void grow_main(qsizetype bytes);
    QString main_file() const { return database_file_in(zhu); }
    QString dated(int days_back) const;

    TempFolder dir;
    QString program, zhu, bei;
    ScriptedDialogs dialogs;
    NoteStore store{QStringLiteral("yunshan_backup_test")};
    RunSettings run;
    WebDavSession session;
    QDate today{2024, 3, 15};
    QStringList shown_lines; // progress lines, in order
    int hides = 0;
    bool esc = false;
};

} // namespace yunshan::test
