#pragma once
// The flat text buttons of the window's commands (tool bar, editing group, picture group).
#include <QString>

class QToolButton;
class QWidget;

namespace yunshan {

// A raised-on-hover button named `id`, with `hint` as its tooltip, status tip and accessible
// description (none when empty). No fixed accessible name: screen readers read the text, which
// some buttons change.
QToolButton *make_command_button(QWidget *parent, const char *id, const QString &text, const QString &hint = {});

} // namespace yunshan
