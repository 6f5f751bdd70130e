#include "channel_table.h"

#include <algorithm>

namespace qira {

double conversionRate(int32_t divider) {
    return 15000000.0 / (1875.0 * divider);
}

double referenceVolts(const float coefs[9], int scale) {
    return scale < 3 ? double(coefs[scale]) : double(coefs[6 + scale - 3]);
}

double excitationAmps(const float coefs[9], int range) {
    return double(coefs[3 + range]);
}

bool coefsValid(const float coefs[9]) {
    for (int s = 0; s < kScaleCount; ++s) {
        const double v = referenceVolts(coefs, s);
        // Written as a negation so that NaN fails too.
        if (!(v > 0.01 * kFullScaleVolts[s] && v < kFullScaleVolts[s]))
            return false;
    }
    for (int r = 0; r < 3; ++r)
        if (!(excitationAmps(coefs, r) > 1e-9 && excitationAmps(coefs, r) < 1.0))
            return false;
    return true;
}

int32_t validateSettings(const AdcSettings& s) {
    const size_t n = s.table.size();
    if (n < 1 || n > size_t(kMaxTable) || s.calibrationSlots > 1)
        return 0;
    if (std::find(std::begin(kDividers), std::end(kDividers), s.divider) == std::end(kDividers))
        return 0;
    for (size_t i = 0; i < n; ++i) {
        const TableEntry& e = s.table[i];
        if (e.channel >= kChannelCount || e.range > 2)
            return 0;
        if (e.mode == kModeVoltage)
            continue;
        // A resistance takes the pair on-then-off of one channel and range.
        if (e.mode != kModeResistanceOn || i + 1 >= n || e.channel >= kResistanceChannels)
            return 0;
        const TableEntry& off = s.table[i + 1];
        if (off.mode != kModeResistanceOff || off.channel != e.channel || off.range != e.range)
            return 0;
        ++i;
    }
    return int32_t(n) + s.calibrationSlots;
}

std::vector<int> scalesUsed(const std::vector<TableEntry>& table) {
    std::vector<int> scales;
    for (const TableEntry& e : table)
        if (std::find(scales.begin(), scales.end(), scaleOf(e)) == scales.end())
            scales.push_back(scaleOf(e));
    std::sort(scales.begin(), scales.end());
    return scales;
}

} // namespace qira
