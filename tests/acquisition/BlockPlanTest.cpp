#include "acquisition/BlockPlan.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

struct BlockCase {
    const char* Name;
    double NominalRate;
    int32_t Divider;
    uint32_t Logical;
    uint16_t CalibrationSlots;
    int32_t CorrectionMode;
    double AcquisitionTime;
    uint32_t MinSamples[4];
    bool Fft;
    // expected
    double FrameRate;
    double PlannedTime;
    uint32_t RecvChunk;
    uint32_t SamplesPerChannel;
};

constexpr double Nan = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();

// The module frame is the table plus the calibration slot, as the module reports it.
const BlockCase Cases[] = {
    {"Sum1000HzOneChannel", 1000, 8, 1, 0, 0, 1.0, {6, 32, 64, 128}, false, 1000, 1.0, 100, 1000},
    {"Fft1000HzOneChannel", 1000, 8, 1, 0, 0, 1.0, {6, 32, 64, 128}, true, 1000, 1.0, 100, 1024},
    {"Continuous5HzRaisedTo2s", 5, 1600, 1, 1, 1, 1.0, {4, 32, 64, 128}, false, 2.5, 2.0, 1, 5},
    {"Continuous5HzChunkOf02s", 5, 1600, 1, 1, 1, 3.0, {4, 32, 64, 128}, false, 2.5, 3.0, 1, 8},
    {"Initial5HzRaisedTo1s", 5, 1600, 2, 0, 0, 0.2, {1, 32, 64, 128}, false, 2.5, 1.0, 1, 3},
    {"Initial5HzOneChannelStillReceives", 5, 1600, 1, 0, 0, 1.0, {1, 32, 64, 128}, false, 5, 1.0, 1, 5},
    {"ZeroTimeStillOneFrame", 1000, 8, 2, 0, 0, 0.0, {0, 0, 0, 0}, false, 500, 0.0, 100, 1},
    {"Continuous5HzMinimumSamples", 5, 1600, 1, 1, 1, 1.0, {6, 32, 64, 128}, false, 2.5, 2.4, 1, 6},
    {"ResistanceTwoChannels", 1000, 8, 4, 0, 0, 1.0, {6, 32, 64, 128}, false, 250, 1.0, 100, 250},
    {"MinimumSamples100Hz", 100, 80, 1, 0, 0, 0.1, {6, 32, 64, 128}, false, 100, 0.32, 10, 32},
    {"MinimumSamples200Hz", 200, 40, 1, 0, 0, 0.1, {6, 32, 64, 128}, false, 200, 0.32, 20, 64},
    {"SixteenChannels4000Hz", 4000, 2, 16, 0, 0, 1.0, {6, 32, 64, 128}, false, 250, 1.0, 400, 250},
    {"SumCappedAtMultipleOfL", 4000, 2, 3, 0, 0, 1e6, {6, 32, 64, 128}, false, 4000.0 / 3, 1e6, 400, 5592405},
    {"FftDoublingStopsAtCap", 4000, 2, 16, 0, 0, 1e6, {6, 32, 64, 128}, true, 250, 1e6, 400, 1048576},
    {"NanTimeCountsAsOneSecond", 1000, 8, 1, 0, 0, Nan, {6, 32, 64, 128}, false, 1000, 1.0, 100, 1000},
    {"InfiniteTimeCountsAsOneSecond", 1000, 8, 1, 0, 0, Inf, {6, 32, 64, 128}, true, 1000, 1.0, 100, 1024},
    {"BlockShorterThanChunk", 4000, 2, 1, 0, 0, 0.01, {6, 32, 64, 16}, false, 4000, 0.01, 40, 40},
};

class BlockPlanTest : public ::testing::TestWithParam<BlockCase> {};

TEST_P(BlockPlanTest, SizesFollowRateChannelsAndTime) {
    const BlockCase& c = GetParam();
    TBlockSettings s;
    s.NominalRate = c.NominalRate;
    s.FrequencyDivider = c.Divider;
    s.LogicalChannelCount = c.Logical;
    s.CalibrationSlotCount = c.CalibrationSlots;
    s.FrameLength = c.Logical + c.CalibrationSlots;
    s.CorrectionMode = c.CorrectionMode;
    s.AcquisitionTime = c.AcquisitionTime;
    std::copy(std::begin(c.MinSamples), std::end(c.MinSamples), s.MinSamplesPerChannel);
    s.Fft = c.Fft;

    const TBlockPlan plan = PlanBlock(s);
    EXPECT_DOUBLE_EQ(plan.FrameRate, c.FrameRate);
    EXPECT_DOUBLE_EQ(plan.AcquisitionTime, c.PlannedTime);
    EXPECT_EQ(plan.SamplesPerChannel, c.SamplesPerChannel);
    EXPECT_EQ(plan.DataCount, c.Logical * c.SamplesPerChannel);
    EXPECT_EQ(plan.RecvWordCount, s.FrameLength * c.SamplesPerChannel);
    EXPECT_EQ(plan.RecvChunk, std::min(c.RecvChunk, plan.RecvWordCount));
    EXPECT_LE(plan.RecvChunk, plan.RecvWordCount);
    if (!c.Fft) {
        EXPECT_LE(plan.DataCount, MaxBlockValues);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, BlockPlanTest, ::testing::ValuesIn(Cases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(BlockPlanTest, FftBlockIsThePowerOfTwoLastingTheAcquisitionTime) {
    for (uint32_t logical : {1u, 2u, 5u, 16u}) {
        TBlockSettings s;
        s.NominalRate = 500;
        s.FrequencyDivider = 16;
        s.LogicalChannelCount = logical;
        s.FrameLength = logical;
        s.AcquisitionTime = 0.7;
        s.Fft = true;
        const TBlockPlan plan = PlanBlock(s);
        const uint32_t n = plan.SamplesPerChannel;
        EXPECT_EQ(n & (n - 1), 0u) << logical;
        EXPECT_GE(n / plan.FrameRate, 0.7) << logical;
        EXPECT_LT(n / 2 / plan.FrameRate, 0.7) << logical;
    }
}

} // namespace
