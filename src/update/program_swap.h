#pragma once
// Taking a new program file from an update package and putting it in place of the running
// program file P: the new file is written as P + "2X", P moves aside to P + "2" (or "3", "4", …
// when that name is taken) and P + "2X" becomes P. Every failure leaves the old program at P.
#include <QByteArray>
#include <QString>

#include <stdexcept>
#include <string>

namespace yunshan {

// A failed update step; what() is UTF-8 text for the message box. The old program is in place.
class UpdateError : public std::runtime_error {
  public:
    explicit UpdateError(const QString &message) : std::runtime_error(message.toStdString()) {}
};

// Highest suffix tried for the old program file (P + "2" … P + "10").
inline constexpr int kLastOldProgramSuffix = 10;

// Whether the program's folder lets this user replace the program file (false for a program
// installed by the package manager).
bool program_folder_writable(const QString &program_path);

// Largest program file an update package may hold; a larger entry is refused before it is
// decompressed (a small package must not unpack into gigabytes of memory).
inline constexpr qint64 kMaxProgramSize = 256 * 1024 * 1024;

// The program file inside an update package: the first entry, its CRC checked. Throws
// ArchiveError for a damaged, truncated or too large package, UpdateError for an empty entry.
QByteArray program_from_package(const QByteArray &package);

// Writes `program` to P + "2X" with the permissions of P and reads it back; returns its path.
QString write_new_program(const QString &program_path, const QByteArray &program);

// Moves P aside and P + "2X" into its place; returns where the old program went. On failure
// P + "2X" is removed, the old program is back at P, and UpdateError says what happened.
QString swap_program_file(const QString &program_path);

} // namespace yunshan
