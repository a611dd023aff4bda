#pragma once
// Read-only mode's hold on the window: the controls that would write stay disabled for the rest
// of the run (any later enabling is turned back at once), and the text fields take no input, not
// even the text an input method commits.
#include <QList>
#include <QObject>

class QWidget;

namespace yunshan {

class ReadOnlyLock : public QObject {
  public:
    explicit ReadOnlyLock(QObject *parent) : QObject(parent) {}

    // Disables `controls` for good.
    void lock(const QList<QWidget *> &controls);
    // Drops the input method's text sent to `fields` (their own read-only state stops typing).
    void refuse_input(const QList<QObject *> &fields);

  protected:
    bool eventFilter(QObject *watched, QEvent *e) override;
};

} // namespace yunshan
