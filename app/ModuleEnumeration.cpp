#include "app/ModuleEnumeration.h"

#include "app/TMainForm.h"
#include "device/DetectionTables.h"
#include "device/DeviceFailure.h"
#include "device/DeviceRecords.h"

#include <QComboBox>

#include <cstring>

void FillModuleSelector(TMainForm& form) {
    QComboBox* box = form.ModulesComboBox;
    const uint16_t c = form.Device.SelectedCrateIndex;
    box->setCurrentIndex(-1);
    box->clear();
    if (c >= 16)
        return;
    for (uint16_t m = 0; m < form.Device.ModuleCount[c]; ++m)
        box->addItem(ModuleItemText(form.Device.ModuleSlots[c][m]));
    box->setMaxVisibleItems(form.Device.ModuleCount[c]);
    box->setCurrentIndex(form.Device.SelectedModuleIndex[c]);
}

bool DetectAll(TMainForm& form, const QString& wantedCrateSerial, int16_t wantedSlot,
               const ReportFunction& report, const WindowStep& onWindow,
               const std::function<bool()>& stopRequested) {
    onWindow([&] {
        form.ModulesComboBox->clear();
        form.ModulesComboBox->setCurrentIndex(-1);
        form.ModulesComboBox->setMaxVisibleItems(0);
    });

    // A module another client holds is not an absent one: the reason stands
    // beside the prescribed text.
    const ReportFunction reportWithReasons = [&](const QString& text) {
        QString reasons;
        for (const TDetectionNote& note : form.Device.DetectionNotes)
            if (const QString line = WindowNoteText(note); !line.isEmpty())
                reasons += "\n" + line;
        report(text + reasons);
    };
    if (!ListModules(form.Device, reportWithReasons, stopRequested))
        return false;
    PreselectWanted(form.Device, wantedCrateSerial, wantedSlot);

    onWindow([&] {
        QComboBox* crates = form.QiraCratesComboBox;
        crates->setCurrentIndex(-1);
        crates->clear();
        for (uint16_t c = 0; c < form.Device.CrateCount; ++c)
            crates->addItem(CrateItemText(c, form.Device.CrateSerials[c]));
        crates->setMaxVisibleItems(form.Device.CrateCount);
        crates->setCurrentIndex(form.Device.SelectedCrateIndex);
        form.Device.CrateState = 1;
        FillModuleSelector(form);
    });
    if (stopRequested && stopRequested())
        return false;
    if (!OpenChosenModule(form.Device))
        return false;
    form.Device.ModuleState = 1;
    return true;
}

bool ChangeCrate(TMainForm& form, const std::function<void()>& fillSelector) {
    TDeviceState& device = form.DeviceState();
    CloseModuleIfOpen(device);
    fillSelector();
    if (!OpenChosenModule(device))
        return false;
    device.CrateState = 1;
    device.ModuleState = 2;
    return true;
}
