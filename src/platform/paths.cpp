#include "platform/paths.h"

#include "platform/private_files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace yunshan {

namespace {
QString g_program_folder;
QString g_program_file;
QString g_autosave_folder;

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

QString state_folder()
{
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    const QString folder = with_slash(base) + QStringLiteral("YunShanNote/");
    ensure_private_folder(folder);
    return folder;
}

QString autosave_folder()
{
    if (!g_autosave_folder.isEmpty())
        return with_slash(g_autosave_folder);
    return state_folder();
}

void set_program_folder_override(const QString &folder)
{
    g_program_folder = folder;
}
void set_program_file_override(const QString &file)
{
    g_program_file = file;
}
void set_autosave_folder_override(const QString &folder)
{
    g_autosave_folder = folder;
}

} // namespace yunshan
