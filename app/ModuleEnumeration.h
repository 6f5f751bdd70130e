// Finding the crates that hold KM808 modules, filling the crate and module
// selectors and opening the chosen module.
#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>

#include "device/DetectionTables.h"

class TMainForm;

// Lists crates and modules anew, preselects the wanted crate and slot and
// opens the chosen module (ModuleState 1 on success). User-interface thread.
bool DetectAll(TMainForm& form, const QString& wantedCrateSerial, int16_t wantedSlot,
               const ReportFunction& report);

// Refills the module selector for the chosen crate and opens its chosen
// module (CrateState 1, ModuleState 2 on success). Worker thread; fillSelector
// runs FillModuleSelector on the user-interface thread.
bool ChangeCrate(TMainForm& form, const std::function<void()>& fillSelector);

// Fills the module selector for the crate SelectedCrateIndex. User-interface
// thread.
void FillModuleSelector(TMainForm& form);
