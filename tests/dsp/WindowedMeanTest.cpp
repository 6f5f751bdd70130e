#include "WindowedMean.h"
#include "WindowFunctions.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

TEST(WindowedMean, ConstantGivesTheSameValueWithKindZeroAndKindSix) {
    const uint32_t n = 1000;
    std::vector<double> x(n, 1.25), w0(n), w6(n);
    TWindowDescriptor d;
    GenerateWorkerWindow(d, nullptr, w0.data(), n, 0);
    EXPECT_EQ(WindowedMean(x.data(), w0.data(), n, n), 1.25);
    GenerateWorkerWindow(d, nullptr, w6.data(), n, 6);
    EXPECT_NEAR(WindowedMean(x.data(), w6.data(), n, n * d.WindowCoefs[0]), 1.25, 1e-14);
}

struct TStrideCase {
    uint32_t Stride;
    std::vector<uint32_t> Positions;
    uint32_t N;
};

class StridedWindowedMeansTest : public ::testing::TestWithParam<TStrideCase> {};

// The tiled walk must not change a single bit of any channel's value.
TEST_P(StridedWindowedMeansTest, EqualsExtractionThenWindowedMean) {
    const TStrideCase& sc = GetParam();
    std::mt19937_64 random(sc.N);
    std::uniform_real_distribution<double> volts(-10.0, 10.0);
    std::vector<double> data(static_cast<size_t>(sc.Stride) * sc.N), window(sc.N), perChannel(sc.N);
    for (double& v : data)
        v = volts(random);
    TWindowDescriptor d;
    GenerateWorkerWindow(d, nullptr, window.data(), sc.N, 6);
    const double norm = sc.N * d.WindowCoefs[0];

    std::vector<double> means(sc.Positions.size(), -1.0);
    StridedWindowedMeans(data.data(), sc.Stride, sc.Positions.data(),
                         static_cast<uint32_t>(sc.Positions.size()), window.data(), sc.N, norm, means.data());
    for (size_t j = 0; j < sc.Positions.size(); ++j) {
        for (uint32_t i = 0; i < sc.N; ++i)
            perChannel[i] = data[sc.Positions[j] + static_cast<size_t>(sc.Stride) * i];
        EXPECT_EQ(means[j], WindowedMean(perChannel.data(), window.data(), sc.N, norm)) << j;
    }
}

INSTANTIATE_TEST_SUITE_P(Blocks, StridedWindowedMeansTest,
                         ::testing::Values(TStrideCase{1, {0}, 100000}, TStrideCase{3, {2, 0}, 5000},
                                           TStrideCase{16, {0, 5, 15}, 4097}, TStrideCase{16, {7}, 1},
                                           TStrideCase{2, {}, 10}));

} // namespace
