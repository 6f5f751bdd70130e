// The client's lines and summary from the engine's block reading record.
#include "record/BlockRecord.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

TEST(MeasureRecordFromReading, ValuesWithoutANumberAreNeverWrittenAsOne) {
    TMeasurementConfig config;
    config.Channels.Active[0] = config.Channels.Active[9] = true;
    const std::vector<TRecordColumn> columns = RecordColumns(config);
    TBlockReading reading;
    reading.Block = 3;
    reading.Time = QDateTime::fromMSecsSinceEpoch(1700000000123, Qt::UTC);
    reading.Period = 2.5;
    TPointIdentity identity;
    identity.Crate = "Q";
    identity.Slot = 3;
    identity.Serial = "KM1";
    identity.Host = "h";
    for (const double value :
         {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
        reading.Channels[0].Value = value;
        reading.Channels[0].Text.clear();
        reading.Channels[0].OverRange = true;
        reading.Channels[9].Value = 1.5;
        reading.Channels[9].Text = "1.5000";
        const TBlockValues values = TakeBlock(reading, columns);
        EXPECT_EQ(values.Block, 3);
        EXPECT_EQ(values.OverChannels, std::vector<int>{1});
        EXPECT_EQ(BlockLine(TOutputFormat::Csv, columns, values, identity),
                  "2023-11-14T22:13:20.123Z,3,2.500,,1.5000,1,Q,3,KM1,h\n");
        EXPECT_EQ(BlockLine(TOutputFormat::Jsonl, columns, values, identity),
                  "{\"time\":\"2023-11-14T22:13:20.123Z\",\"block\":3,\"period_s\":2.500,\"ch1_mV\":null,"
                  "\"ch10_mV\":1.5000,\"over\":[1],\"crate\":\"Q\",\"slot\":3,\"serial\":\"KM1\",\"host\":"
                  "\"h\"}\n");
        EXPECT_EQ(BlockLine(TOutputFormat::Influx, columns, values, identity),
                  "km808,crate=Q,slot=3,serial=KM1,host=h ch1_range=\"10V\",ch1_over=1i,ch10_mV=1.5000,"
                  "ch10_range=\"10V\",ch10_over=0i,block=3i,period_s=2.500,over=\"1\" 1700000000123000000\n");
    }
}

// The statistics come from the measured values, not from their rounded texts
// (those would give mean 1, max 1 and spread 1 here).
TEST(MeasureRecordFromReading, SummaryTakesTheValuesNotTheirTexts) {
    TMeasurementConfig config;
    config.Channels.Active[0] = true;
    config.Settings.ValueFormats[0] = "0.";
    const std::vector<TRecordColumn> columns = RecordColumns(config);
    TRunSummary summary(columns);
    TBlockReading reading;
    for (const auto& [value, text] : {std::pair{0.6, "1"}, std::pair{0.6, "1"}, std::pair{0.2, "0"}}) {
        reading.Channels[0].Value = value;
        reading.Channels[0].Text = text;
        summary.Add(TakeBlock(reading, columns));
    }
    const QStringList row = summary.Text().split('\n')[1].split(' ', Qt::SkipEmptyParts);
    EXPECT_EQ(row, QStringList({"ch1", "mV", "3", "0", "0", "1", "0", "0", "0"}));
}

} // namespace
