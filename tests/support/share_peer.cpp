#include "support/share_peer.h"

#include "platform/paths.h"
#include "platform/silent_dialogs.h"
#include "store/connection.h"
#include "store/database_files.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

namespace yunshan::test {

void upload_changed_copy(const QString &database, const QString &sql, const WebDavAccount &account,
                         const QString &zip_password, const QString &work_folder)
{
    QDir().mkpath(work_folder);
    const QString copy = join_path(work_folder, QStringLiteral("notedb.sl3"));
    QFile::remove(copy);
    ASSERT_TRUE(QFile::copy(database, copy)) << database.toStdString();
    QFile::setPermissions(copy, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    {
        Connection db;
        db.open(copy, false);
        for (const QString &statement : sql.split(QLatin1Char(';'), Qt::SkipEmptyParts))
            if (!statement.trimmed().isEmpty())
                db.execute(statement);
    }
    WebDavSession session;
    QString shown;
    SilentDialogs dialogs(Dialogs::Answer::No, [&shown](const QString &text) { shown += text; });
    ASSERT_EQ(upload_package(session, account, copy, zip_password, dialogs, UploadSteps{}), UploadOutcome::Uploaded)
        << shown.toStdString();
}

} // namespace yunshan::test
