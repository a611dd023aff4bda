#include "app/ui/program_pictures.h"

#include <QHash>

static void init_program_resources()
{
    Q_INIT_RESOURCE(resources);
}

namespace yunshan {

QIcon program_picture(const char *name)
{
    static const bool loaded = (init_program_resources(), true);
    Q_UNUSED(loaded);
    // The list delegates ask for the marks on every paint of a marked entry: each picture is
    // read once (the windows live on the GUI thread only).
    static QHash<QString, QIcon> pictures;
    const QString key = QLatin1String(name);
    auto it = pictures.find(key);
    if (it == pictures.end())
        it = pictures.insert(key, QIcon(QStringLiteral(":/icons/") + key + QStringLiteral(".svg")));
    return *it;
}

QIcon mark_picture(MarkPicture which)
{
    switch (which) {
    case MarkPicture::Lock:
        return program_picture("lock");
    case MarkPicture::Favourite:
        return program_picture("favourite");
    case MarkPicture::Headings:
        return program_picture("headings");
    }
    return QIcon();
}

} // namespace yunshan
