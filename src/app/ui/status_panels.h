#pragma once
// The status bar's seven panels (StatusPanel0 … StatusPanel6): 0 the connection, 1 the character
// count, 2 and 3 the caret and the selection, 4 the body kind, 5 the update time, 6 hints and
// notices, running to the right edge. A panel of fixed width grows to show its whole text.
#include <QString>

#include <array>

class QLabel;
class QStatusBar;

namespace yunshan {

class StatusPanels {
  public:
    // Builds the panels into `bar`; panel 0 reads "等待".
    explicit StatusPanels(QStatusBar *bar);

    void set(int index, const QString &text);
    QString text(int index) const;

  private:
    std::array<QLabel *, 7> panels_{};
};

} // namespace yunshan
