#include "platform/settings_store.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace yunshan {

QString SettingsStore::default_location()
{
#ifdef Q_OS_WIN
    return QStringLiteral("HKEY_CURRENT_USER\\Software\\YunShanNote");
#else
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/YunShanNote/YunShanNote.ini");
#endif
}

SettingsStore::SettingsStore() : SettingsStore(default_location()) {}

SettingsStore::SettingsStore(const QString &ini_path)
#ifdef Q_OS_WIN
    : settings_(std::make_unique<QSettings>(
          ini_path, ini_path.startsWith(QStringLiteral("HKEY_")) ? QSettings::NativeFormat : QSettings::IniFormat))
#else
    : settings_(std::make_unique<QSettings>(ini_path, QSettings::IniFormat))
#endif
{
}

SettingsStore::~SettingsStore() = default;

bool SettingsStore::exists() const
{
    if (settings_->format() == QSettings::IniFormat)
        return QFileInfo::exists(settings_->fileName()) || !settings_->allKeys().isEmpty();
    return !settings_->allKeys().isEmpty();
}

QString SettingsStore::value(const QString &name) const
{
    return settings_->value(name).toString();
}

void SettingsStore::set_value(const QString &name, const QString &value)
{
    settings_->setValue(name, value);
    settings_->sync();
}

QString SettingsStore::location() const
{
    return settings_->fileName();
}

} // namespace yunshan
