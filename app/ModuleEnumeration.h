// Finding the crates that hold KM808 modules, filling the crate and module
// selectors and opening the chosen module.
#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>

#include "discovery/DetectionTables.h"

class TMainForm;

// Runs a step that touches the window on the user-interface thread.
using WindowStep = std::function<void(const std::function<void()>&)>;

// Lists crates and modules anew, preselects the wanted crate and slot and
// opens the chosen module (ModuleState 1 on success). The selectors are filled
// by onWindow; the rest runs on the caller's thread, so that a worker keeps the
// window live and stopRequested can end the listing between modules.
bool DetectAll(
    TMainForm& form, const QString& wantedCrateSerial, int16_t wantedSlot, const ReportFunction& report,
    const WindowStep& onWindow = [](const std::function<void()>& step) { step(); },
    const std::function<bool()>& stopRequested = {});

// Refills the module selector for the chosen crate and opens its chosen
// module (CrateState 1, ModuleState 2 on success). Worker thread; fillSelector
// runs FillModuleSelector on the user-interface thread.
bool ChangeCrate(TMainForm& form, const std::function<void()>& fillSelector);

// Fills the module selector for the crate SelectedCrateIndex. User-interface
// thread.
void FillModuleSelector(TMainForm& form);
