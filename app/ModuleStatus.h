// Opening the chosen module and showing the device state: the caption with
// the program version, the crate and module lamps with their hints, the
// module's serial number and firmware version.
#pragma once

#include <QString>

#include <cstdint>

class TMainForm;
class TInitAndConfigThread;

// Worker thread. On success ModuleState is 2 and the worker's ModuleNameText
// names the module.
bool OpenSelectedModule(TMainForm& form, TInitAndConfigThread& worker);

// User-interface thread. known: after an opening step; otherwise the unknown
// state shown while a run prepares.
void ShowDeviceStatus(TMainForm& form, TInitAndConfigThread& worker, bool known);

// User-interface thread: the module lamp and its hint for the open module
// after a measurement found its link alive or lost.
void ShowModuleLink(TMainForm& form, bool alive);

// Opens the chosen module afresh (its link was lost) and shows its lamp,
// serial and firmware; refuses, closed, a module whose serial is not the one
// the detection found in that slot (ModuleState 0 then). User-interface
// thread.
bool ReopenChosenModule(TMainForm& form);

// "KM808_viza - 1.2.3" from the version record of the executable; empty when
// it has none.
QString VersionCaption(const QString& executablePath);

// "1.5" for 0x0105.
QString FirmwareVersionText(uint16_t version);
