#pragma once
// Tables of notedb.sl3, their creation on a new file and the upgrade of older files.
#include <QStringList>

namespace yunshan {

class Connection;
class NoteStore;

// The twelve statements that make a new file, in order, exactly as run.
const QStringList &creation_statements();
// The nine statements that bring a file without beiyong_table up to date.
const QStringList &upgrade_statements();

// Runs the creation statements on a freshly opened, empty main database.
void create_schema(Connection &main);
// Upgrades the open main database (and the backup, following the main's answer).
// Returns true when an upgrade ran. Does nothing when the main database is closed.
bool upgrade_schema(NoteStore &store);
// Brings the database file `path` (not one the store has open) up to date as a start-up does, in
// one transaction; nothing happens to a file that is already. Throws DbError.
void upgrade_database_file(const QString &path);

} // namespace yunshan
