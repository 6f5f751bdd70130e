// Measurements through the real window against the emulator.
#include "FormControl.h"
#include "MeasurementWindow.h"

#include "app/TMainThread.h"
#include "dsp/TREALFFT.h"
#include "ui/TKm808AdcChannelFrame.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr const char* StartText = "С   Т   А   Р   Т";

#define REQUIRE_WINDOW(w) ASSERT_TRUE((w).Failure.isEmpty()) << (w).Failure.toStdString()

int Decimals(const QString& text) {
    const qsizetype point = text.indexOf('.');
    return point < 0 ? 0 : int(text.size() - point - 1);
}

// One voltage channel per range and one enabled channel left unchecked.
TEST(MeasurementTest, VoltageOnEachRangeWithItsDecimals) {
    MeasurementWindow w(EmulatorConfig({{1, 1.25}, {2, -1.5}, {3, 0.3}, {4, 2.0}}));
    REQUIRE_WINDOW(w);
    MeasurementSetup s;
    s.Active = {0, 1, 2};
    s.RangeU[1] = 1;
    s.RangeU[2] = 2;
    s.Formats[0] = "0.000";
    s.Formats[1] = "0.0000";
    s.Formats[2] = "0.00000";
    w.Configure(s);
    w.PressStart();
    ASSERT_TRUE(w.WaitBlocks(2)) << w.Messages.join("|").toStdString();
    EXPECT_EQ(w.ValueText(0), "1250.000");
    EXPECT_EQ(Decimals(w.ValueText(1)), 4);
    EXPECT_NEAR(w.Value(1), -1500.0, 2e-3);
    EXPECT_EQ(Decimals(w.ValueText(2)), 5);
    EXPECT_NEAR(w.Value(2), 300.0, 2e-4);
    EXPECT_EQ(w.ValueText(3), "--------");
    EXPECT_EQ(w.ButtonText(), "С   Т   О   П");
    w.PressStop();
    ASSERT_TRUE(w.WaitIdle());
    EXPECT_EQ(w.ButtonText(), StartText);
    EXPECT_EQ(Control<QLabel>(*w.Form, "AcquisitionTimeLMDLabel")->text(), "-----");
    EXPECT_EQ(int(w.Form->DeviceState().ModuleControl.AcquisitionRunning), 0);
    EXPECT_TRUE(w.Messages.isEmpty());
}

// Resistance on the first three channels, one per range, each with the
// decimals of its own range.
TEST(MeasurementTest, ResistanceOnEachRangeWithItsDecimals) {
    MeasurementWindow w(EmulatorConfig({{1, 0, 300}, {2, 0, 1000}, {3, 0, 3000}}));
    REQUIRE_WINDOW(w);
    MeasurementSetup s;
    s.Mode = 1;
    s.Active = {0, 1, 2};
    s.RangeR[1] = 1;
    s.RangeR[2] = 2;
    s.Formats[3] = "0.00";
    s.Formats[4] = "0.000";
    s.Formats[5] = "0.0";
    w.Configure(s);
    w.PressStart();
    ASSERT_TRUE(w.WaitBlocks(2)) << w.Messages.join("|").toStdString();
    EXPECT_EQ(Decimals(w.ValueText(0)), 2);
    EXPECT_NEAR(w.Value(0), 300.0, 0.01);
    EXPECT_EQ(Decimals(w.ValueText(1)), 3);
    EXPECT_NEAR(w.Value(1), 1000.0, 0.01);
    EXPECT_EQ(Decimals(w.ValueText(2)), 1);
    EXPECT_NEAR(w.Value(2), 3000.0, 0.1);
    w.PressStop();
    ASSERT_TRUE(w.WaitIdle());
}

// Both computation methods show the same value for the same signal.
TEST(MeasurementTest, FftShowsTheSumValue) {
    MeasurementWindow w(EmulatorConfig({{1, 1.25}, {9, -0.75}}));
    REQUIRE_WINDOW(w);
    QStringList shown[2];
    for (const char* method : {"sum", "fft"}) {
        MeasurementSetup s;
        s.Active = {0, 8};
        s.Method = method;
        w.Configure(s);
        w.PressStart();
        ASSERT_TRUE(w.WaitBlocks(2)) << method << w.Messages.join("|").toStdString();
        shown[method[0] == 'f'] = {w.ValueText(0), w.ValueText(8)};
        w.PressStop();
        ASSERT_TRUE(w.WaitIdle());
    }
    EXPECT_EQ(shown[0].join(" ").toStdString(), shown[1].join(" ").toStdString());
    EXPECT_NEAR(shown[0][0].toDouble(), 1250.0, 2e-3);
    EXPECT_NEAR(shown[0][1].toDouble(), -750.0, 2e-3);
}

// An offset drifting after the start: only continuous auto-calibration keeps
// the value where the signal is.
TEST(MeasurementTest, ContinuousCorrectionFollowsDrift) {
    MeasurementWindow w(EmulatorConfig({{1, 1.25}}, R"("drift_per_s": 0.001)"));
    REQUIRE_WINDOW(w);
    double error[2];
    for (int correction : {0, 1}) {
        MeasurementSetup s;
        s.Correction = correction;
        s.AcquisitionTime = 1.0;
        w.Configure(s);
        w.PressStart();
        ASSERT_TRUE(w.WaitBlocks(6)) << w.Messages.join("|").toStdString();
        error[correction] = std::fabs(w.Value(0) - 1250.0);
        w.PressStop();
        ASSERT_TRUE(w.WaitIdle());
    }
    EXPECT_GT(error[0], 3.0) << "initial calibration drifts away (mV)";
    EXPECT_LT(error[1], 0.01) << "continuous calibration stays exact (mV)";
}

// The module is set up and calibrated once per start; every block starts it,
// receives 100 ms chunks with the remainder last, and stops it.
TEST(MeasurementTest, EachBlockIsReceivedInChunksWithTheRemainderLast) {
    MeasurementWindow w(EmulatorConfig({{1, 1.25}}));
    REQUIRE_WINDOW(w);
    MeasurementSetup s;
    s.AcquisitionTime = 0.25; // 1000 Hz, one channel: 250 words in chunks of 100
    w.Configure(s);
    w.PressStart();
    ASSERT_TRUE(w.WaitBlocks(2)) << w.Messages.join("|").toStdString();
    w.PressStop();
    ASSERT_TRUE(w.WaitIdle());
    EXPECT_TRUE(w.Messages.isEmpty());
    ASSERT_EQ(w.Form->MeasurementWorker(), nullptr);

    QStringList asked;
    for (const QString& line : w.Emulator->LogLines("Recv")) {
        const QStringList parts = line.split(' ', Qt::SkipEmptyParts);
        ASSERT_GE(parts.size(), 6) << line.toStdString();
        asked << parts[5].section('/', 1);
    }
    const qsizetype blocks = w.Emulator->LogLines("Start").size();
    ASSERT_GE(blocks, 2);
    // The last block may have been cut short by the stop.
    ASSERT_GE(asked.size(), 3 * (blocks - 1));
    for (qsizetype b = 0; b + 1 < blocks; ++b) {
        EXPECT_EQ(asked.mid(3 * b, 3), (QStringList{"100", "100", "50"})) << b;
    }
    EXPECT_EQ(w.Emulator->LogLines("SetADC").size(), 1);
    EXPECT_EQ(w.Emulator->LogLines("Calibrate").size(), 1);
    EXPECT_GE(w.Emulator->LogLines("Stop").size(), blocks);
    EXPECT_EQ(int(w.Form->DeviceState().ModuleControl.AcquisitionRunning), 0);
}

struct StartCase {
    const char* Name;
    int Mode;
    int RateIndex;
    int Correction;
    std::vector<int> Active;
    const char* Method;
    double AcquisitionTime;
    int MinSamples[4];
    // expected
    uint32_t SamplesPerChannel;
    const char* TimeLabel;
    const char* RateLabel;
    double PlannedTime;
    uint32_t RecvChunk;
    int WindowKind;
};

const StartCase StartCases[] = {
    {"Sum1000HzOneChannel",
     0,
     4,
     0,
     {0},
     "sum",
     1.0,
     {6, 32, 64, 128},
     1000,
     "1000.0",
     "1000.000",
     1.0,
     100,
     6},
    {"Fft1000HzOneChannel",
     0,
     4,
     0,
     {0},
     "fft",
     1.0,
     {6, 32, 64, 128},
     1024,
     "1024.0",
     "1000.000",
     1.0,
     100,
     6},
    {"MisspeltMethodIsSum",
     0,
     4,
     0,
     {0},
     "fff",
     1.0,
     {6, 32, 64, 128},
     1000,
     "1000.0",
     "1000.000",
     1.0,
     100,
     6},
    {"Continuous5Hz", 0, 0, 1, {0}, "sum", 1.0, {4, 32, 64, 128}, 5, "2000.0", "2.500", 2.0, 1, 0},
    {"Fft5HzRectangular", 0, 0, 0, {0}, "fft", 1.0, {4, 32, 64, 128}, 8, "1600.0", "5.000", 1.0, 1, 0},
    {"ResistanceChannels1And2",
     1,
     4,
     0,
     {0, 1},
     "sum",
     1.0,
     {6, 32, 64, 128},
     250,
     "1000.0",
     "250.000",
     1.0,
     100,
     6},
};

class StartCaseTest : public ::testing::TestWithParam<StartCase> {};

TEST_P(StartCaseTest, ModuleSetUpAndBlockSizes) {
    const StartCase& c = GetParam();
    MeasurementWindow w(EmulatorConfig({{1, 0.5, 100}, {2, 0.25, 200}}));
    REQUIRE_WINDOW(w);
    MeasurementSetup s;
    s.Mode = c.Mode;
    s.RateIndex = c.RateIndex;
    s.Correction = c.Correction;
    s.Active = c.Active;
    s.Method = c.Method;
    s.AcquisitionTime = c.AcquisitionTime;
    std::copy(std::begin(c.MinSamples), std::end(c.MinSamples), s.MinSamples);
    w.Configure(s);
    w.PressStart();
    ASSERT_TRUE(w.WaitBlocks(1)) << w.Messages.join("|").toStdString();
    const TMainThread* worker = w.Form->MeasurementWorker();
    ASSERT_NE(worker, nullptr);
    EXPECT_EQ(worker->SamplesPerChannel, c.SamplesPerChannel);
    EXPECT_EQ(Control<QLabel>(*w.Form, "AcquisitionTimeLMDLabel")->text(), c.TimeLabel);
    EXPECT_EQ(Control<QLabel>(*w.Form, "KadrRateLMDLabel")->text(), c.RateLabel);
    EXPECT_DOUBLE_EQ(worker->AcquisitionTime, c.PlannedTime);
    EXPECT_EQ(worker->RecvChunk, std::min(c.RecvChunk, worker->RecvWordCount));
    EXPECT_EQ(worker->WindowDescriptor.WindowKind, c.WindowKind);
    EXPECT_EQ(worker->ResultChannelCount, c.Active.size());
    const KM808_CONTROL& module = w.Form->DeviceState().ModuleControl;
    if (c.Mode == 1) {
        ASSERT_EQ(int(module.LogicalChannelCount), 4);
        const uint8_t expected[4][3] = {{0x20, 0, 0}, {0x28, 0, 0}, {0x20, 1, 0}, {0x28, 1, 0}};
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(int(module.LogicalChannelTable[k].ModeCode), int(expected[k][0])) << k;
            EXPECT_EQ(int(module.LogicalChannelTable[k].PhysicalChannel), int(expected[k][1])) << k;
            EXPECT_EQ(int(module.LogicalChannelTable[k].RangeCode), int(expected[k][2])) << k;
        }
        EXPECT_EQ(worker->ChannelPosition[0], 0);
        EXPECT_EQ(worker->ChannelPosition[1], 1);
    } else {
        EXPECT_EQ(int(module.LogicalChannelCount), int(c.Active.size()));
    }
    EXPECT_EQ(int(module.CalibrationSlotCount), c.Correction);
    if (std::string(c.Method) == "fft") {
        ASSERT_NE(worker->Analyser, nullptr);
        EXPECT_EQ(worker->Analyser->Length(), c.SamplesPerChannel);
        if (c.WindowKind == 0) {
            EXPECT_EQ(worker->WindowMeanSquare, 0.0);
            for (uint32_t i = 0; i < c.SamplesPerChannel; ++i)
                EXPECT_EQ(worker->Window[i], 0.0) << i;
        }
    } else {
        EXPECT_EQ(worker->ComputationMethod, "sum");
        EXPECT_EQ(worker->Analyser, nullptr);
    }
    w.PressStop();
    ASSERT_TRUE(w.WaitIdle());
    EXPECT_EQ(Control<QLabel>(*w.Form, "KadrRateLMDLabel")->text(), "-----");
}

INSTANTIATE_TEST_SUITE_P(Cases, StartCaseTest, ::testing::ValuesIn(StartCases),
                         [](const auto& info) { return std::string(info.param.Name); });

} // namespace
