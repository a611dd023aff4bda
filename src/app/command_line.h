#pragma once
// The program's command line: --help and --version print their text and end the program before
// any window is made (no display is needed for them).
#include <QString>

#include <optional>

namespace yunshan {

// The desktop entry, metainfo and icon name of the program.
inline constexpr char kApplicationId[] = "org.example.YunShanNote";

// Name, organisation, version and desktop entry of the application (the settings file's
// folder and name come from the first two).
void set_application_identity();

// The texts printed for --version and --help; `program` is the name the program was started as.
QString version_text();
QString help_text(const QString &program);

// Reads the command line before the application starts. Returns the exit code when the program
// should end now (the help or version text has been printed), nothing when it should start.
// Everything else is left alone: the toolkit takes its own options (-platform, -style, ...)
// when the application object is made.
std::optional<int> answer_command_line(int argc, char **argv);

} // namespace yunshan
