// The reduction of a converted block and the display of its values, on a
// window that is not shown and a worker that is not started.
#include "acquisition/ChannelReduction.h"
#include "acquisition/TMainThread.h"
#include "app/TMainForm.h"
#include "dsp/TREALFFT.h"
#include "dsp/WindowedMean.h"
#include "ui/TKm808AdcChannelFrame.h"
#include "ui/TLed.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

constexpr uint32_t N = 1024;
constexpr uint32_t Channels = 3; // values per converted frame
constexpr double TwoPi = 6.283185307179586;

class ChannelReductionTest : public ::testing::Test {
protected:
    void SetUp() override {
        Form.HandlersBusy = true;
        Form.CommonMeasuringModeLMDComboBox->setCurrentIndex(0);
        Form.EnableChannelFrames();
        for (int c : {0, 2, 9})
            Form.ChannelFrames[c]->ChannelNumberLMDCheckBox->setChecked(true);
        Form.HandlersBusy = false;

        // Channel 0 at position 0, channel 2 at 2, channel 5 (not active) at 1.
        Worker.ResultChannelCount = Channels;
        Worker.ChannelPosition[0] = 0;
        Worker.ChannelPosition[5] = 1;
        Worker.ChannelPosition[2] = 2;
        Worker.SamplesPerChannel = N;
        Worker.DataCount = Channels * N;
        Worker.Data.reset(new double[Worker.DataCount]);
        uint64_t state = 12345;
        for (uint32_t i = 0; i < N; ++i) {
            state = state * 6364136223846793005ull + 1442695040888963407ull;
            const double noise = (double(state >> 11) / 9007199254740992.0 - 0.5) * 1e-4;
            Worker.Data[Channels * i + 0] = 1.25 + 0.5 * std::sin(TwoPi * 37 * i / N) + noise;
            Worker.Data[Channels * i + 1] = -7.0;
            Worker.Data[Channels * i + 2] = 950.0 + 3.0 * std::cos(TwoPi * 5 * i / N);
        }
        Worker.ChannelQuantity[2] = 1; // resistance
        Worker.DataPerChannel.reset(new double[N + 16]);
        Worker.Window.reset(new double[N + 16]());
    }

    std::vector<double> Samples(int position) const {
        std::vector<double> s(N);
        for (uint32_t i = 0; i < N; ++i)
            s[i] = Worker.Data[position + Channels * i];
        return s;
    }

    void PrepareSum(int kind) {
        Worker.ComputationMethod = "sum";
        Worker.WindowDescriptor.WindowKind = int8_t(kind);
        GenerateWorkerWindow(Worker.WindowDescriptor, &Worker.Terminated, Worker.Window.get(), N, kind);
        Worker.WindowNorm = kind == 0 ? double(N) : N * Worker.WindowDescriptor.WindowCoefs[0];
    }

    void PrepareFft(int kind) {
        Worker.ComputationMethod = "fft";
        Worker.WindowDescriptor.WindowKind = int8_t(kind);
        std::fill(Worker.Window.get(), Worker.Window.get() + N, 0.0);
        Worker.FftAdcDataPerChannel.reset(new double[N + 16]);
        Worker.AmplitudeSpectr.reset(new double[N / 2 + 16]);
        Worker.Analyser = std::make_unique<TREALFFT>(N, &Worker.Terminated);
        Worker.Analyser->GenerateWindow(Worker.Window.get(), kind);
        Worker.WindowNorm = kind == 0 ? double(N) : N * Worker.Analyser->WindowCoefs[0];
    }

    TMainForm Form;
    TMainThread Worker{&Form};
};

TEST_F(ChannelReductionTest, SumIsTheWindowedMeanOfEachActiveChannel) {
    for (int kind : {0, 6}) {
        PrepareSum(kind);
        ReduceChannels(&Worker);
        const std::vector<double> ch0 = Samples(0), ch2 = Samples(2);
        EXPECT_EQ(Worker.VoltageValues[0],
                  WindowedMean(ch0.data(), Worker.Window.get(), N, Worker.WindowNorm));
        EXPECT_EQ(Worker.ResistanceValues[2],
                  WindowedMean(ch2.data(), Worker.Window.get(), N, Worker.WindowNorm));
        EXPECT_EQ(Worker.VoltageValues[2], 0.0);
        EXPECT_EQ(Worker.VoltageValues[5], 0.0) << "channel 5 is not active";
        EXPECT_EQ(Worker.VoltageValues[9], 0.0) << "channel 9 took no part in the start";
        // Whole periods of the sine average out under either window.
        EXPECT_NEAR(Worker.VoltageValues[0], 1.25, 1e-5);
        EXPECT_NEAR(Worker.ResistanceValues[2], 950.0, 1e-9);
    }
}

TEST_F(ChannelReductionTest, FftGivesTheSumValueAndTheAmplitudeSpectrum) {
    for (int kind : {0, 6}) {
        PrepareSum(kind);
        ReduceChannels(&Worker);
        const double sum0 = Worker.VoltageValues[0];
        const double sum2 = Worker.ResistanceValues[2];

        PrepareFft(kind);
        ReduceChannels(&Worker);
        EXPECT_NEAR(Worker.VoltageValues[0], sum0, 1e-12) << kind;
        EXPECT_NEAR(Worker.ResistanceValues[2], sum2, 1e-9) << kind;
        // The last transformed channel is channel 2: 950 Ω DC and a 3 Ω cosine in bin 5.
        EXPECT_NEAR(Worker.AmplitudeSpectr[0], 950.0, 1e-9);
        EXPECT_NEAR(Worker.AmplitudeSpectr[5], 3.0, 1e-9);
    }
}

TEST_F(ChannelReductionTest, NothingIsComputedOnceTerminated) {
    PrepareSum(6);
    Worker.Terminated = true;
    ReduceChannels(&Worker);
    EXPECT_EQ(Worker.VoltageValues[0], 0.0);
}

TEST_F(ChannelReductionTest, ValuesShownWithTheRangeDecimalsAndLampsBlinkOnce) {
    Form.Settings.ValueFormats[0] = "0.000";
    Form.Settings.ValueFormats[1] = "0.";
    Form.Settings.ValueFormats[5] = "0.0";
    Form.HandlersBusy = true;
    Form.ChannelFrames[3]->ChannelNumberLMDCheckBox->setChecked(true);
    Form.ChannelFrames[4]->ChannelNumberLMDCheckBox->setChecked(true);
    Form.ChannelFrames[15]->ChannelNumberLMDCheckBox->setEnabled(false);
    Form.ChannelFrames[15]->Value1LMDEdit->setText("kept");
    Form.HandlersBusy = false;
    Worker.VoltageValues[0] = 1.25;   // 10 V range, 3 decimals
    Worker.VoltageValues[9] = 0.7504; // 2 V range, no decimals
    Worker.ChannelRange[9] = 1;
    Worker.ResistanceValues[3] = 3210.04; // 4000 Ω, 1 decimal
    Worker.ChannelQuantity[3] = 1;
    Worker.ChannelRangeR[3] = 2;
    Worker.ChannelRange[4] = -1; // a selector that showed no item
    Form.ChannelFrames[4]->Value1LMDEdit->setText("untouched");

    for (TKm808AdcChannelFrame* f : Form.ChannelFrames)
        f->SetUpdateLamp(0);
    ShowChannelValues(&Worker);
    EXPECT_EQ(Form.ChannelFrames[0]->Value1LMDEdit->text(), "1250.000");
    EXPECT_EQ(Form.ChannelFrames[0]->Value1LMDEdit->palette().color(QPalette::Text), QColor(0, 255, 0));
    EXPECT_EQ(Form.ChannelFrames[9]->Value1LMDEdit->text(), "750");
    EXPECT_EQ(Form.ChannelFrames[3]->Value1LMDEdit->text(), "3210.0");
    EXPECT_EQ(Form.ChannelFrames[1]->Value1LMDEdit->text(), "--------");
    EXPECT_EQ(Form.ChannelFrames[4]->Value1LMDEdit->text(), "untouched");
    EXPECT_EQ(Form.ChannelFrames[15]->Value1LMDEdit->text(), "kept");
    for (TKm808AdcChannelFrame* f : Form.ChannelFrames)
        EXPECT_FALSE(f->FlashLed->IsOn());

    ShowFrameLeds(&Worker);
    for (int c = 0; c < 16; ++c) {
        const bool active = c == 0 || c == 2 || c == 3 || c == 4 || c == 9;
        EXPECT_EQ(Form.ChannelFrames[c]->FlashLed->IsOn(), active) << c;
    }
}

} // namespace
