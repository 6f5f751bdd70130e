// The measurement engine against the emulator, with no window: set-up from a
// configuration record, blocks, values as shown, the failures' texts and the
// module left stopped.
#include "acquisition/MeasurementCycle.h"
#include "ReportedCycle.h"
#include "acquisition/DisplayFormat.h"
#include "acquisition/ModuleTables.h"
#include "emulator_process.h"
#include "module_helpers.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <cmath>

namespace {

// Channels on the given ranges, 4000 Hz, 0.05 s blocks.
TMeasurementConfig Config(int commonMode, std::initializer_list<std::pair<int, int>> channelRanges) {
    TMeasurementConfig config;
    config.Channels.CommonMode = commonMode;
    config.Channels.RateIndex = ModuleTables::RateCount - 1;
    config.Settings.AcquisitionTime = 0.05;
    for (auto [c, range] : channelRanges) {
        config.Channels.Active[c] = true;
        const bool resistance = commonMode == 1 && c < ModuleTables::ResistanceChannels;
        config.ChannelQuantity[c] = resistance ? 1 : 0;
        (resistance ? config.Channels.RangeR : config.Channels.RangeU)[c] = range;
    }
    return config;
}

class MeasurementCycleTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Emulator.started()) << Emulator.error();
        Emulator.select();
    }
    EmulatorProcess Emulator{"library.json"};
};

TEST_F(MeasurementCycleTest, BlocksGiveTheChannelsValuesInTheirUnitsAndFormats) {
    struct Case {
        const char* name;
        TMeasurementConfig config;
        int channel;
        double expected; // mV or Ω
        double tolerance;
        bool over;
    };
    const Case cases[] = {
        {"volts", Config(0, {{0, 0}, {1, 0}, {6, 0}}), 0, 7000.0, 40.0, false},
        {"negative", Config(0, {{0, 0}, {1, 0}, {6, 0}}), 1, -6000.0, 40.0, false},
        {"beyond 10 V", Config(0, {{0, 0}, {1, 0}, {6, 0}}), 6, 10000.0, 100.0, true},
        {"ohms", Config(1, {{0, 0}, {1, 1}, {8, 1}}), 0, 300.0, 3.0, false},
        {"volts beside ohms", Config(1, {{0, 0}, {1, 1}, {8, 1}}), 8, 100.0, 2.0, false},
        {"fft",
         [] {
             TMeasurementConfig c = Config(0, {{2, 1}});
             c.Settings.ComputationMethod = "fft";
             return c;
         }(),
         2, 1500.0, 15.0, false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Module module;
        ASSERT_EQ(module.open("QT000001", 3), 0);
        TReportedCycle cycle(&module.m);
        ASSERT_TRUE(StartRun(cycle, k.config)) << cycle.Reports.join("|").toStdString();
        for (int block = 0; block < 2; ++block)
            ASSERT_TRUE(MeasureBlock(cycle, k.config.Channels.Active))
                << cycle.Reports.join("|").toStdString();
        EndRun(cycle);
        EXPECT_EQ(module.m.AcquisitionRunning, 0);
        EXPECT_TRUE(cycle.Reports.isEmpty());

        const TChannelReading reading = ChannelReading(cycle, k.channel);
        ASSERT_TRUE(reading.Shown);
        EXPECT_NEAR(reading.Value, k.expected, k.tolerance);
        EXPECT_EQ(reading.OverRange, k.over);
        EXPECT_EQ(reading.Resistance, k.config.ChannelQuantity[k.channel] == 1);
        // The same decimals the window shows for the range.
        const QString text = FormatFloat(k.config.Settings.ValueFormats[reading.FormatIndex], reading.Value);
        EXPECT_EQ(text.section('.', 1).size(), 4) << text.toStdString();
        // The block's record carries the same value and text.
        EXPECT_EQ(cycle.Reading.Block, 2);
        EXPECT_EQ(cycle.Reading.Time.timeSpec(), Qt::UTC);
        EXPECT_DOUBLE_EQ(cycle.Reading.Period, double(cycle.SamplesPerChannel) / cycle.FrameRate);
        const TChannelEntry& entry = cycle.Reading.Channels[size_t(k.channel)];
        EXPECT_TRUE(entry.Active);
        EXPECT_FALSE(entry.Stale);
        EXPECT_EQ(entry.Value, reading.Value);
        EXPECT_EQ(entry.Text, text);
        EXPECT_EQ(entry.OverRange, k.over);
        for (int c = 0; c < 16; ++c) {
            if (!k.config.Channels.Active[c]) {
                EXPECT_EQ(cycle.ChannelPosition[c], 65535) << c;
            }
        }
    }
}

TEST_F(MeasurementCycleTest, ImpossibleChoicesAreReportedBeforeTheConverterIsSet) {
    struct Case {
        const char* name;
        TMeasurementConfig config;
        const char* report;
    };
    TMeasurementConfig noRate = Config(0, {{0, 0}});
    noRate.Channels.RateIndex = 7;
    TMeasurementConfig noRange = Config(0, {{3, -1}});
    const Case cases[] = {
        {"no channel", Config(0, {}), "Необходимо выбрать не менне одного активного канала!"},
        {"no rate", noRate, "Не выбрана частота работы АЦП!!!"},
        {"no range", noRange, "Не выбран входной диапазон канала 4!!!"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Module module;
        ASSERT_EQ(module.open("QT000001", 3), 0);
        TReportedCycle cycle(&module.m);
        EXPECT_FALSE(StartRun(cycle, k.config));
        EXPECT_EQ(cycle.Reports, QStringList{QString::fromUtf8(k.report)});
        EXPECT_FALSE(cycle.RcvBuffer) << "no buffers after a refused start";
    }
}

TEST(MeasurementCycleFaults, EveryModuleFailureIsReportedAndLeavesTheModuleStopped) {
    EmulatorProcess emulator("faults.json");
    ASSERT_TRUE(emulator.started()) << emulator.error();
    emulator.select();
    struct Case {
        uint16_t slot;
        const char* report;
    };
    const Case cases[] = {
        {3, "KM808_SetADC() --> BAD!!!"},
        {4, "Не могу выполнить функцию KM808_Calibrate()!!!"},
        {5, "Не могу выполнить запуск сбора кадра данных!!!"},
        {6, "Не могу выполнить останов сбора данных!!!"},
        {8, "Не могу получить данные с модуля!"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.slot);
        Module module;
        ASSERT_EQ(module.open("QF000001", k.slot), 0);
        TReportedCycle cycle(&module.m);
        TMeasurementConfig config = Config(0, {{0, 0}});
        bool ran = StartRun(cycle, config);
        while (ran && MeasureBlock(cycle, config.Channels.Active)) {
        }
        EndRun(cycle);
        ASSERT_FALSE(cycle.Reports.isEmpty());
        EXPECT_EQ(cycle.Reports.front(), QString::fromUtf8(k.report));
    }
}

} // namespace
