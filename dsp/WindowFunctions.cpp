#include "WindowFunctions.h"

#include <algorithm>
#include <cmath>

// This file is compiled with -ffp-contract=off: the window values must be the
// plain double roundings of each product and sum, never fused.

namespace {

constexpr double TwoPi = 6.283185307179586;

// Coefficients as the nearest doubles of their decimals; odd terms are negative.
constexpr TWindowKindInfo WindowTable[WindowKindCount] = {
    {0, {}, 0, 0, 0, 1.0},
    {2, {0.5, -0.5}, 2, 15, 15, 1.5},
    {2, {0.54, -0.46}, 3, 15, 15, 1.36},
    {3, {0.42, -0.5, 0.08}, 3, 15, 15, 1.73},
    {3, {0.4243800934609435, -0.4973406350967378, 0.07827927144231873}, 3, 15, 15, 1.70371},
    {4,
     {0.3635819267707608, -0.4891774371450171, 0.1365995139786921, -0.01064112210553003},
     4,
     4,
     4,
     1.97611},
    {5,
     {0.3232153788877343, -0.471492143957626, 0.1755341299601972, -0.02849699010614994, 0.001261357088292677},
     5,
     5,
     5,
     2.21535},
    {7,
     {0.2712203605850388, -0.4334446123274422, 0.2180041228929303, -0.06578534329560609, 0.01076186730534183,
      -0.0007700127105808265, 1.368088305992921e-05},
     7,
     7,
     7,
     2.63025},
    {9,
     {0.2384331152777942, -0.400554534864382, 0.2358242530472107, -0.09527918858383112, 0.02537395516617152,
      -0.004152432907505835, 0.000368560416329818, -1.38435559391703e-05, 1.161808358932861e-07},
     9,
     9,
     9,
     2.98588},
};

// One cosine per value; the higher harmonics come from the Chebyshev products.
// The cosines of a short run go to a buffer first so that the products, free of
// calls, can be vectorised: each value still gets the same operations in the
// same order.
template <int Terms>
void EvaluatePiece(double* out, uint32_t begin, uint32_t end, uint32_t n, const double* a) {
    constexpr uint32_t RunLength = 128;
    const double period = static_cast<double>(n);
    double cosines[RunLength];
    for (uint32_t start = begin; start < end; start += RunLength) {
        const uint32_t count = std::min(end - start, RunLength);
        for (uint32_t j = 0; j < count; ++j)
            cosines[j] = std::cos(static_cast<double>(start + j) * TwoPi / period);
        double* run = out + start;
        for (uint32_t j = 0; j < count; ++j) {
            const double c = cosines[j];
            double c2 = 0.0, c3 = 0.0, c4 = 0.0;
            double w = a[0];
            if constexpr (Terms > 1)
                w += a[1] * c;
            if constexpr (Terms > 2) {
                c2 = 2.0 * c * c - 1.0;
                w += a[2] * c2;
            }
            if constexpr (Terms > 3) {
                c3 = 2.0 * c * c2 - c;
                w += a[3] * c3;
            }
            if constexpr (Terms > 4) {
                c4 = 2.0 * c2 * c2 - 1.0;
                w += a[4] * c4;
            }
            if constexpr (Terms > 5)
                w += a[5] * (2.0 * c2 * c3 - c);
            if constexpr (Terms > 6)
                w += a[6] * (2.0 * c3 * c3 - 1.0);
            if constexpr (Terms > 7)
                w += a[7] * (2.0 * c3 * c4 - c);
            if constexpr (Terms > 8)
                w += a[8] * (2.0 * c4 * c4 - 1.0);
            run[j] = w;
        }
    }
}

void EvaluateRange(double* out, uint32_t begin, uint32_t end, uint32_t n, const double* a, uint16_t terms) {
    switch (terms) {
    case 1:
        EvaluatePiece<1>(out, begin, end, n, a);
        break;
    case 2:
        EvaluatePiece<2>(out, begin, end, n, a);
        break;
    case 3:
        EvaluatePiece<3>(out, begin, end, n, a);
        break;
    case 4:
        EvaluatePiece<4>(out, begin, end, n, a);
        break;
    case 5:
        EvaluatePiece<5>(out, begin, end, n, a);
        break;
    case 6:
        EvaluatePiece<6>(out, begin, end, n, a);
        break;
    case 7:
        EvaluatePiece<7>(out, begin, end, n, a);
        break;
    case 8:
        EvaluatePiece<8>(out, begin, end, n, a);
        break;
    case 9:
        EvaluatePiece<9>(out, begin, end, n, a);
        break;
    default:
        break;
    }
}

} // namespace

const TWindowKindInfo* WindowKindInfo(int kind) {
    if (kind < 0 || kind >= WindowKindCount)
        return nullptr;
    return &WindowTable[kind];
}

void FillCosineSumWindow(double* out, uint32_t n, const double* coefs, uint16_t termCount,
                         const std::atomic<bool>* abortFlag,
                         const std::function<void(uint32_t filled)>& afterPiece) {
    uint32_t i = 0;
    while (i < n) {
        if (abortFlag != nullptr && abortFlag->load(std::memory_order_relaxed))
            return;
        const uint32_t end = i + std::min(n - i, WindowPieceLength);
        EvaluateRange(out, i, end, n, coefs, termCount);
        i = end;
        if (afterPiece)
            afterPiece(i);
    }
}

void GenerateWorkerWindow(TWindowDescriptor& descriptor, const std::atomic<bool>* abortFlag, double* out,
                          uint32_t n, int kind) {
    std::fill(std::begin(descriptor.WindowCoefs), std::end(descriptor.WindowCoefs), 0.0);
    if (kind == 0) {
        std::fill(out, out + n, 1.0);
        return;
    }
    const TWindowKindInfo* info = WindowKindInfo(kind);
    if (info == nullptr)
        return;
    descriptor.WindowTermCount = info->TermCount;
    std::copy(info->Coefs, info->Coefs + info->TermCount, descriptor.WindowCoefs);
    FillCosineSumWindow(out, n, info->Coefs, info->TermCount, abortFlag);
}
