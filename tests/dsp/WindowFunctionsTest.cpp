#include "dsp/WindowFunctions.h"
#include "dsp/TREALFFT.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

// The window table as published, kept apart from the library's own copy so that a
// mistyped coefficient shows up.
struct TKindCase {
    int Kind;
    std::vector<double> Coefs;
    int32_t MainLobeBins;
    uint32_t BinSpan;
    double Enbw;
};

const std::vector<TKindCase> KindCases = {
    {1, {0.5, -0.5}, 2, 15, 1.5},
    {2, {0.54, -0.46}, 3, 15, 1.36},
    {3, {0.42, -0.5, 0.08}, 3, 15, 1.73},
    {4, {0.4243800934609435, -0.4973406350967378, 0.07827927144231873}, 3, 15, 1.70371},
    {5, {0.3635819267707608, -0.4891774371450171, 0.1365995139786921, -0.01064112210553003}, 4, 4, 1.97611},
    {6,
     {0.3232153788877343, -0.471492143957626, 0.1755341299601972, -0.02849699010614994, 0.001261357088292677},
     5,
     5,
     2.21535},
    {7,
     {0.2712203605850388, -0.4334446123274422, 0.2180041228929303, -0.06578534329560609, 0.01076186730534183,
      -0.0007700127105808265, 1.368088305992921e-05},
     7,
     7,
     2.63025},
    {8,
     {0.2384331152777942, -0.400554534864382, 0.2358242530472107, -0.09527918858383112, 0.02537395516617152,
      -0.004152432907505835, 0.000368560416329818, -1.38435559391703e-05, 1.161808358932861e-07},
     9,
     9,
     2.98588},
};

constexpr double Untouched = -7.0;

long double DirectValue(const std::vector<double>& coefs, uint32_t i, uint32_t n) {
    const long double twoPi = 6.283185307179586476925286766559L;
    long double w = 0.0L;
    for (size_t k = 0; k < coefs.size(); ++k)
        w += static_cast<long double>(coefs[k]) * cosl(twoPi * static_cast<long double>(k * i % n) / n);
    return w;
}

class WindowKindTest : public ::testing::TestWithParam<TKindCase> {};

TEST_P(WindowKindTest, WorkerWindowMatchesDirectCosineSum) {
    const TKindCase& kc = GetParam();
    for (uint32_t n : {16u, 1000u, 1024u, 4097u, 300000u}) {
        std::vector<double> w(n, Untouched);
        TWindowDescriptor d;
        GenerateWorkerWindow(d, nullptr, w.data(), n, kc.Kind);

        ASSERT_EQ(d.WindowTermCount, kc.Coefs.size());
        for (int k = 0; k < WindowCoefSlots; ++k)
            EXPECT_EQ(d.WindowCoefs[k], k < static_cast<int>(kc.Coefs.size()) ? kc.Coefs[k] : 0.0) << k;

        double maxError = 0.0;
        long double sum = 0.0L;
        for (uint32_t i = 0; i < n; ++i) {
            maxError = std::max(maxError, static_cast<double>(fabsl(w[i] - DirectValue(kc.Coefs, i, n))));
            sum += w[i];
        }
        // The peak is 1: about 1e-15 relative, mostly the rounding of the angle.
        EXPECT_LE(maxError, 1.5e-15) << "N=" << n;
        EXPECT_NEAR(static_cast<double>(sum), n * kc.Coefs[0], n * 1e-15) << "N=" << n;
        if (n % 2 == 0) {
            EXPECT_NEAR(w[n / 2], 1.0, 4e-16) << "N=" << n;
        }
    }
}

TEST_P(WindowKindTest, AnalyserWindowIsTheSameWithItsConstants) {
    const TKindCase& kc = GetParam();
    const uint32_t n = 1024;
    std::vector<double> worker(n), analyser(n, Untouched);
    TWindowDescriptor d;
    GenerateWorkerWindow(d, nullptr, worker.data(), n, kc.Kind);
    TREALFFT fft(n, nullptr);
    fft.GenerateWindow(analyser.data(), kc.Kind);

    EXPECT_EQ(analyser, worker);
    EXPECT_EQ(fft.WindowTermCount, kc.Coefs.size());
    for (int k = 0; k < WindowCoefSlots; ++k)
        EXPECT_EQ(fft.WindowCoefs[k], d.WindowCoefs[k]);
    EXPECT_EQ(fft.MainLobeBins, kc.MainLobeBins);
    EXPECT_EQ(fft.BinSpan1, kc.BinSpan);
    EXPECT_EQ(fft.BinSpan2, kc.BinSpan);
    EXPECT_EQ(fft.Enbw, kc.Enbw);
    // The constant is the window's noise bandwidth, rounded.
    double meanSquare = kc.Coefs[0] * kc.Coefs[0];
    for (size_t k = 1; k < kc.Coefs.size(); ++k)
        meanSquare += 0.5 * kc.Coefs[k] * kc.Coefs[k];
    EXPECT_NEAR(fft.Enbw, meanSquare / (kc.Coefs[0] * kc.Coefs[0]), 0.006);
}

TEST_P(WindowKindTest, SetAbortFlagWritesNoValue) {
    const TKindCase& kc = GetParam();
    const std::atomic<bool> abort{true};
    std::vector<double> w(1000, Untouched);
    TWindowDescriptor d;
    GenerateWorkerWindow(d, &abort, w.data(), 1000, kc.Kind);
    EXPECT_EQ(d.WindowTermCount, kc.Coefs.size());
    TREALFFT fft(1000, &abort);
    fft.GenerateWindow(w.data(), kc.Kind);
    EXPECT_EQ(w, std::vector<double>(1000, Untouched));
}

INSTANTIATE_TEST_SUITE_P(AllKinds, WindowKindTest, ::testing::ValuesIn(KindCases),
                         [](const auto& info) { return "Kind" + std::to_string(info.param.Kind); });

TEST(WindowFunctions, HannOfFourValues) {
    double w[4];
    TWindowDescriptor d;
    GenerateWorkerWindow(d, nullptr, w, 4, 1);
    EXPECT_EQ(w[0], 0.0);
    EXPECT_DOUBLE_EQ(w[1], 0.5);
    EXPECT_DOUBLE_EQ(w[2], 1.0);
    EXPECT_DOUBLE_EQ(w[3], 0.5);
}

struct TPieceCase {
    uint32_t N;
    bool AbortAfterFirstPiece;
    std::vector<uint32_t> Pieces; // values filled after each piece
};

class WindowPieceTest : public ::testing::TestWithParam<TPieceCase> {};

TEST_P(WindowPieceTest, AbortIsTestedBeforeEveryPiece) {
    const TPieceCase& pc = GetParam();
    const TWindowKindInfo* hann = WindowKindInfo(1);
    std::atomic<bool> abort{false};
    std::vector<double> w(pc.N, Untouched);
    std::vector<uint32_t> pieces;
    FillCosineSumWindow(w.data(), pc.N, hann->Coefs, hann->TermCount, &abort, [&](uint32_t filled) {
        pieces.push_back(filled);
        abort = pc.AbortAfterFirstPiece;
    });
    EXPECT_EQ(pieces, pc.Pieces);
    EXPECT_NE(w[pieces.back() - 1], Untouched);
    if (pieces.back() < pc.N) {
        EXPECT_EQ(w[pieces.back()], Untouched);
    }
}

INSTANTIATE_TEST_SUITE_P(Pieces, WindowPieceTest,
                         ::testing::Values(TPieceCase{262144, false, {262144}},
                                           TPieceCase{262145, false, {262144, 262145}},
                                           TPieceCase{262145, true, {262144}},
                                           TPieceCase{600000, true, {262144}}));

TEST(WindowFunctions, WorkerKindZeroIsUnitWeightsEvenWhenAborted) {
    const std::atomic<bool> abort{true};
    std::vector<double> w(1000, Untouched);
    TWindowDescriptor d;
    GenerateWorkerWindow(d, nullptr, w.data(), 1000, 6);
    d.WindowTermCount = 77;
    GenerateWorkerWindow(d, &abort, w.data(), 1000, 0);
    EXPECT_EQ(w, std::vector<double>(1000, 1.0));
    EXPECT_EQ(d.WindowTermCount, 77);
    for (double c : d.WindowCoefs)
        EXPECT_EQ(c, 0.0);
}

TEST(WindowFunctions, KindsOutsideTheTableOnlyClearTheCoefficients) {
    for (int kind : {-1, 9, 127, -128}) {
        std::vector<double> w(64, Untouched);
        TWindowDescriptor d;
        GenerateWorkerWindow(d, nullptr, w.data(), 64, 6);
        std::fill(w.begin(), w.end(), Untouched);
        GenerateWorkerWindow(d, nullptr, w.data(), 64, kind);
        EXPECT_EQ(w, std::vector<double>(64, Untouched)) << kind;
        EXPECT_EQ(d.WindowTermCount, 5) << kind;
        for (double c : d.WindowCoefs)
            EXPECT_EQ(c, 0.0) << kind;

        TREALFFT fft(64, nullptr);
        fft.GenerateWindow(w.data(), 6);
        std::fill(w.begin(), w.end(), Untouched);
        fft.GenerateWindow(w.data(), kind);
        EXPECT_EQ(w, std::vector<double>(64, Untouched)) << kind;
        EXPECT_EQ(fft.MainLobeBins, 0);
        EXPECT_EQ(fft.BinSpan1, 0u);
        EXPECT_EQ(fft.BinSpan2, 0u);
        EXPECT_EQ(fft.Enbw, 0.0);
        EXPECT_EQ(fft.WindowTermCount, 0);
        for (double c : fft.WindowCoefs)
            EXPECT_EQ(c, 0.0) << kind;
    }
}

TEST(WindowFunctions, AnalyserKindZeroLeavesBufferAndSpans) {
    std::vector<double> w(64, Untouched);
    TREALFFT fft(64, nullptr);
    fft.GenerateWindow(w.data(), 6);
    std::fill(w.begin(), w.end(), 0.0);
    fft.GenerateWindow(w.data(), 0);
    EXPECT_EQ(w, std::vector<double>(64, 0.0));
    EXPECT_EQ(fft.Enbw, 1.0);
    EXPECT_EQ(fft.MainLobeBins, 5);
    EXPECT_EQ(fft.BinSpan1, 5u);
    EXPECT_EQ(fft.BinSpan2, 5u);
    for (double c : fft.WindowCoefs)
        EXPECT_EQ(c, 0.0);
}

} // namespace
