#include "backup/transfer_progress.h"

#include <QElapsedTimer>
#include <QLocale>

namespace yunshan {

quint32 tick_count()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return static_cast<quint32>(clock.elapsed());
}

QString progress_line_text(ProgressMode mode, const TransferCounters &c)
{
    QString prefix;
    switch (mode) {
    case ProgressMode::Upload:
        prefix = QStringLiteral("备份上传中已：");
        break;
    case ProgressMode::Download:
        prefix = QStringLiteral("数据下载中已：");
        break;
    case ProgressMode::Update:
        prefix = QStringLiteral("程序更新中已：");
        break;
    case ProgressMode::None:
        break;
    }
    const double percent = static_cast<double>(c.transfer_done) / static_cast<double>(c.transfer_total) * 100.0;
    return prefix + QLocale::system().toString(percent, 'f', 2) + QLatin1Char('%');
}

QString speed_line_text(const TransferCounters &c, quint32 now)
{
    const QLocale locale = QLocale::system();
    const quint32 elapsed = now - c.sample_tick;
    const float speed = static_cast<float>(static_cast<double>(c.transfer_done - c.sample_done) /
                                           (static_cast<double>(elapsed) + 1.0) / 1000.0);
    QString remaining;
    if (c.transfer_done == c.sample_done)
        remaining = QStringLiteral("无");
    else
        remaining = locale.toString(static_cast<double>(c.transfer_total - c.transfer_done) / 1e6 / speed, 'f', 2) +
                    QStringLiteral("秒");
    return QStringLiteral("传输速度：") + locale.toString(static_cast<double>(speed), 'f', 2) +
           QStringLiteral("MB/秒 剩余时间：") + remaining;
}

void sample_speed(TransferCounters &c, quint32 now)
{
    if (now - c.sample_tick >= 450) {
        c.sample_tick = now;
        c.sample_done = c.transfer_done;
    }
}

} // namespace yunshan
