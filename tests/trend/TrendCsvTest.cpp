#include "trend/TrendCsv.h"
#include "trend/TrendHistory.h"

#include <QBuffer>

#include <gtest/gtest.h>

namespace {

TEST(TrendCsv, RangeOfChosenChannels) {
    TTrendHistory history;
    TTrendBlock block;
    block.TimeMs = 1796956800000; // 2026-12-11T02:40:00Z
    block.Channels[0] = {{true, false, 0, "0.000"}, 1.23456, false};
    block.Channels[2] = {{true, true, 1, "0.0"}, 400.04, true};
    history.Append(block);
    block.TimeMs += 500;
    block.Channels[0].Value = -0.0001;
    history.Append(block);
    history.BeginRun();
    block.TimeMs += 10000;
    block.Channels[2].Setup.Active = false;
    history.Append(block);

    bool channels[16] = {};
    channels[0] = channels[2] = true;
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    ASSERT_TRUE(WriteTrendCsv(history, 1, 5, channels, out));
    EXPECT_EQ(out.data().toStdString(), "time_utc,run,ch1,ch1_unit,ch1_over,ch3,ch3_unit,ch3_over\n"
                                        "2026-12-11T02:40:00.500Z,1,0.000,mV,0,400.0,Ohm,1\n"
                                        "2026-12-11T02:40:10.500Z,2,0.000,mV,0,,,\n");
}

TEST(TrendCsv, FailedWriteIsReported) {
    TTrendHistory history;
    history.Append(TTrendBlock{});
    bool channels[16] = {true};
    QBuffer closed; // never opened: every write fails
    EXPECT_FALSE(WriteTrendCsv(history, 0, 1, channels, closed));
}

} // namespace
