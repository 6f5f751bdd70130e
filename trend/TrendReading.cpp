#include "trend/TrendReading.h"

#include "acquisition/BlockReading.h"

TTrendBlock TrendBlockOf(const TBlockReading& reading, const QString formats[6]) {
    TTrendBlock block;
    block.TimeMs = reading.Time.toMSecsSinceEpoch();
    block.RunBlock = reading.Block;
    for (int c = 0; c < TrendChannels; ++c) {
        const TChannelEntry& entry = reading.Channels[size_t(c)];
        const int format = ValueFormatIndex(entry.Quantity, entry.Range);
        // A stale value is the last good one again, not a new measurement.
        if (!entry.Active || entry.Stale || format < 0)
            continue;
        TTrendChannel& out = block.Channels[c];
        out.Setup.Active = true;
        out.Setup.Resistance = entry.Quantity == TQuantity::Resistance;
        out.Setup.Range = entry.Range;
        out.Setup.Format = formats[format];
        out.Value = entry.Value;
        out.OverRange = entry.OverRange;
    }
    return block;
}
