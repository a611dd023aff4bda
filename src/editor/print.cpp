#include "editor/print.h"

#include <QFont>
#include <QPagedPaintDevice>
#include <QTextDocument>

#include <memory>

namespace yunshan {

QString print_document_name(const QString &title)
{
    return title;
}

void print_note(const QTextDocument &body, const QFont &editor_font, QPagedPaintDevice &device)
{
    std::unique_ptr<QTextDocument> copy(body.clone());
    copy->setDefaultFont(editor_font);
    copy->print(&device);
}

} // namespace yunshan
