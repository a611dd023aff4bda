#pragma once
// Stand-ins for the program file in the update tests: small shell scripts that print one word.
#include <QByteArray>
#include <QString>

namespace yunshan::test {

// A shell script that prints `says`.
QByteArray script(const char *says);
// Writes script(`says`) to `path` and makes it executable.
void write_program(const QString &path, const char *says);
// Runs the program file and returns what it printed ("did not run" when it did not end).
QByteArray run(const QString &program);

} // namespace yunshan::test
