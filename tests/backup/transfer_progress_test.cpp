// The texts of the progress panel.
#include "backup/transfer_progress.h"

#include <gtest/gtest.h>

namespace yunshan {
namespace {

TEST(TransferProgress, LinesByModePercentSpeedAndTimeLeft)
{
    TransferCounters c;
    c.reset(1000);
    c.transfer_total = 50'000'000;
    c.transfer_done = 12'345'678;
    EXPECT_EQ(progress_line_text(ProgressMode::Upload, c), QStringLiteral("备份上传中已：24.69%"));
    EXPECT_EQ(progress_line_text(ProgressMode::Download, c), QStringLiteral("数据下载中已：24.69%"));
    EXPECT_EQ(progress_line_text(ProgressMode::Update, c), QStringLiteral("程序更新中已：24.69%"));
    EXPECT_EQ(progress_line_text(ProgressMode::None, c), QStringLiteral("24.69%"));
    // 12 345 678 bytes in 1 000 ms (+1): 12.33 MB/s; 37 654 322 bytes left: 3.05 s.
    EXPECT_EQ(speed_line_text(c, 2000), QStringLiteral("传输速度：12.33MB/秒 剩余时间：3.05秒"));

    sample_speed(c, 1449); // too early for a new sample
    EXPECT_EQ(c.sample_done, 0);
    sample_speed(c, 1450);
    EXPECT_EQ(c.sample_done, 12'345'678);
    EXPECT_EQ(c.sample_tick, 1450u);
    EXPECT_EQ(speed_line_text(c, 1500), QStringLiteral("传输速度：0.00MB/秒 剩余时间：无"));
}

} // namespace
} // namespace yunshan
