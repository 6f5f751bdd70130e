#include "trend/TrendReading.h"

#include "acquisition/MeasurementCycle.h"

TTrendBlock TrendBlockOf(const TMeasurementCycle& cycle, const bool active[TrendChannels],
                         const QString formats[6], qint64 timeMs) {
    TTrendBlock block;
    block.TimeMs = timeMs;
    for (int c = 0; c < TrendChannels; ++c) {
        const TChannelReading reading = ChannelReading(cycle, c);
        TTrendChannel& out = block.Channels[c];
        if (!active[c] || !reading.Shown || cycle.ChannelPosition[c] == NoChannelPosition)
            continue;
        out.Setup.Active = true;
        out.Setup.Resistance = reading.Resistance;
        out.Setup.Range = reading.FormatIndex % 3;
        out.Setup.Format = formats[reading.FormatIndex];
        out.Value = reading.Value;
        out.OverRange = reading.OverRange;
    }
    return block;
}
