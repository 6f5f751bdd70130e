// The measurement settings as the settings file keeps them, read the one way
// the window and the command-line client share. Qt Core only.
#pragma once

#include <vector>

#include "settings/MeasurementSettings.h"
#include "settings/SettingsTable.h"

class TSettingsFile;

// Computation method, amplitude type, acquisition time, minimum samples and
// the display precisions (capped at 10) with their formats; each missing key
// takes its table row's read default. CoefSource and the coefficients are
// left as they are.
void ReadMeasurementSettings(const TSettingsFile& file, const std::vector<TSettingRow>& table,
                             const double rangesU[3], const double rangesR[3],
                             TMeasurementSettings& settings);
