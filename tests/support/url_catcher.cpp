#include "support/url_catcher.h"

#include <QDesktopServices>

namespace yunshan::test {

UrlCatcher::UrlCatcher(const QStringList &schemes) : schemes_(schemes)
{
    for (const QString &scheme : schemes_)
        QDesktopServices::setUrlHandler(scheme, this, "open");
}

UrlCatcher::~UrlCatcher()
{
    for (const QString &scheme : schemes_)
        QDesktopServices::unsetUrlHandler(scheme);
}

} // namespace yunshan::test
