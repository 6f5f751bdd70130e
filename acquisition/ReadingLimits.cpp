#include "acquisition/ReadingLimits.h"

#include "channel_table.h"
#include "data_word.h"

#include <cmath>

// The words are read as the module library's conversion reads them, so a
// change of the word layout or the converter's limits reaches both at once.
void FindClippedEntries(const uint32_t* words, size_t count, uint32_t tableLength, bool* clipped) {
    for (size_t i = 0; i < count; ++i) {
        const uint32_t tag = qira::wordTag(words[i]);
        const int32_t code = qira::wordCode(words[i]);
        if (tag < tableLength && (code == qira::kCodeMax || code == qira::kCodeMin))
            clipped[tag] = true;
    }
}

bool BeyondRangeLimit(double value, double limit) {
    return !(std::fabs(value) < limit);
}
