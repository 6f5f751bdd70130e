#include "dsp/WindowedMean.h"
#include "dsp/TREALFFT.h"
#include "dsp/WindowFunctions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
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

// A steady input must read as itself whatever the block length: below five
// frames the 5-term window's harmonics alias onto its constant term, and the
// divisor must follow. Lengths from five on keep their divisor N * a0 bit for
// bit. The measurement uses kind 0 below 10 Hz and kind 6 above, under "sum"
// and "fft" alike.
TEST(WindowSum, SteadyInputReadsAsItselfAtEveryFrameCount) {
    const double volts = 1.25;
    for (uint32_t n : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 16u, 100u, 1024u}) {
        for (int kind : {0, 6}) {
            SCOPED_TRACE(testing::Message() << "frames " << n << ", kind " << kind);
            std::vector<double> x(n, volts), w(n, 0.0);
            TWindowDescriptor d;
            GenerateWorkerWindow(d, nullptr, w.data(), n, kind);
            const uint16_t terms = kind == 0 ? 0 : d.WindowTermCount;
            const double norm = WindowSum(w.data(), n, terms, d.WindowCoefs[0]);
            EXPECT_NEAR(WindowedMean(x.data(), w.data(), n, norm), volts, 1e-12);
            if (kind == 6 && n >= 5) {
                EXPECT_EQ(norm, n * d.WindowCoefs[0]);
            }
            if (kind == 0) {
                EXPECT_EQ(norm, double(n));
            }

            if ((n & (n - 1)) != 0)
                continue; // "fft" blocks are powers of two
            TREALFFT analyser(n, nullptr);
            ASSERT_TRUE(analyser.HasTransform());
            std::vector<double> aw(n, 0.0), windowed(n + 16), spectrum(n / 2 + 16);
            analyser.GenerateWindow(aw.data(), kind);
            const double fftNorm =
                WindowSum(aw.data(), n, kind == 0 ? 0 : analyser.WindowTermCount, analyser.WindowCoefs[0]);
            for (uint32_t i = 0; i < n; ++i)
                windowed[i] = kind == 0 ? volts : volts * aw[i];
            double dc = 0.0;
            ASSERT_TRUE(analyser.Transform(windowed.data(), spectrum.data(), fftNorm, dc));
            EXPECT_NEAR(dc, volts, 1e-12);
        }
    }
}

// Whatever the kind, the divisor is the sum of the window's own values.
TEST(WindowSum, IsTheSumOfTheWindowForEveryKind) {
    for (int kind = 1; kind <= 8; ++kind) {
        for (uint32_t n = 1; n <= 20; ++n) {
            std::vector<double> w(n);
            TWindowDescriptor d;
            GenerateWorkerWindow(d, nullptr, w.data(), n, kind);
            const double sum = std::accumulate(w.begin(), w.end(), 0.0);
            EXPECT_NEAR(WindowSum(w.data(), n, d.WindowTermCount, d.WindowCoefs[0]), sum, 1e-12 * n)
                << "kind " << kind << ", frames " << n;
        }
    }
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
