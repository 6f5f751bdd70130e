// The block reading record built from a cycle's values, without a module:
// values and texts in the run's formats, over-range, no-number values, the
// block count and the stale mark after a failure.
#include "ReportedCycle.h"
#include "acquisition/MeasurementCycle.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

constexpr double Inf = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

TEST(BlockReading, EntriesCarryTheValueTextAndMarksOfEachChannel) {
    struct Case {
        const char* name;
        int32_t quantity; // 0 volts, 1 ohms
        int32_t range;
        double value; // volts or ohms, as the reduction leaves it
        bool over;
        bool setUp;
        int expectedRange;
        double expectedValue; // mV or Ω
        const char* text;
    };
    const Case cases[] = {
        {"10 V range", 0, 0, 1.25, false, true, 0, 1250.0, "1250.000"},
        {"2 V range, no decimals", 0, 1, 0.7504, false, true, 1, 750.4, "750"},
        {"tiny negative shows no sign", 0, 2, -0.0000004, false, true, 2, -0.0004, "0.00"},
        {"400 Ohm range", 1, 0, 120.04, false, true, 0, 120.04, "120.0400"},
        {"1200 Ohm range", 1, 1, 1000.46, false, true, 1, 1000.46, "1000.5"},
        {"4000 Ohm range beyond scale", 1, 2, 4100.0, true, true, 2, 4100.0, "4100"},
        {"not set up keeps its text", 0, 0, 0.5, false, false, 0, 500.0, "500.000"},
        {"NaN", 0, 0, NaN, true, true, 0, NaN, ""},
        {"+inf", 0, 1, Inf, true, true, 1, Inf, ""},
        {"-inf ohms", 1, 0, -Inf, true, true, 0, -Inf, ""},
        {"no range", 0, -1, 1.0, false, true, -1, 0.0, ""},
        {"range beyond the table", 1, 3, 1.0, false, true, -1, 0.0, ""},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        KM808_CONTROL module{};
        TReportedCycle cycle(&module);
        TMeasurementConfig config;
        const QString formats[6] = {"0.000", "0.", "0.00", "0.0000", "0.0", "0."};
        std::copy(std::begin(formats), std::end(formats), config.Settings.ValueFormats);
        config.ChannelQuantity[5] = k.quantity;
        config.Channels.RangeU[5] = k.range;
        ApplyConfiguration(cycle, config);
        cycle.ChannelRangeR[5] = k.range;
        if (k.setUp)
            cycle.ChannelPosition[5] = 0;
        (k.quantity == 1 ? cycle.ResistanceValues : cycle.VoltageValues)[5] = k.value;
        cycle.ChannelOverRange[5] = k.over;
        const bool active[16] = {false, false, false, false, false, true};
        RecordReading(cycle, active);

        const TChannelEntry& e = cycle.Reading.Channels[5];
        EXPECT_EQ(e.Active, k.setUp);
        EXPECT_EQ(e.Quantity, k.quantity == 1 ? TQuantity::Resistance : TQuantity::Voltage);
        EXPECT_EQ(e.Range, k.expectedRange);
        if (std::isnan(k.expectedValue))
            EXPECT_TRUE(std::isnan(e.Value));
        else
            EXPECT_DOUBLE_EQ(e.Value, k.expectedValue);
        EXPECT_EQ(e.Text, QString(k.text));
        EXPECT_EQ(e.OverRange, k.over);
        EXPECT_FALSE(e.Stale);
        // Every other channel: no range chosen, nothing measured.
        EXPECT_FALSE(cycle.Reading.Channels[4].Active);
        EXPECT_EQ(cycle.Reading.Channels[4].Text, "0.000");
    }
}

TEST(BlockReading, BlocksAreCountedAndAFailedRunLeavesItsValuesStale) {
    KM808_CONTROL module{};
    TReportedCycle cycle(&module);
    TMeasurementConfig config;
    ApplyConfiguration(cycle, config);
    cycle.FrameRate = 500.0;
    cycle.SamplesPerChannel = 250;
    cycle.ChannelPosition[0] = 0;
    cycle.ChannelPosition[1] = 1;
    const bool active[16] = {true, false};
    RecordReading(cycle, active);
    RecordReading(cycle, active);
    EXPECT_EQ(cycle.Reading.Block, 2);
    EXPECT_EQ(cycle.Reading.Period, 0.5);
    EXPECT_TRUE(cycle.Reading.Time.isValid());
    EXPECT_EQ(cycle.Reading.Time.timeSpec(), Qt::UTC);

    // A run that ends normally leaves its last values current.
    EndRun(cycle);
    EXPECT_FALSE(cycle.Reading.Channels[0].Stale);

    cycle.Report("a failure");
    cycle.Terminated = true; // no link check against a module never opened
    EndRun(cycle);
    EXPECT_TRUE(cycle.Reading.Channels[0].Stale);
    EXPECT_FALSE(cycle.Reading.Channels[1].Stale) << "it measured nothing in the last block";

    // A new run starts counting again.
    ApplyConfiguration(cycle, config);
    EXPECT_EQ(cycle.Reading.Block, 0);
    EXPECT_FALSE(cycle.Reading.Channels[0].Stale);
}

} // namespace
