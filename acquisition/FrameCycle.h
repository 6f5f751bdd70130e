// One block from the module: stop it if it runs, start it, receive the block in
// chunks, stop it; then the module library converts the words.
#pragma once

#include <cstdint>

#include "km808api.h"

class TMeasurementCycle;

struct TFrameRequest {
    KM808_CONTROL* Module = nullptr;
    uint32_t* Buffer = nullptr;
    uint32_t Words = 0;
};

// True when the block arrived and the module stopped without a report.
bool AcquireFrame(TMeasurementCycle& cycle, const TFrameRequest& request);

// True when the library converted the block and the value count fits the word
// count. correctionMode 0 or 1; anything else fails without calling the library.
bool ProcessFrame(const TMeasurementCycle& cycle, KM808_CONTROL* module, const uint32_t* words,
                  double* values, uint32_t wordCount, int32_t correctionMode);
