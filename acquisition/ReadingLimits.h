// Whether a block's reading is a measurement: clipped converter codes and
// values at or beyond their range. No Qt.
#pragma once

#include <cstddef>
#include <cstdint>

// Marks each channel-table entry one of whose words in the block carries a
// code at the converter's limit (+2^23 - 1 or -2^23): the input was clipped,
// so the entry's value is not a measurement. clipped holds tableLength flags.
void FindClippedEntries(const uint32_t* words, size_t count, uint32_t tableLength, bool* clipped);

// A reading at or beyond its range's full scale (either sign) lies outside
// the range the reading is specified for.
bool BeyondRangeLimit(double value, double limit);
