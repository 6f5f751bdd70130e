// The detection tables of TDeviceState: which listed crates hold KM808
// modules in which slots, the preselection of a wanted crate and slot, and
// opening the chosen module. No widgets: the window fills its selectors from
// the tables afterwards.
#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>

#include "device/DeviceState.h"

using ReportFunction = std::function<void(const QString&)>;

// The text of a NUL-terminated field of at most size bytes (serials, names).
QString FixedText(const char* text, size_t size);

// The selectors' item texts, also the command-line client's list.
QString CrateItemText(int index, const char serial[16]);
QString ModuleItemText(uint16_t slot);

// Lists the crates anew and, in each, the KM808 modules that answer; report()
// gets the failure's text, DetectionNotes what was left out and why (or why
// nothing was found). The module record is closed afterwards. A true
// stopRequested() ends the listing before its module openings or after them,
// failed and without a report.
bool ListModules(TDeviceState& device, const ReportFunction& report,
                 const std::function<bool()>& stopRequested = {});

// Chooses the crate whose serial is wantedCrateSerial (else the first) and in
// it the module in slot wantedSlot (else the first).
void PreselectWanted(TDeviceState& device, const QString& wantedCrateSerial, int16_t wantedSlot);

// Closes the module record if it is open, then opens the chosen module of the
// chosen crate and reads its configuration; OpenFailure tells why it failed.
bool OpenChosenModule(TDeviceState& device);

// Closes the module record if it holds an open module.
void CloseModuleIfOpen(TDeviceState& device);

// The opened module's own correction coefficients into loaded (nine) and
// into the table the conversion uses.
void UseModuleCoefficients(KM808_CONTROL& module, float loaded[9]);
