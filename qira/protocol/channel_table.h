// What a KM808 channel table means: which entries are valid, how long a module
// frame is, and which converter scale each entry uses. Shared by the module
// library and the emulator so that both agree on every frame.
#pragma once

#include "wire_format.h"

#include <cstdint>
#include <vector>

namespace qira {

constexpr uint8_t kModeVoltage = 0x00;
constexpr uint8_t kModeResistanceOn = 0x20;  // excitation current on
constexpr uint8_t kModeResistanceOff = 0x28; // excitation current off
constexpr int kChannelCount = 16;
constexpr int kResistanceChannels = 8;
constexpr int kMaxTable = 128;

// Six converter scales: the three voltage ranges, then the three resistance
// ranges. Each has its own full scale and its own calibration codes.
constexpr int kScaleCount = 6;
constexpr double kFullScaleVolts[kScaleCount] = {10.0, 2.0, 0.4, 0.5, 1.5, 1.25};
constexpr int32_t kCodeMax = (1 << 23) - 1;
constexpr int32_t kCodeMin = -(1 << 23);
constexpr double kCodesPerFullScale = 8388608.0;

constexpr int32_t kDividers[] = {1600, 80, 40, 16, 8, 4, 2};
double conversionRate(int32_t divider);

// Default correction coefficients: reference voltages of the voltage ranges,
// excitation currents of the resistance ranges, reference voltages of the
// resistance ranges.
constexpr float kDefaultCoefs[9] = {8.0f, 1.6f, 0.32f, 1.0e-3f, 1.0e-3f, 2.5e-4f, 0.4f, 1.2f, 1.0f};

// The reference voltage that calibrates a scale, from the module's coefficients.
double referenceVolts(const float coefs[9], int scale);
double excitationAmps(const float coefs[9], int range);
// Coefficients whose references lie inside their full scale and whose
// currents are positive.
bool coefsValid(const float coefs[9]);

inline int scaleOf(const TableEntry& e) {
    return e.mode == kModeVoltage ? e.range : 3 + e.range;
}

// Checks the table, the calibration slot count and the divider; on success
// returns the module frame length in words, otherwise 0.
int32_t validateSettings(const AdcSettings& settings);

// The distinct scales of a table in ascending order; the calibration slot
// cycles through them.
std::vector<int> scalesUsed(const std::vector<TableEntry>& table);

} // namespace qira
