#pragma once
// Web addresses in a note: which text shows as a link, and which links may be opened. Only web
// and mail addresses are handed to the desktop: a file or program link could start a program.
#include <QRegularExpression>
#include <QString>
#include <QUrl>

#include <optional>

namespace yunshan {

// The addresses the editor shows as links (scheme-led addresses and "www." names).
const QRegularExpression &link_pattern();

// The link under position `offset` of a line of text, empty when there is none.
QString link_at(const QString &line, int offset);

// The address to open for a link's text: http, https and mailto addresses; "www." names as
// http. Nothing for any other kind.
std::optional<QUrl> openable_link(const QString &link);

// The message for a link that is not opened.
QString link_refused_text(const QString &link);

} // namespace yunshan
