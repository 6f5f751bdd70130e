#include "channel_schedule.h"

#include <algorithm>

namespace qira {
namespace {

// The level after the first count changes, at time t.
double levelAfter(const ChannelConfig& channel, size_t count, double t) {
    double level = channel.volts;
    for (size_t i = 0; i < count; ++i) {
        const ChannelChange& c = channel.changes[i];
        if (c.atS > t)
            break;
        if (c.kind == ChannelChange::Kind::Step)
            level = c.value;
        else if (c.kind == ChannelChange::Kind::Ramp)
            level = t >= c.atS + c.overS ? c.value : c.fromV + (c.value - c.fromV) * (t - c.atS) / c.overS;
    }
    return level;
}

} // namespace

void prepareSchedule(ChannelConfig& channel) {
    auto& changes = channel.changes;
    std::stable_sort(changes.begin(), changes.end(),
                     [](const ChannelChange& a, const ChannelChange& b) { return a.atS < b.atS; });
    for (size_t i = 0; i < changes.size(); ++i)
        if (changes[i].kind == ChannelChange::Kind::Ramp)
            changes[i].fromV = levelAfter(channel, i, changes[i].atS);
}

double levelAt(const ChannelConfig& channel, double t) {
    return levelAfter(channel, channel.changes.size(), t);
}

double noiseAt(const ChannelConfig& channel, double t) {
    double noise = channel.noiseV;
    for (const ChannelChange& c : channel.changes) {
        if (c.atS > t)
            break;
        if (c.kind == ChannelChange::Kind::Noise)
            noise = c.value;
    }
    return noise;
}

const ChannelChange* spikeOf(const ChannelConfig& channel, double previousStart, double blockStart) {
    const ChannelChange* spike = nullptr;
    for (const ChannelChange& c : channel.changes)
        if (c.kind == ChannelChange::Kind::Spike && c.atS > previousStart && c.atS <= blockStart)
            spike = &c;
    return spike;
}

} // namespace qira
