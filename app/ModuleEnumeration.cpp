#include "app/ModuleEnumeration.h"

#include "app/TMainForm.h"
#include "discovery/DetectionRun.h"

#include <QComboBox>

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

    return DetectModules(
        form.Device, wantedCrateSerial, wantedSlot, report,
        [&] {
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
        },
        stopRequested);
}

bool ChangeCrate(TMainForm& form, const std::function<void()>& fillSelector) {
    return ChangeCrateModule(form.DeviceState(), fillSelector);
}
