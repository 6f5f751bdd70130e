// A detection's device steps, without the window: list the crates and their
// modules, preselect the wanted one and open it. The caller shows the tables
// (fills its selectors) at the step it is given.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>

#include "discovery/DetectionTables.h"

// Lists crates and modules anew (a failure's text carries, line by line, the
// reasons modules were left out), preselects the wanted crate and slot, calls
// showTables, then opens the chosen module (ModuleState 1 on success). A true
// stopRequested() ends the run before the opening, failed and without a report.
bool DetectModules(TDeviceState& device, const QString& wantedCrateSerial, int16_t wantedSlot,
                   const ReportFunction& report, const std::function<void()>& showTables,
                   const std::function<bool()>& stopRequested = {});

// Closes the open module, calls fillSelector (the chosen crate's modules are
// shown) and opens the chosen module (CrateState 1, ModuleState 2 on success).
bool ChangeCrateModule(TDeviceState& device, const std::function<void()>& fillSelector);
