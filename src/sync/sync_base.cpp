#include "sync/sync_base.h"

#include "platform/paths.h"
#include "store/database_files.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace yunshan::sync {

namespace {

QString canonical(const QString &path)
{
    const QFileInfo info(path);
    const QString c = info.canonicalFilePath();
    return c.isEmpty() ? info.absoluteFilePath() : c;
}

bool machine_setting(const QString &key)
{
    return key == QLatin1String(kGenerationKey) || key == QLatin1String("tmp_file1") ||
           key == QLatin1String("last_time");
}

Fingerprints without_machine_settings(const Fingerprints &p)
{
    Fingerprints out = p;
    out.settings.erase(std::remove_if(out.settings.begin(), out.settings.end(),
                                      [](const SettingPrint &s) { return machine_setting(s.key); }),
                       out.settings.end());
    return out;
}

} // namespace

QString sync_base_file(const QString &main_database)
{
    const QByteArray key = QCryptographicHash::hash(canonical(main_database).toUtf8(), QCryptographicHash::Sha256);
    return state_folder() + QStringLiteral("sync-base-") + QString::fromLatin1(key.toHex().left(24)) +
           QStringLiteral(".sl3");
}

std::optional<Fingerprints> load_sync_base(const QString &main_database, QString *why)
{
    auto base = load_fingerprints(sync_base_file(main_database), why);
    if (base && base->meta.value(QStringLiteral("database")) != canonical(main_database)) {
        if (why)
            *why = QStringLiteral("the base belongs to another database");
        return std::nullopt;
    }
    return base;
}

void save_sync_base(const QString &main_database, const Fingerprints &base)
{
    Fingerprints out = base;
    out.meta.insert(QStringLiteral("database"), canonical(main_database));
    save_fingerprints(out, sync_base_file(main_database));
}

void forget_sync_base(const QString &main_database)
{
    QFile::remove(sync_base_file(main_database));
}

bool same_notes(const Fingerprints &a, const Fingerprints &b)
{
    return without_machine_settings(a).same_content(without_machine_settings(b));
}

} // namespace yunshan::sync
