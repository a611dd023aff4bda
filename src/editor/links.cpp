#include "editor/links.h"

#include <QColor>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>

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

namespace {

// A block's user state once its look matches its text. Edits keep the state, so every edited
// block is looked at again when the document reports the change.
constexpr int kLookUpToDate = 0x4C4E4B;

// Gives `block` the look of its links; true when its layout's formats changed.
bool give_look(QTextBlock block)
{
    if (block.userState() == kLookUpToDate)
        return false;
    block.setUserState(kLookUpToDate);
    QList<QTextLayout::FormatRange> ranges;
    const QString text = block.text();
    // Every link holds ':' or "www."; most lines hold neither.
    if (text.contains(QLatin1Char(':')) || text.contains(QLatin1String("www."), Qt::CaseInsensitive)) {
        QTextCharFormat look;
        look.setForeground(QColor(0, 0, 255));
        look.setFontUnderline(true);
        auto it = link_pattern().globalMatch(text);
        while (it.hasNext()) {
            const QRegularExpressionMatch m = it.next();
            ranges.append({static_cast<int>(m.capturedStart()), static_cast<int>(m.capturedLength()), look});
        }
    }
    QTextLayout *layout = block.layout();
    if (!layout || layout->formats() == ranges)
        return false;
    layout->setFormats(ranges);
    return true;
}

} // namespace

LinkLook::LinkLook(QTextDocument &doc) : QObject(&doc), doc_(doc)
{
    connect(&doc, &QTextDocument::contentsChange, this, &LinkLook::contents_change);
}

LinkLook &LinkLook::of(QTextDocument &doc)
{
    if (auto *look = doc.findChild<LinkLook *>(QString(), Qt::FindDirectChildrenOnly))
        return *look;
    return *new LinkLook(doc);
}

void LinkLook::show_blocks(const QTextBlock &first, const QTextBlock &last)
{
    if (!first.isValid())
        return;
    const QTextBlock end = last.isValid() ? last.next() : QTextBlock();
    for (QTextBlock b = first; b.isValid() && b != end; b = b.next()) {
        // New formats drop the block's lines: it is laid out again (and nothing else is).
        if (give_look(b))
            doc_.markContentsDirty(b.position(), b.length());
    }
}

void LinkLook::contents_change(int from, int removed, int added)
{
    // The document lays out the changed blocks after this signal: formats given now go with that.
    const QTextBlock first = doc_.findBlock(from);
    const QTextBlock last = doc_.findBlock(from + std::max(added, 0));
    const QTextBlock end = last.isValid() ? last.next() : QTextBlock();
    // A body put into an empty document is laid out bit by bit: its blocks get their look when
    // shown, like those of an opened note.
    const bool whole = from == 0 && removed == 0 && added >= doc_.characterCount() - 1;
    for (QTextBlock b = first; b.isValid() && b != end; b = b.next()) {
        b.setUserState(-1);
        if (!whole)
            give_look(b);
    }
}

} // namespace yunshan
