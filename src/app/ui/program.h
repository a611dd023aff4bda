#pragma once
class QApplication;

namespace yunshan {
// Program entry: sets up the application, creates the main window and the settings dialog,
// and runs the message loop.
int run_program(QApplication &app);
} // namespace yunshan
