#pragma once
// Files only this user may see or plant: the autosave bodies and the single-writer lock live in
// folders of mode 0700 owned by the user, and files there are 0600 and opened without following
// symbolic links.
#include <QByteArray>
#include <QString>

#include <optional>

namespace yunshan {

// Whether `folder` is a real folder (not a link), owned by this user and closed to others.
bool is_private_folder(const QString &folder);

// Creates `folder` (and missing parents) with mode 0700. An existing folder of this user that
// others may enter is closed to them when `tighten` is set (else it fails: files may already
// have been planted in it). False when it is a link, not a folder, or belongs to someone else.
bool ensure_private_folder(const QString &folder, bool tighten = true);

// Replaces `path` with `bytes`: written to a side file with mode 0600, synced, then renamed over
// `path`, so a power cut leaves the old or the new file whole. Neither name is followed when it
// is a symbolic link. False when the folder is not private or the write failed.
bool write_private_file(const QString &path, const QByteArray &bytes);

// The bytes of `path` when it is a regular file of this user in a private folder; a symbolic
// link, another user's file or a missing file read as nothing.
std::optional<QByteArray> read_private_file(const QString &path);

} // namespace yunshan
