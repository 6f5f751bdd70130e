#include "dsp/TREALFFT.h"
#include "dsp/WindowFunctions.h"
#include "dsp/WindowedMean.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

TEST(TREALFFT, ConstructionPreparesPowerOfTwoLengthsOnly) {
    struct {
        uint32_t N;
        bool Transform;
    } cases[] = {{1, true}, {2, true}, {1024, true}, {1u << 20, true}, {0, false}, {1000, false}, {3, false}};
    for (const auto& c : cases) {
        TREALFFT fft(c.N, nullptr);
        EXPECT_EQ(fft.Length(), c.N);
        EXPECT_EQ(fft.HasTransform(), c.Transform) << c.N;
        EXPECT_EQ(fft.Enbw, 1.0);
        EXPECT_EQ(fft.MainLobeBins, 0);
        EXPECT_EQ(fft.WindowTermCount, 0);
    }
}

TEST(TREALFFT, SetLength) {
    TREALFFT fft(1024, nullptr);
    EXPECT_FALSE(fft.SetLength(0));
    EXPECT_EQ(fft.Length(), 1024u);
    EXPECT_TRUE(fft.HasTransform());

    EXPECT_TRUE(fft.SetLength(1024));
    EXPECT_TRUE(fft.HasTransform());

    EXPECT_TRUE(fft.SetLength(4096));
    EXPECT_EQ(fft.Length(), 4096u);
    EXPECT_TRUE(fft.HasTransform());

    TREALFFT empty(0, nullptr);
    EXPECT_TRUE(empty.SetLength(8));
    EXPECT_TRUE(empty.HasTransform());
}

std::vector<double> Windowed(const std::vector<double>& x, const std::vector<double>& w) {
    std::vector<double> y(x.size());
    for (size_t i = 0; i < x.size(); ++i)
        y[i] = x[i] * w[i];
    return y;
}

// The "fft" value of a block must agree with the "sum" value of the same block.
TEST(TREALFFT, DcTermIsTheWindowedMean) {
    const uint32_t n = 1024;
    for (double level : {1.25, -0.37, 0.0}) {
        std::vector<double> x(n);
        for (uint32_t i = 0; i < n; ++i)
            x[i] = level + 1e-3 * std::sin(0.1 * i);
        TREALFFT fft(n, nullptr);
        std::vector<double> w(n);
        fft.GenerateWindow(w.data(), 6);
        const double norm = n * fft.WindowCoefs[0];
        std::vector<double> spectrum(n / 2 + 1);
        double dc = 99.0;
        ASSERT_TRUE(fft.Transform(Windowed(x, w).data(), spectrum.data(), norm, dc));
        const double mean = WindowedMean(x.data(), w.data(), n, norm);
        EXPECT_NEAR(dc, mean, 1e-14) << level;
        EXPECT_NEAR(spectrum[0], std::fabs(mean), 1e-14) << level;
    }
}

TEST(TREALFFT, ConstantSignalWithKindSixWindow) {
    const uint32_t n = 1024;
    std::vector<double> x(n, 1.25);
    TREALFFT fft(n, nullptr);
    std::vector<double> w(n);
    fft.GenerateWindow(w.data(), 6);
    const double norm = n * fft.WindowCoefs[0];
    std::vector<double> spectrum(n / 2 + 1);
    double dc = 0.0;
    ASSERT_TRUE(fft.Transform(Windowed(x, w).data(), spectrum.data(), norm, dc));
    EXPECT_NEAR(dc, 1.25, 1e-14);
    EXPECT_NEAR(WindowedMean(x.data(), w.data(), n, norm), 1.25, 1e-14);
    // A constant leaks only into the window's own bins, by |ak| / a0.
    for (uint32_t k = 1; k < 5; ++k)
        EXPECT_NEAR(spectrum[k], 1.25 * std::fabs(fft.WindowCoefs[k]) / fft.WindowCoefs[0], 1e-13) << k;
    for (uint32_t k = 5; k <= n / 2; ++k)
        EXPECT_NEAR(spectrum[k], 0.0, 1e-13) << k;
}

TEST(TREALFFT, SineAmplitudeWithRectangularWindow) {
    const uint32_t n = 4096;
    const double pi = 3.141592653589793;
    std::vector<double> x(n);
    for (uint32_t i = 0; i < n; ++i)
        x[i] = -0.5 + 2.0 * std::sin(2 * pi * 37 * i / n) + 0.25 * std::cos(pi * i); // 0.25 at Nyquist
    TREALFFT fft(n, nullptr);
    std::vector<double> spectrum(n / 2 + 16, -1.0);
    double dc = 0.0;
    ASSERT_TRUE(fft.Transform(x.data(), spectrum.data(), n, dc));
    EXPECT_NEAR(dc, -0.5, 1e-12);
    EXPECT_NEAR(spectrum[0], 0.5, 1e-12);
    EXPECT_NEAR(spectrum[37], 2.0, 1e-12);
    EXPECT_NEAR(spectrum[n / 2], 0.25, 1e-12);
    EXPECT_NEAR(spectrum[36], 0.0, 1e-12);
    EXPECT_EQ(spectrum[n / 2 + 1], -1.0);
}

TEST(TREALFFT, TransformRefusesWithoutTransformOrWindowSum) {
    std::vector<double> x(8, 1.0), spectrum(8 / 2 + 1);
    double dc = 42.0;
    TREALFFT fft(8, nullptr);
    EXPECT_FALSE(fft.Transform(x.data(), spectrum.data(), 0.0, dc));
    EXPECT_FALSE(fft.Transform(x.data(), spectrum.data(), NAN, dc));
    TREALFFT none(6, nullptr);
    EXPECT_FALSE(none.Transform(x.data(), spectrum.data(), 8.0, dc));
    EXPECT_EQ(dc, 42.0);
}

} // namespace
