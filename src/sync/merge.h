#pragma once
// Three-way merge of two notes databases that share a past: this machine's database and the
// share's copy, both grown from what the share held at the last sync. Instead of one replacing
// the other (losing the edits of one machine), every row takes the side that changed it.
//
// How the sync uses it
//
//   Keep the fingerprints (sync/fingerprints.h) of what the share holds after every sync, in a
//   private file of this machine:
//     - after an upload of the local database:  save_fingerprints(compute_fingerprints(local), f)
//     - after a download that replaced it:     the same, on the downloaded file
//   When the share has changed since (its size, time or tag differ from those kept in `meta`):
//     1. download and unpack the share's database into a temporary file T;
//     2. auto base = load_fingerprints(f);            // nothing on the first sync: see below
//     3. MergeResult r = merge_databases(base, local, T, QDateTime::currentDateTime());
//        (reading the local file is half of the merge's time: fingerprint_local(local) run
//        while step 1 downloads, and handed to the merge, takes it out of the wait);
//        T is now the merged database; the local file has not been touched;
//     4. replace the local database by T (as a download does) and upload it;
//     5. r.merged.meta = the uploaded file's size, time, tag; save_fingerprints(r.merged, f).
//   r.merged are the fingerprints of T after the merge, so step 5 reads nothing again.
//
// The rules, row by row (categories, notes, pictures, settings, spare rows)
//
//   - Changed on one side only: that side's version.
//   - A note's content is in three parts: the title row (caption and encryption mode `isDel`),
//     the notes row (tag line and plain-text body) and the RTF body. Parts changed on different
//     sides combine. When both sides changed the same part to different values, the note is in
//     conflict: the share's version stays in place, and this machine's version (all three parts
//     and its pictures) is added as a new note in the same minor category and order, not a
//     favourite, its caption followed by conflict_copy_suffix(now). A note encrypted with title (isDel 1) keeps its
//     stored caption in the copy: the caption is ciphertext, and text appended to it would make the note unreadable
//     (MergeReport::unmarked_copies counts these).
//   - Order `px`, favourite `fast` and place (classId, sectionId) merge field by field and never
//     make a copy: changed on both sides, the share's value wins. A category's caption, `px` and
//     (for a minor category) its major category likewise.
//   - Deleted on one side and changed on the other: kept, in the changed version. A category
//     deleted on one side also stays when notes changed on the other side still lie in it.
//   - Rows new on this machine are added; notes, categories, pictures and spare rows get ids
//     after the share's highest ids and its `sqlite_sequence`, so they never take an id the
//     share has used; titles, bodies, pictures and category references follow them. A new
//     major category of this machine whose caption equals (ignoring case) a major category new
//     on the share is the same category, and so is a new minor category with exactly the caption
//     of a new minor category of the share: their contents meet in the share's row.
//   - Captions stay unique (major categories ignoring case, minor categories across all major
//     ones): when a change of this machine would repeat a caption, this machine's category is
//     renamed with category_suffix(now) (MergeReport::renames).
//   - Encrypted notes are compared and copied as stored; nothing is decrypted.
//   - `set_table` merges key by key with the share winning a conflict, except "tmp_file1" (this
//     machine's autosave bookkeeping), which keeps the local rows, and "yz_generation", which is
//     left as the share has it for the caller to rewrite (the merge never reads that key, so the
//     fingerprints need not follow the rewrite).
//   - Without base fingerprints (first sync, or a lost file) nothing is known to be deleted:
//     every row of either side is kept, and a row of this machine that the share lacks is added
//     under an id the share never used. Notes with the same id but different content count as
//     changed on both sides (a conflict copy); categories meet by caption.
//
// The result is an ordinary notes database with the schema unchanged (a share file of an older
// layout receives the start-up upgrade first). All writes go into the share's file in one
// transaction: unchanged rows of the share are not rewritten, and a failure leaves the file as
// it was. The local file is opened only for reading. The two files are read on two threads;
// for two databases of 100,000 notes (900 MB) that takes about 1.3 s and 40 MB (bench/sync).
#include "sync/fingerprints.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

namespace yunshan::sync {

struct CategoryRename {
    bool major = false;
    QString from;
    QString to;
    friend bool operator==(const CategoryRename &, const CategoryRename &) = default;
};

struct MergeReport {
    // Notes, categories, pictures, settings and spare rows into which a change of this machine
    // was written: a new row, a changed part or field, a deletion.
    int applied_local_changes = 0;
    // Notes changed on both sides: the share's version in place, this machine's as a copy.
    int conflict_copies = 0;
    // Of those, copies of notes encrypted with title whose caption carries no mark.
    int unmarked_copies = 0;
    // Rows deleted on one side and kept because the other side changed them (or because notes
    // changed on the other side lie in a deleted category).
    int kept_deletions = 0;
    // Rows new on this machine that received another id.
    int renumbered_rows = 0;
    // Categories of this machine renamed so that captions stay unique.
    int renamed_categories = 0;

    QList<qint64> copy_ids;        // note ids of the conflict copies in the merged database
    QList<CategoryRename> renames; // in the order they were made

    // Whether the merged database differs from the share's.
    bool changed_share() const
    {
        return applied_local_changes + conflict_copies + kept_deletions + renamed_categories > 0;
    }
};

struct MergeResult {
    MergeReport report;
    // Fingerprints of the merged database (`meta` empty).
    Fingerprints merged;
};

// "（冲突副本 yyyy-mm-dd hh:mm）": appended to the caption of a conflict copy.
QString conflict_copy_suffix(const QDateTime &now);
// "（冲突 yyyy-mm-dd hh:mm）", or with " 2", " 3" … before the closing parenthesis when that
// caption is taken too: appended to a category renamed to keep captions unique.
QString category_suffix(const QDateTime &now, int attempt = 1);

// This machine's fingerprints made ahead of the merge, for example while the share's file
// downloads, so that the merge itself reads only the share's file. `stamp` is the state of the
// file (size, time, the engine's change counter) they were made from: the merge uses them only
// while the file is still in that state and reads it again otherwise.
struct LocalPrints {
    Fingerprints prints;
    QString stamp;
};
LocalPrints fingerprint_local(const QString &local_database);

// Merges `local_database` (read only) into `share_database` (changed in place). `base`: the
// fingerprints of what the share held at the last sync, or nothing when unknown. `now`: the
// local time written into conflict captions. `ahead`: see LocalPrints. The local file is read in
// one read transaction, so a write to it waits until the merge is done. Throws SyncError (with
// the engine's text) when a file cannot be read or written or is not a notes database; the
// share's file is then unchanged.
MergeResult merge_databases(const std::optional<Fingerprints> &base, const QString &local_database,
                            const QString &share_database, const QDateTime &now, const LocalPrints *ahead = nullptr);

} // namespace yunshan::sync
