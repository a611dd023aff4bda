#pragma once
// Sync of the local main database with the package on the WebDAV share, without losing an edit
// made on either side.
//
// After every successful download or upload this machine keeps a base (sync/sync_base.h): the
// fingerprints of what the share then held, the share file's identity and the local generation
// stamp. A sync compares the share's identity (a Depth 0 PROPFIND) with the base's and the local
// stamp with the base's, and then:
//   - nothing changed: nothing moves;
//   - only this machine changed: nothing is downloaded (an upload sends the changes);
//   - only the share changed: the package is downloaded and takes the main file's place (the
//     replaced file goes into a ring of ten numbered copies; a share copy older than the local
//     one is questioned);
//   - both changed, or no base is known yet: the package is downloaded, the local database merged
//     into it row by row (sync/merge.h; notes changed on both sides keep this machine's version as
//     a conflict copy), the merged file takes the main file's place and is uploaded.
// The backup folder's file is renewed with the main file (the old one kept aside as
// notedb_old_*), and an upload is sent only while the share still holds the package the sync
// looked at, so an upload of another machine is never overwritten.
#include "backup/local_backup.h"
#include "settings/run_settings.h"
#include "sync/merge.h"

#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>

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
    Dialogs &dialogs; // used from the thread the sync runs on (see BackupPanel::on_main)
    BackupPanel panel;
    // The local time written into the captions of conflict copies.
    std::function<QDateTime()> now = [] { return QDateTime::currentDateTime(); };
};

enum class SyncPurpose {
    StartUp,      // the start-up sync: the share's changes come in; a merged file goes up at once
    SyncNow,      // "立即同步": the share's changes come in, this machine's go up
    BeforeUpload, // an upload (backup, exit): the share's changes come in first, then the upload
};

struct SyncOutcome {
    bool completed = false;     // nothing failed, nothing was cancelled or declined
    bool replaced = false;      // another file is the main database now (downloaded or merged)
    bool uploaded = false;      // the local database went to the share
    bool share_current = false; // the share holds every change of this machine
    bool cancelled = false;     // ESC
    std::optional<sync::MergeReport> merge;
    QDateTime merged_at;
};

// The message after a merge that made conflict copies or renamed categories; empty when there is
// nothing to tell. `when` is the time in the copies' captions.
QString conflict_report_text(const sync::MergeReport &report, const QDateTime &when);

// The sync for `purpose` (see the top of this file). Messages for failures and refusals are shown
// through the context's dialogs; the conflict message is left to the caller. Transport failures
// of a request throw HttpError (the progress panel stays shown). May run on a worker thread: the
// store is used through `panel.on_main` only.
SyncOutcome sync_with_share(SyncContext &c, SyncPurpose purpose);

// The sync of the start-up step, of "立即从网盘同步…" and of the settings dialog's "立即同步". True
// when it completed; false when the local database was kept unchanged for a reason already
// shown (ESC, a short answer of the server, a package that cannot be read or holds no sound notes
// database, the user's choice to keep a newer local database). `outcome` receives the details.
bool load_from_webdav(SyncContext &c, SyncPurpose purpose = SyncPurpose::SyncNow, SyncOutcome *outcome = nullptr);

} // namespace yunshan
