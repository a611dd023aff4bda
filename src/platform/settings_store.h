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

    // The named values, each with its reader and writer.
    QString zhu_db() const { return value(QStringLiteral("zhu_db")); } // main data folder
    void set_zhu_db(const QString &v) { set_value(QStringLiteral("zhu_db"), v); }
    QString bei_db() const { return value(QStringLiteral("bei_db")); } // backup folder
    void set_bei_db(const QString &v) { set_value(QStringLiteral("bei_db"), v); }
    QString auto_backup() const { return value(QStringLiteral("auto")); } // "1": back up at exit
    void set_auto_backup(const QString &v) { set_value(QStringLiteral("auto"), v); }
    QString tian() const { return value(QStringLiteral("tian")); } // retention days
    void set_tian(const QString &v) { set_value(QStringLiteral("tian"), v); }
    QString font_name() const { return value(QStringLiteral("font_name")); } // editor font
    void set_font_name(const QString &v) { set_value(QStringLiteral("font_name"), v); }
    QString font_size() const { return value(QStringLiteral("font_size")); } // points
    void set_font_size(const QString &v) { set_value(QStringLiteral("font_size"), v); }

    static QString default_location();

  private:
    std::unique_ptr<QSettings> settings_;
};

} // namespace yunshan
