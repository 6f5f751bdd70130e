#include "WindowedMean.h"

#include <algorithm>
#include <cstddef>

// Compiled with -ffp-contract=off so that every caller, whatever its own flags,
// gets the same rounding of each product.
double WindowedMean(const double* samples, const double* window, uint32_t n, double norm) {
    double sum = 0.0;
    for (uint32_t i = 0; i < n; ++i)
        sum += samples[i] * window[i];
    return sum / norm;
}

double WindowSum(const double* window, uint32_t n, uint16_t termCount, double a0) {
    if (termCount == 0)
        return double(n);
    if (n >= termCount)
        return n * a0;
    double sum = 0.0;
    for (uint32_t i = 0; i < n; ++i)
        sum += window[i];
    return sum;
}

void StridedWindowedMeans(const double* data, uint32_t stride, const uint32_t* positions, uint32_t count,
                          const double* window, uint32_t n, double norm, double* means) {
    constexpr uint32_t TileFrames = 2048;
    std::fill(means, means + count, 0.0);
    for (uint32_t begin = 0; begin < n; begin += TileFrames) {
        const uint32_t end = begin + std::min(n - begin, TileFrames);
        for (uint32_t j = 0; j < count; ++j) {
            const double* samples = data + positions[j];
            double sum = means[j];
            for (uint32_t i = begin; i < end; ++i)
                sum += samples[static_cast<size_t>(stride) * i] * window[i];
            means[j] = sum;
        }
    }
    for (uint32_t j = 0; j < count; ++j)
        means[j] /= norm;
}
