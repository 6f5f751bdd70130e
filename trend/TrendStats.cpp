#include "trend/TrendStats.h"

#include <algorithm>
#include <cmath>

void TTrendStats::Add(double value, bool over) {
    Over += over ? 1 : 0;
    if (std::isnan(value))
        return;
    ++Count;
    const double delta = value - Mean;
    Mean += delta / static_cast<double>(Count);
    M2 += delta * (value - Mean);
    Min = std::min(Min, value);
    Max = std::max(Max, value);
}

void TTrendStats::Merge(const TTrendStats& other) {
    Over += other.Over;
    if (other.Count == 0)
        return;
    if (Count == 0) {
        const int64_t over = Over;
        *this = other;
        Over = over;
        return;
    }
    const double n1 = static_cast<double>(Count);
    const double n2 = static_cast<double>(other.Count);
    const double n = n1 + n2;
    const double delta = other.Mean - Mean;
    Mean += delta * (n2 / n);
    M2 += other.M2 + delta * delta * (n1 * n2 / n);
    Count += other.Count;
    Min = std::min(Min, other.Min);
    Max = std::max(Max, other.Max);
}

double TTrendStats::StdDev() const {
    if (Count < 2)
        return 0.0;
    return std::sqrt(std::max(0.0, M2 / static_cast<double>(Count - 1)));
}
