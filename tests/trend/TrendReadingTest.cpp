#include "trend/TrendReading.h"

#include "acquisition/BlockReading.h"

#include <gtest/gtest.h>

namespace {

TEST(TrendReading, EachEntryAsTheTrendKeepsIt) {
    const QString formats[6] = {"0.0", "0.00", "0.000", "0.", "0.0", "0.00"};
    TBlockReading reading;
    reading.Time = QDateTime::fromMSecsSinceEpoch(1796956800500, Qt::UTC);
    reading.Block = 5;
    struct Case {
        TChannelEntry Entry;
        bool Active;
        QString Format;
    };
    const Case cases[] = {
        {{true, TQuantity::Voltage, 1, 1.5, "1.50", false, false}, true, "0.00"},
        {{true, TQuantity::Resistance, 0, 399.0, "399", true, false}, true, "0."},
        {{true, TQuantity::Resistance, 2, 3999.0, "3999.00", false, false}, true, "0.00"},
        {{false, TQuantity::Voltage, 1, 2.0, "2.00", false, false}, false, ""}, // not measured
        {{true, TQuantity::Voltage, -1, 0.0, "", false, false}, false, ""},     // no range
        {{true, TQuantity::Voltage, 0, 7.0, "7.0", false, true}, false, ""},    // the last good value again
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        reading.Channels[i] = cases[i].Entry;
    const TTrendBlock block = TrendBlockOf(reading, formats);
    EXPECT_EQ(block.TimeMs, 1796956800500);
    EXPECT_EQ(block.RunBlock, 5);
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        const TTrendChannel& out = block.Channels[i];
        EXPECT_EQ(out.Setup.Active, cases[i].Active);
        if (!cases[i].Active)
            continue;
        EXPECT_EQ(out.Setup.Resistance, cases[i].Entry.Quantity == TQuantity::Resistance);
        EXPECT_EQ(out.Setup.Range, cases[i].Entry.Range);
        EXPECT_EQ(out.Setup.Format, cases[i].Format);
        EXPECT_EQ(out.Value, cases[i].Entry.Value);
        EXPECT_EQ(out.OverRange, cases[i].Entry.OverRange);
    }
}

} // namespace
