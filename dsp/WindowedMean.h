#pragma once

#include <cstdint>

// Window-weighted mean: the products are summed in index order in a double and
// divided by norm (the window's sum) once at the end.
double WindowedMean(const double* samples, const double* window, uint32_t n, double norm);
