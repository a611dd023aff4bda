#pragma once
// Another machine on the same share, for the sync tests: it takes a copy of a notes database,
// changes it and uploads it, as a second installation would.
#include "backup/webdav.h"

#include <QString>

namespace yunshan::test {

// Copies `database` to `work_folder`/notedb.sl3, runs `sql` (unqualified table names, one or
// more statements) on the copy and uploads it to `account` packed with `zip_password`. Fails the
// current test when the upload does not go through.
void upload_changed_copy(const QString &database, const QString &sql, const WebDavAccount &account,
                         const QString &zip_password, const QString &work_folder);

} // namespace yunshan::test
