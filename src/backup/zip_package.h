#pragma once
// The ZIP package that carries the database to the WebDAV share and back: one deflated entry,
// optionally under the traditional ZIP encryption, built and read in memory or through a file.
#include <QByteArray>
#include <QString>

#include <stdexcept>
#include <string>

namespace yunshan {

// Any failure of packing or unpacking: unreadable source, damaged or hostile archive, wrong
// password, disk errors while extracting. what() is UTF-8 text for the error box.
class ArchiveError : public std::runtime_error {
public:
    explicit ArchiveError(const std::string &message) : std::runtime_error(message) {}
    explicit ArchiveError(const QString &message) : std::runtime_error(message.toStdString()) {}
};

// The message of a failed password check; also used for an encrypted entry read without a
// password and for encrypted data that does not decompress to its CRC.
inline constexpr const char *kWrongPasswordMessage = "Wrong password or corrupted file";

// Packs the file at `source_path` into a new archive held in memory: one entry named after the
// file's base name (UTF-8), deflated, encrypted when `password` is not empty (password bytes in
// code page 936). The file is streamed, never loaded whole; it must not change meanwhile.
QByteArray build_package(const QString &source_path, const QString &password);
// The same archive, byte for byte, written to the file `archive_path` (created or truncated),
// so a large database never has to fit in memory.
void build_package_file(const QString &source_path, const QString &password, const QString &archive_path);

// Extracts every entry of `archive` into `folder` (created when missing), creating sub-folders and
// overwriting existing files. The whole archive is checked first (structure, names, passwords);
// each file is written beside its target and renamed into place only once every entry has been
// written and its CRC verified, so a failure leaves the folder as it was.
void extract_package(const QByteArray &archive, const QString &password, const QString &folder);
// The same for an archive in a file; the file is mapped and streamed through, never read whole.
void extract_package_file(const QString &archive_path, const QString &password, const QString &folder);

// The contents of the first entry of the central directory (the program file of an update
// package), with the same checks as extract_package, CRC included. Nothing is written to disk.
QByteArray read_first_entry(const QByteArray &archive, const QString &password = QString());

} // namespace yunshan
