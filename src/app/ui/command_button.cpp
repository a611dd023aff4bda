#include "app/ui/command_button.h"

#include <QToolButton>

namespace yunshan {

QToolButton *make_command_button(QWidget *parent, const char *id, const QString &text, const QString &hint)
{
    auto *b = new QToolButton(parent);
    b->setObjectName(QString::fromLatin1(id));
    b->setText(text);
    b->setAutoRaise(true);
    if (!hint.isEmpty()) {
        b->setToolTip(hint);
        b->setStatusTip(hint);
        b->setAccessibleDescription(hint);
    }
    return b;
}

} // namespace yunshan
