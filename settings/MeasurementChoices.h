// The operator's measurement choices as a settings file holds them, read the
// one way the window and the command-line client share: item indexes of the
// window's selectors by the window's rules for keys that are missing or name
// no item (-1). Qt Core only.
#pragma once

#include <QString>

#include <cstdint>

#include "settings/MeasurementSettings.h"

class TSettingsFile;

// The item counts of the selectors the indexes point into.
struct TSelectorSizes {
    int Ranges = 3; // each range selector, common and per channel
    int Modes = 2;
    int Rates = 7;
    int CorrectionModes = 2;
};

struct TMeasurementChoices {
    bool AllChannels = false;
    int CommonRangeU = -1;
    int CommonRangeR = -1;
    int CommonMode = -1;
    // Per channel: checked (all channels, or its own key); its ranges (the
    // common range when that names an item, else the channel's own key).
    bool Checked[16] = {};
    int RangeU[16] = {};
    int RangeR[16] = {};
    int RateIndex = -1;
    int CorrectionMode = -1;
    QString WantedCrateSerial;
    int16_t WantedSlot = -1;
};

// rangesU / rangesR name the precision keys (volts, ohms). settings takes
// the computation settings and display formats (ReadMeasurementSettings;
// CoefSource and the coefficients are left as they are).
TMeasurementChoices ReadMeasurementChoices(const TSettingsFile& file, const double rangesU[3],
                                           const double rangesR[3], const TSelectorSizes& sizes,
                                           TMeasurementSettings& settings);
