#pragma once

#include <cstdint>

// Window-weighted mean: the products are summed in index order in a double and
// divided by norm (the window's sum) once at the end.
double WindowedMean(const double* samples, const double* window, uint32_t n, double norm);

// The sum of a periodic cosine-sum window of n values with termCount terms,
// the divisor of the window-weighted mean. Once n exceeds the highest harmonic
// (termCount - 1) every harmonic sums to zero and the sum is n * a0, taken as
// such; below that a harmonic aliases onto the constant term, so the values
// themselves are summed. termCount 0 is the rectangular window: n.
double WindowSum(const double* window, uint32_t n, uint16_t termCount, double a0);

// Windowed means of channels interleaved in one block: channel j's samples are
// data[positions[j] + stride * i] for i < n. Each value is bit for bit the
// WindowedMean of the extracted samples (same products, same order), but the
// block is walked in tiles that stay in cache, so it is read from memory once
// instead of once per channel.
void StridedWindowedMeans(const double* data, uint32_t stride, const uint32_t* positions, uint32_t count,
                          const double* window, uint32_t n, double norm, double* means);
