// The trend's block from the engine's values of the last block.
#pragma once

#include "trend/TrendBlock.h"

class TMeasurementCycle;

// active: the channels the block measured; formats: the settings' display
// patterns (ValueFormats); timeMs: when the values were ready, UTC.
TTrendBlock TrendBlockOf(const TMeasurementCycle& cycle, const bool active[TrendChannels],
                         const QString formats[6], qint64 timeMs);
