#include "support/event_loop_watch.h"

#include <QEvent>

#include <algorithm>

#include <time.h>

namespace yunshan::test {

namespace {

// Processor time the calling thread has used, in milliseconds.
qint64 thread_cpu_ms()
{
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

qint64 now_ms()
{
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

} // namespace

EventLoopWatch::EventLoopWatch(std::function<bool()> phase, QObject *painted) : phase_(std::move(phase))
{
    if (painted)
        painted->installEventFilter(this);
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { tick(); });
}

bool EventLoopWatch::eventFilter(QObject *, QEvent *e)
{
    if (e->type() == QEvent::Paint)
        ++paints_;
    return false;
}

void EventLoopWatch::tick()
{
    const qint64 now = now_ms();
    const qint64 cpu = thread_cpu_ms();
    const bool inside = phase_();
    if (last_ms_ >= 0) {
        const qint64 gap = now - last_ms_;
        worst_gap_ms_ = std::max(worst_gap_ms_, gap);
        if (gap >= 100 && cpu - last_cpu_ms_ >= gap / 5)
            busy_gaps_ << QStringLiteral("%1 ms, %2 ms of it working").arg(gap).arg(cpu - last_cpu_ms_);
    }
    last_ms_ = inside ? now : -1;
    last_cpu_ms_ = cpu;
    if (!inside)
        return;
    const bool first = ticks_++ == 0;
    if (first)
        paints_ = 0;
    paints_at_last_tick_ = paints_;
    if (on_tick)
        on_tick(first);
}

std::string EventLoopWatch::report() const
{
    return (busy_gaps_.join(QLatin1Char('\n')) +
            QStringLiteral("\nlongest gap %1 ms in %2 ticks").arg(worst_gap_ms_).arg(ticks_))
        .toStdString();
}

} // namespace yunshan::test
