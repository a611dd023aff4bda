#pragma once
// Folders the program uses: its own folder (a notedb.sl3 there wins over the configured
// folders) and the user's private state folder (autosave files). Both can be redirected for tests.
#include <QString>

namespace yunshan {

// Joins two path pieces with exactly one "/" between them.
QString join_path(const QString &folder, const QString &name);

// Folder of the executable, ending in "/".
QString program_folder();
// Path of the executable itself.
QString program_file();
// The user's state folder of this program, ending in "/": $XDG_STATE_HOME/YunShanNote/ (by
// default ~/.local/state/YunShanNote/), created with mode 0700. It survives a reboot.
QString state_folder();
// Where autosave files lie, ending in "/": the state folder (made private when it is not).
QString autosave_folder();

// Overrides for tests; an empty text restores the default.
void set_program_folder_override(const QString &folder);
void set_program_file_override(const QString &file);
void set_autosave_folder_override(const QString &folder);

} // namespace yunshan
