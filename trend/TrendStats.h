// Count, mean, spread, extremes and over-range count of a set of values,
// mergeable so that a range's figures come from precomputed parts.
#pragma once

#include <cstdint>
#include <limits>

struct TTrendStats {
    int64_t Count = 0; // values (a channel not measuring adds none)
    int64_t Over = 0;  // over-range blocks
    double Mean = 0.0;
    double M2 = 0.0; // sum of squared deviations from Mean
    double Min = std::numeric_limits<double>::infinity();
    double Max = -std::numeric_limits<double>::infinity();

    // Welford's update; a NaN adds no value.
    void Add(double value, bool over);
    // Chan's pairwise combination: as exact as adding the values one by one.
    void Merge(const TTrendStats& other);
    // Sample standard deviation (n - 1); 0 for fewer than two values.
    double StdDev() const;
    double PeakToPeak() const { return Count ? Max - Min : 0.0; }
};
