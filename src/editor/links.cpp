#include "editor/links.h"

namespace yunshan {

const QRegularExpression &link_pattern()
{
    static const QRegularExpression pattern(
        QStringLiteral(R"((?:\b(?:https?|ftp|file|mailto|news|nntp|telnet|gopher|wais|prospero):|\bwww\.)[^\s<>"]+)"),
        QRegularExpression::CaseInsensitiveOption);
    return pattern;
}

QString link_at(const QString &line, int offset)
{
    auto it = link_pattern().globalMatch(line);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        if (offset >= m.capturedStart() && offset < m.capturedEnd())
            return m.captured();
    }
    return {};
}

std::optional<QUrl> openable_link(const QString &link)
{
    QString text = link.trimmed();
    if (text.startsWith(QLatin1String("www."), Qt::CaseInsensitive))
        text.prepend(QLatin1String("http://"));
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    const QString scheme = url.scheme().toLower();
    if ((scheme == QLatin1String("http") || scheme == QLatin1String("https")) && !url.host().isEmpty())
        return url;
    if (scheme == QLatin1String("mailto") && !url.path().isEmpty())
        return url;
    return std::nullopt;
}

QString link_refused_text(const QString &link)
{
    return QStringLiteral("只能打开网页和邮件地址，此链接没有打开：") + link;
}

} // namespace yunshan
