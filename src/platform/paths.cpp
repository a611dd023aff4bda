#include "platform/paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace yunshan {

namespace {
QString g_program_folder;
QString g_program_file;
QString g_temp_folder;

QString with_slash(QString folder)
{
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}
} // namespace

QString join_path(const QString &folder, const QString &name)
{
    if (folder.isEmpty())
        return name;
    QString n = name;
    while (n.startsWith(QLatin1Char('/')))
        n.remove(0, 1);
    return with_slash(folder) + n;
}

QString program_folder()
{
    if (!g_program_folder.isEmpty())
        return with_slash(g_program_folder);
    return with_slash(QFileInfo(program_file()).absolutePath());
}

QString program_file()
{
    if (!g_program_file.isEmpty())
        return g_program_file;
    return QCoreApplication::applicationFilePath();
}

QString temp_folder()
{
    if (!g_temp_folder.isEmpty())
        return with_slash(g_temp_folder);
    // The long (link-resolved) form of the folder, as the autosave files are named by it.
    const QString canonical = QFileInfo(QDir::tempPath()).canonicalFilePath();
    return with_slash(canonical.isEmpty() ? QDir::tempPath() : canonical);
}

void set_program_folder_override(const QString &folder) { g_program_folder = folder; }
void set_program_file_override(const QString &file) { g_program_file = file; }
void set_temp_folder_override(const QString &folder) { g_temp_folder = folder; }

} // namespace yunshan
