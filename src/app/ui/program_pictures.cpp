#include "app/ui/program_pictures.h"

static void init_program_resources()
{
    Q_INIT_RESOURCE(resources);
}

namespace yunshan {

QIcon program_picture(const char *name)
{
    static const bool loaded = (init_program_resources(), true);
    Q_UNUSED(loaded);
    return QIcon(QStringLiteral(":/icons/") + QLatin1String(name) + QStringLiteral(".svg"));
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
