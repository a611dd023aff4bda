#pragma once
// The transfer counters and the texts of the progress panel: percentage, speed and time left.
#include <QString>
#include <QtGlobal>

namespace yunshan {

// What the progress panel shows the progress of (its prefix says it).
enum class ProgressMode { None, Upload, Download, Update };

struct TransferCounters {
    qint64 transfer_done = 0;  // bytes moved so far
    qint64 transfer_total = 0; // bytes expected
    qint64 sample_done = 0;    // transfer_done at the last speed sample
    quint32 sample_tick = 0;   // millisecond tick of the last speed sample

    void reset(quint32 now)
    {
        transfer_done = 0;
        transfer_total = 0;
        sample_done = 0;
        sample_tick = now;
    }
};

// Milliseconds of a steady clock (wraps after 49 days, as the counters expect).
quint32 tick_count();

// "备份上传中已：12.34%" (the prefix by mode; none for other modes).
QString progress_line_text(ProgressMode mode, const TransferCounters &c);
// "传输速度：1.23MB/秒 剩余时间：4.56秒" ("无" while nothing moved since the last sample).
QString speed_line_text(const TransferCounters &c, quint32 now);
// Takes a new speed sample when the last one is 450 ms old or older.
void sample_speed(TransferCounters &c, quint32 now);

} // namespace yunshan
