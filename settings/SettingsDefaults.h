// The values the measurement keys take when the settings file lacks them:
// the settings table's read defaults and the measurement settings record's
// initial values both come from here. Qt Core only.
#pragma once

#include <QString>

#include <cstdint>

namespace SettingsDefaults {

inline const QString ComputationMethod = QStringLiteral("sum");
inline const QString AmplitudeType = QStringLiteral("amp");
inline constexpr double AcquisitionTime = 1.0;
// 5 Hz, 100 Hz, 200 Hz, 500 Hz and above.
inline constexpr int32_t MinSamples[4] = {6, 32, 64, 128};
// Decimals of every range.
inline constexpr uint16_t Precision = 4;
// The display pattern of a range's precision: "0." and one zero per decimal.
inline QString PrecisionFormat(uint16_t decimals) {
    return QStringLiteral("0.") + QString(decimals, u'0');
}

} // namespace SettingsDefaults
