// The measurement settings read from the settings file. The window holds the
// current ones; a measurement worker takes a copy of what it needs at its
// start, so a load during a run does not change the run. Qt Core only.
#pragma once

#include <QString>

#include <cstdint>

#include "settings/SettingsDefaults.h"

// clang-tidy 14 names the implicit copy's hidden array index ("__i0") as if
// it were declared here.
struct TMeasurementSettings { // NOLINT(bugprone-reserved-identifier)
    QString ComputationMethod = SettingsDefaults::ComputationMethod;
    QString AmplitudeType = SettingsDefaults::AmplitudeType;
    double AcquisitionTime = SettingsDefaults::AcquisitionTime;
    int32_t MinSamplesPerChannel[4] = {SettingsDefaults::MinSamples[0], SettingsDefaults::MinSamples[1],
                                       SettingsDefaults::MinSamples[2], SettingsDefaults::MinSamples[3]};
    uint16_t ValuePrecisions[6] = {SettingsDefaults::Precision, SettingsDefaults::Precision,
                                   SettingsDefaults::Precision, SettingsDefaults::Precision,
                                   SettingsDefaults::Precision, SettingsDefaults::Precision};
    QString ValueFormats[6] = {SettingsDefaults::PrecisionFormat(SettingsDefaults::Precision),
                               SettingsDefaults::PrecisionFormat(SettingsDefaults::Precision),
                               SettingsDefaults::PrecisionFormat(SettingsDefaults::Precision),
                               SettingsDefaults::PrecisionFormat(SettingsDefaults::Precision),
                               SettingsDefaults::PrecisionFormat(SettingsDefaults::Precision),
                               SettingsDefaults::PrecisionFormat(SettingsDefaults::Precision)};
    int32_t CoefSource = 0;
    float LoadedCoefs[9] = {};
};
