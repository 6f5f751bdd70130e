// Clipped codes and range limits, without a window.
#include "acquisition/ReadingLimits.h"

#include <gtest/gtest.h>

#include <cmath>
#include <iterator>

namespace {

TEST(ChannelReductionLimits, ClippedCodesAreFoundByTheirTableEntry) {
    const uint32_t words[] = {0x007FFFFFu, 0x01000010u, 0x02800000u, 0x037FFFFEu, 0x887FFFFFu, 0x057FFFFFu};
    bool clipped[5] = {};
    FindClippedEntries(words, std::size(words), 5, clipped);
    // Entry 4 has no word; the calibration word (tag 0x88) and a tag beyond
    // the table do not count.
    EXPECT_TRUE(clipped[0]);
    EXPECT_FALSE(clipped[1]);
    EXPECT_TRUE(clipped[2]);
    EXPECT_FALSE(clipped[3]);
    EXPECT_FALSE(clipped[4]);
    EXPECT_TRUE(BeyondRangeLimit(10.0, 10.0));
    EXPECT_TRUE(BeyondRangeLimit(-400.0, 400.0));
    EXPECT_TRUE(BeyondRangeLimit(std::nan(""), 2.0));
    EXPECT_FALSE(BeyondRangeLimit(1.9999, 2.0));
}

} // namespace
