// The block arithmetic: from the module's accepted table and the settings to
// the frame rate, receive chunk and block size. No Qt.
#pragma once

#include <cstdint>

// What the block arithmetic needs once the module has accepted its table.
struct TBlockSettings {
    double NominalRate = 0.0; // conversions per second, from the rate table
    int32_t FrequencyDivider = 1;
    uint32_t LogicalChannelCount = 1;
    uint16_t CalibrationSlotCount = 0;
    uint32_t FrameLength = 1; // words per module frame
    int32_t CorrectionMode = 0;
    double AcquisitionTime = 1.0;          // seconds wanted
    uint32_t MinSamplesPerChannel[4] = {}; // 5 Hz, 100 Hz, 200 Hz, 500 Hz and above
    bool Fft = false;
};

struct TBlockPlan {
    double FrameRate = 0.0;       // module frames per second
    double AcquisitionTime = 0.0; // seconds, after the raises for slow rates
    uint32_t RecvChunk = 0;
    uint32_t SamplesPerChannel = 0;
    uint32_t DataCount = 0;
    uint32_t RecvWordCount = 0;
};

// Largest number of converted values in one block.
inline constexpr uint32_t MaxBlockValues = 16777216;

// Conversions per second for a frequency divider.
double ConversionRate(int32_t divider);

// Frame rate, receive chunk, acquisition time and block size. An acquisition
// time that is not a finite number counts as 1.0 s; no block holds more than
// the largest multiple of the logical channel count not above MaxBlockValues.
TBlockPlan PlanBlock(const TBlockSettings& settings);
