#pragma once
// Download of the database package from the WebDAV share in place of the local main database:
// the replaced file goes into a ring of ten numbered copies beside it, an older server copy is
// questioned, and the running WebDAV settings go into a downloaded database that has none.
#include "backup/local_backup.h"
#include "settings/run_settings.h"

#include <QString>

#include <functional>

namespace yunshan {

class Dialogs;
class NoteStore;
struct WebDavSession;

// Number of copies in the ring: `local`.bat1 … `local`.bat10.
inline constexpr int kRingSlots = 10;

// The copy `n` of `local` in the ring.
QString ring_slot(const QString &local, int n);

// Moves `local` into the ring and frees the slot after the one it took, so that once the ring is
// full one slot is always free and the slot after it holds the oldest copy. Returns the slot
// that received the file; empty when there was no file to move or it could not be moved (the
// ring is then left as it was).
QString rotate_into_ring(const QString &local);

// The question asked when the server copy is older than the local database. Stamps are local
// wall-clock seconds since 1970 read as UTC.
QString older_copy_question(qint64 remote_stamp, qint64 local_stamp);

// The running WebDAV settings and switches into the open database (mirrored), the archive
// password included, so that the next start syncs and reads the package it uploads.
void write_webdav_settings(NoteStore &store, const RunSettings &run);

struct SyncContext {
    NoteStore &store;
    RunSettings &run;
    WebDavSession &session;
    Dialogs &dialogs;
    BackupPanel panel;
};

// The download. True when the downloaded database is now the main database (and copied over the
// backup database), false when the local database was kept: ESC, a short answer of the server,
// a package that cannot be read or holds no notes database, a failed file move, or the user's
// choice to keep a newer local database. Nothing of the local files changes before the package
// has been read completely; a failure after the local file was moved puts it back and reopens
// the connections. Transport failures throw HttpError (the progress panel stays shown).
bool load_from_webdav(SyncContext &c);

} // namespace yunshan
