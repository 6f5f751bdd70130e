// What one run measures: the choices the window would load from its settings
// file (or a fresh file's), then the command line's changes to them.
#pragma once

#include <QString>

#include <cstdint>

#include "acquisition/MeasurementCycle.h"

class TSettingsFile;
struct TMeasureOptions;

struct TRunChoice {
    TMeasurementConfig Config;
    // The channels' check boxes; which of them measure follows the mode.
    bool Checked[16] = {};
    QString WantedCrateSerial;
    int16_t WantedSlot = -1;
};

// The choices the window loads from file, by the window's rules for keys
// that are missing or name no item.
TRunChoice ReadRunChoice(const TSettingsFile& file);
// The choices of a fresh settings file, as the window shows them at its
// first start.
TRunChoice FreshRunChoice();

// Applies the command line to choice and fills the configuration's modes,
// active channels and quantities. The error text when the result cannot be
// measured (it names the option to change); empty otherwise.
QString ApplyOptions(const TMeasureOptions& options, TRunChoice& choice);
