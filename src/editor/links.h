#pragma once
// Web addresses in a note: which text shows as a link, and which links may be opened. Only web
// and mail addresses are handed to the desktop: a file or program link could start a program.
#include <QObject>
#include <QRegularExpression>
#include <QString>
#include <QUrl>

#include <optional>

class QTextBlock;
class QTextDocument;

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

// The link look of a document: addresses drawn blue and underlined. The look lives in the blocks'
// layouts, not in the text's formats, so it is no edit and never reaches a saved note. A block
// gets it when it is about to be shown and again whenever it is edited; a long body is never
// scanned or laid out whole for it.
class LinkLook : public QObject {
    Q_OBJECT

  public:
    // The document's link look, made on first use; it lives as long as the document.
    static LinkLook &of(QTextDocument &doc);

    // Gives the blocks from `first` to `last` (in document order) their look where it is not up
    // to date. Blocks whose look changed are laid out again.
    void show_blocks(const QTextBlock &first, const QTextBlock &last);

  private:
    explicit LinkLook(QTextDocument &doc);
    void contents_change(int from, int removed, int added);

    QTextDocument &doc_;
};

} // namespace yunshan
