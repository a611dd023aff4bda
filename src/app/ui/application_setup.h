#pragma once
class QApplication;
#include <QString>

namespace yunshan {
// Application-wide set-up shared by the program and the GUI tests: names, Chinese Qt
// translations (dialog buttons read 是/否/取消), the UI font.
void setup_application(QApplication &app);
// The family used for 宋体 in this system: 宋体 / SimSun when present, else a CJK font.
QString ui_font_family();
} // namespace yunshan
