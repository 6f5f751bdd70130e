// The measurement settings read from the settings file. The window holds the
// current ones; a measurement worker takes a copy of what it needs at its
// start, so a load during a run does not change the run. Qt Core only.
#pragma once

#include <QString>

#include <cstdint>

// clang-tidy 14 names the implicit copy's hidden array index ("__i0") as if
// it were declared here.
struct TMeasurementSettings { // NOLINT(bugprone-reserved-identifier)
    QString ComputationMethod = QStringLiteral("sum");
    QString AmplitudeType = QStringLiteral("amp");
    double AcquisitionTime = 1.0;
    int32_t MinSamplesPerChannel[4] = {6, 32, 64, 128};
    uint16_t ValuePrecisions[6] = {4, 4, 4, 4, 4, 4};
    QString ValueFormats[6] = {QStringLiteral("0.0000"), QStringLiteral("0.0000"), QStringLiteral("0.0000"),
                               QStringLiteral("0.0000"), QStringLiteral("0.0000"), QStringLiteral("0.0000")};
    int32_t CoefSource = 0;
    float LoadedCoefs[9] = {};
};
