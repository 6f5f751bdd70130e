#include "discovery/DetectionRun.h"

#include "device/DeviceFailure.h"

bool DetectModules(TDeviceState& device, const QString& wantedCrateSerial, int16_t wantedSlot,
                   const ReportFunction& report, const std::function<void()>& showTables,
                   const std::function<bool()>& stopRequested) {
    // A module another client holds is not an absent one: the reason stands
    // beside the prescribed text.
    const ReportFunction reportWithReasons = [&](const QString& text) {
        QString reasons;
        for (const TDetectionNote& note : device.DetectionNotes)
            if (const QString line = WindowNoteText(note); !line.isEmpty())
                reasons += "\n" + line;
        report(text + reasons);
    };
    if (!ListModules(device, reportWithReasons, stopRequested))
        return false;
    PreselectWanted(device, wantedCrateSerial, wantedSlot);
    showTables();
    if (stopRequested && stopRequested())
        return false;
    if (!OpenChosenModule(device))
        return false;
    device.ModuleState = 1;
    return true;
}

bool ChangeCrateModule(TDeviceState& device, const std::function<void()>& fillSelector) {
    CloseModuleIfOpen(device);
    fillSelector();
    if (!OpenChosenModule(device))
        return false;
    device.CrateState = 1;
    device.ModuleState = 2;
    return true;
}
