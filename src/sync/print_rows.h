#pragma once
// Fingerprints of single rows, read the same way as the whole-database scan, so that the merge
// can bring the fingerprints of the rows it wrote up to date without reading the file again.
#include "sync/fingerprints.h"

#include <QByteArray>

#include <optional>

namespace yunshan::sync::detail {

// Which optional tables the file has. Throws SyncError when a table every notes database has
// is missing, or when `title` lacks the columns added by the schema upgrade.
struct Layout {
    bool settings = false; // set_table
    bool spare = false;    // beiyong_table
};
Layout check_layout(Connection &db, const QString &name);

// Whether the file still has the layout of an earlier version (no `beiyong_table`).
bool needs_upgrade(Connection &db);

// The hash of a caption's bytes, as the category fingerprints hold it.
quint64 caption_hash(const QByteArray &caption);

bool note_present(const NotePrint &p);

NotePrint read_note(Connection &db, qint64 id); // every flag off when nothing of it is there
std::optional<CategoryPrint> read_category(Connection &db, bool major, qint64 id);
std::optional<PicturePrint> read_picture(Connection &db, qint64 id);
std::optional<SettingPrint> read_setting(Connection &db, const QString &key);
std::optional<SparePrint> read_spare(Connection &db, qint64 key);
QMap<QString, qint64> read_sequences(Connection &db);

} // namespace yunshan::sync::detail
