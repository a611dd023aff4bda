#pragma once
// The progress panel of the main window: the group "进度 可按 ESC 键退出" that floats over the
// panes during backups, transfers and updates, with the progress line in large red type, the
// speed line under it and an "X" that closes it. It only shows texts: the window's progress timer
// and transfers write them, and the window hides the panel when the "X" asks for it.
#include <QGroupBox>

class QLabel;

namespace yunshan {

class ProgressPanel : public QGroupBox {
    Q_OBJECT

  public:
    explicit ProgressPanel(QWidget *parent = nullptr);

    // Shows the panel over its siblings with `text` as its progress line.
    void show_line(const QString &text);
    // The progress line and the speed line.
    void set_line(const QString &text);
    QString line() const;
    void set_speed_line(const QString &text);
    QString speed_line() const;
    // A reason in place of the speed line: wrapped over several lines, also the line's tooltip.
    void set_reason(const QString &text);
    // Paints both lines at once, without waiting for the event loop.
    void repaint_lines();

  Q_SIGNALS:
    // The "X" was clicked.
    void closeRequested();

  protected:
    bool eventFilter(QObject *watched, QEvent *e) override;

  private:
    QLabel *Label8 = nullptr;  // progress line
    QLabel *Label10 = nullptr; // speed line
    QLabel *Label9 = nullptr;  // "X" closing the panel
};

} // namespace yunshan
