// A channel's input over the module's time, with its scheduled changes.
#pragma once

#include "emulator_config.h"

namespace qira {

// Orders the changes by time (a tie keeps the file's order) and fixes where
// each ramp begins.
void prepareSchedule(ChannelConfig& channel);

// The DC level in volts at module time t, spikes aside.
double levelAt(const ChannelConfig& channel, double t);
// The noise's standard deviation at module time t.
double noiseAt(const ChannelConfig& channel, double t);
// A spike reads in the first block started at or after its time: the spike
// of a block started at blockStart when the one before started at
// previousStart, or nullptr.
const ChannelChange* spikeOf(const ChannelConfig& channel, double previousStart, double blockStart);

} // namespace qira
