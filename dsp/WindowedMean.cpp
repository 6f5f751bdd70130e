#include "WindowedMean.h"

// Compiled with -ffp-contract=off so that every caller, whatever its own flags,
// gets the same rounding of each product.
double WindowedMean(const double* samples, const double* window, uint32_t n, double norm) {
    double sum = 0.0;
    for (uint32_t i = 0; i < n; ++i)
        sum += samples[i] * window[i];
    return sum / norm;
}
