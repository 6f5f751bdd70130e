// The reduction of a converted block, on a cycle that has no window.
#include "acquisition/ChannelReduction.h"
#include "ReportedCycle.h"
#include "acquisition/MeasurementCycle.h"
#include "dsp/TREALFFT.h"
#include "dsp/WindowedMean.h"

#include <QStringList>

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
        for (int c : {0, 2, 9})
            Active[c] = true;

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

    KM808_CONTROL Module{};
    TReportedCycle Worker{&Module};
    bool Active[16] = {};
};

TEST_F(ChannelReductionTest, SumIsTheWindowedMeanOfEachActiveChannel) {
    for (int kind : {0, 6}) {
        PrepareSum(kind);
        ReduceChannels(Worker, Active);
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
        ReduceChannels(Worker, Active);
        const double sum0 = Worker.VoltageValues[0];
        const double sum2 = Worker.ResistanceValues[2];

        PrepareFft(kind);
        ReduceChannels(Worker, Active);
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
    ReduceChannels(Worker, Active);
    EXPECT_EQ(Worker.VoltageValues[0], 0.0);
}

} // namespace
