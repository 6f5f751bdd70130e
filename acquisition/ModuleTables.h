// The module's fixed choices: input ranges and converter rates, in the order
// the selectors and the settings file index them. No Qt.
#pragma once

namespace ModuleTables {

// Volts, then ohms; index 0 is the widest.
inline constexpr double RangesU[3] = {10.0, 2.0, 0.4};
inline constexpr double RangesR[3] = {400.0, 1200.0, 4000.0};
// Resistance is measured on the first eight channels only.
inline constexpr int ResistanceChannels = 8;

inline constexpr int RateCount = 7;
inline constexpr double AdcDividers[RateCount] = {1600, 80, 40, 16, 8, 4, 2};

// Conversions per second of rate index i, as the rate selector lists it.
constexpr double AdcRate(int i) {
    return 15000000.0 / (AdcDividers[i] * 1875.0);
}

} // namespace ModuleTables
