#pragma once
// Checks that the backup database mirrors the main one: same tables, same rows, same ids.
#include "store/connection.h"

#include <QString>

#include <memory>

namespace yunshan {
class NoteStore;
class Connection;
} // namespace yunshan

namespace yunshan::test {

// Every table's rows (ordered by rowid) and the schema text, as one comparable dump.
QString dump_database(yunshan::Connection &db);
QString dump_database_file(const QString &path);

// Runs a statement written for one database (unqualified table names) through the store's write
// path on both databases; returns the rows changed in the main database. For setting up tests.
int write_sql(yunshan::NoteStore &store, const QString &sql, const yunshan::SqlParams &params = {});
// The statement with its table names qualified as main.<table>.
QString qualified_sql(const QString &sql);

// A connection of its own on the store's backup file, for looking at it.
std::unique_ptr<yunshan::Connection> open_backup(yunshan::NoteStore &store);

// Fails the current test (with the first difference) when main and backup differ.
void expect_mirror_identical(yunshan::NoteStore &store);
void expect_files_identical(const QString &main_file, const QString &backup_file);

// Creates a database file in the shape of an old version: no beiyong_table, no `fast`
// and reserved columns, optionally without set_table; with one category and one note.
void make_old_database(const QString &path, bool with_set_table = true);

} // namespace yunshan::test
