#pragma once
// Watches this thread's event loop while long work runs elsewhere: a 10 ms timer notes every gap
// of 100 ms or more in which this thread was itself busy (not merely waiting for a processor the
// machine's other work held), and the paint events of one object, while a phase holds.
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <string>

namespace yunshan::test {

class EventLoopWatch : public QObject {
  public:
    // `phase`: whether the work being watched is under way now; `painted`: whose paint events count.
    EventLoopWatch(std::function<bool()> phase, QObject *painted);

    // Runs on every tick inside the phase; `first` on the first one.
    std::function<void(bool first)> on_tick;

    void start() { timer_.start(); }
    void stop() { timer_.stop(); }

    int ticks() const { return ticks_; }
    // Paint events from the first tick of the phase to its last.
    int paints() const { return paints_at_last_tick_; }
    QStringList busy_gaps() const { return busy_gaps_; }
    // The gaps and the longest one, for a failure message.
    std::string report() const;

  protected:
    bool eventFilter(QObject *watched, QEvent *e) override;

  private:
    void tick();

    std::function<bool()> phase_;
    QTimer timer_;
    qint64 started_ms_ = 0;
    qint64 last_ms_ = -1;
    qint64 last_cpu_ms_ = 0;
    qint64 worst_gap_ms_ = 0;
    QStringList busy_gaps_;
    int ticks_ = 0;
    int paints_ = 0;
    int paints_at_last_tick_ = 0;
};

} // namespace yunshan::test
