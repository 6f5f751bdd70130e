// The trend's block from the engine's reading record.
#pragma once

#include "trend/TrendBlock.h"

struct TBlockReading;

// formats: the run's value formats (one per range, as the reading's texts).
TTrendBlock TrendBlockOf(const TBlockReading& reading, const QString formats[6]);
