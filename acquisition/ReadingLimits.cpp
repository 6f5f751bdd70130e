#include "acquisition/ReadingLimits.h"

#include <cmath>

void FindClippedEntries(const uint32_t* words, size_t count, uint32_t tableLength, bool* clipped) {
    constexpr uint32_t Top = 0x7FFFFF;    // +2^23 - 1
    constexpr uint32_t Bottom = 0x800000; // -2^23
    for (size_t i = 0; i < count; ++i) {
        const uint32_t tag = words[i] >> 24;
        const uint32_t code = words[i] & 0xFFFFFF;
        if (tag < tableLength && (code == Top || code == Bottom))
            clipped[tag] = true;
    }
}

bool BeyondRangeLimit(double value, double limit) {
    return !(std::fabs(value) < limit);
}
