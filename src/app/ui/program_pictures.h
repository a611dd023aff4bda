#pragma once
// The program's own pictures (SVG in the resources): tool-bar buttons, the list marks of
// encrypted and favourite notes, and the headings tab's mark.
#include <QIcon>

namespace yunshan {

// ":/icons/<name>.svg".
QIcon program_picture(const char *name);

// The lock of encrypted notes, the favourite mark and the headings tab's mark.
enum class MarkPicture { Lock, Favourite, Headings };
QIcon mark_picture(MarkPicture which);

} // namespace yunshan
