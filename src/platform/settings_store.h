#pragma once
// Per-user settings of this computer (data folders, exit backup, retention, editor font).
// On Linux an INI file $XDG_CONFIG_HOME/YunShanNote/YunShanNote.ini with the values under
// [General]; on Windows the registry key HKCU\Software\YunShanNote.
#include <QString>

#include <memory>

class QSettings;

namespace yunshan {

class SettingsStore {
public:
    // The user's store (default location).
    SettingsStore();
    // A store in an explicit INI file (tests, portable set-ups).
    explicit SettingsStore(const QString &ini_path);
    ~SettingsStore();
    SettingsStore(const SettingsStore &) = delete;
    SettingsStore &operator=(const SettingsStore &) = delete;

    // Whether the store has been written at all (the registry key exists).
    bool exists() const;
    // A missing value reads as empty text.
    QString value(const QString &name) const;
    // Writes a string value, creating the store when missing.
    void set_value(const QString &name, const QString &value);

    QString location() const;

    static QString default_location();

private:
    std::unique_ptr<QSettings> settings_;
};

} // namespace yunshan
