#pragma once
// The ZIP package that carries the database to the WebDAV share and back: one deflated entry,
// optionally under the traditional ZIP encryption, built and read in memory or through a file.
#include <QByteArray>
#include <QString>

#include <functional>
#include <stdexcept>
#include <string>

namespace yunshan {

// Any failure of packing or unpacking: unreadable source, damaged or hostile archive, wrong
// password, disk errors while extracting. what() is UTF-8 text for the error box.
class ArchiveError : public std::runtime_error {
  public:
    enum class Kind {
        Damaged,       // not an archive, damaged, or built in a way this reader refuses
        WrongPassword, // the password check failed (or encrypted data does not decompress)
        MissingEntry,  // the entry asked for is not in the archive
        TooLarge,      // the entry is larger than the caller allows
        NoSpace,       // the entry does not fit on the target's disk
        LocalFile,     // a file could not be opened, created, read or written
        Cancelled,     // the cancel check asked to stop
    };
    explicit ArchiveError(const std::string &message, Kind kind = Kind::Damaged)
        : std::runtime_error(message), kind_(kind)
    {
    }
    explicit ArchiveError(const QString &message, Kind kind = Kind::Damaged)
        : std::runtime_error(message.toStdString()), kind_(kind)
    {
    }
    Kind kind() const { return kind_; }

  private:
    Kind kind_;
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

// Extracts the one file entry named `entry_name` (its path inside the archive) of the archive
// in the file `archive_path` to `target_path`; no other entry is written. The entry's size is
// checked against the free space of the target's disk and its password before anything is
// written; it is written beside the target under a temporary name, flushed to disk and renamed
// over the target once its CRC is verified, so a failure leaves the target as it was. `cancel`
// is asked before the start and after every megabyte; true ends the extraction (kind Cancelled).
void extract_entry_file(const QString &archive_path, const QString &password, const QString &entry_name,
                        const QString &target_path, const std::function<bool()> &cancel = {});

// Free space in bytes on the disk of `folder` as the extraction sees it (QStorageInfo). Tests may
// put their own function in place; an empty one restores the real query.
void set_free_space_query(std::function<qint64(const QString &folder)> query);

// The contents of the first entry of the central directory (the program file of an update
// package), with the same checks as extract_package, CRC included. Nothing is written to disk.
// An entry larger than `max_size` bytes is refused (kind TooLarge) before it is decompressed.
QByteArray read_first_entry(const QByteArray &archive, const QString &password = QString(),
                            qint64 max_size = 0x7fffffff);

} // namespace yunshan
