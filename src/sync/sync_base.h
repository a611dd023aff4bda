#pragma once
// What this machine knows of the share since its last sync: the fingerprints of the database the
// share held then (after a download, the downloaded one; after an upload, exactly the uploaded
// one), with the share file's identity and this machine's generation stamp at that moment in
// their `meta`. Kept in the user's private state folder ($XDG_STATE_HOME/YunShanNote/, 0700;
// the file 0600), one file per main database (keyed by its path), so two data folders never
// share a base. The file holds hashes, ids and setting names, no text of a note.
#include "sync/fingerprints.h"

#include <QString>

#include <optional>

namespace yunshan::sync {

// The meta key of the local generation stamp the base was taken at.
inline constexpr const char *kBaseGenerationKey = "local_generation";

// The base file of the main database file `main_database`.
QString sync_base_file(const QString &main_database);

// The base of `main_database`; nothing when there is none yet or it cannot be read (`why` then
// says why; empty for none).
std::optional<Fingerprints> load_sync_base(const QString &main_database, QString *why = nullptr);
// Replaces the base (written whole beside it and renamed). Throws SyncError.
void save_sync_base(const QString &main_database, const Fingerprints &base);
// Removes the base: the next sync knows no common state.
void forget_sync_base(const QString &main_database);

// Whether two fingerprints hold the same notes, categories, pictures and settings, leaving out
// what each machine keeps for itself (the generation stamp, the autosave key, the exit stamp).
bool same_notes(const Fingerprints &a, const Fingerprints &b);

} // namespace yunshan::sync
