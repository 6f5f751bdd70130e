#include "discovery/ModuleEnumeration.h"

#include "app/TMainForm.h"
#include "device/DeviceRecords.h"
#include "discovery/CrateQueries.h"
#include "settings/Cp1251Codec.h"

#include <QComboBox>

#include <cstring>

namespace {

// A serial of exactly 16 bytes has no terminator in its table entry.
struct TerminatedSerial {
    explicit TerminatedSerial(const char serial[16]) { std::memcpy(Text, serial, 16); }
    char Text[17] = {};
};

// A call that timed out or lost its connection means the crate server no
// longer answers, so every further slot would cost one more time-out.
bool ServerStoppedAnswering(int32_t result) {
    return result == KM808_ERR_TIMEOUT || result == KM808_ERR_CONNECTION;
}

} // namespace

QString FixedText(const char* text, size_t size) {
    return Cp1251::Decode(QByteArray(text, qsizetype(strnlen(text, size))));
}

QString CrateItemText(int index, const char serial[16]) {
    return QString::number(index + 1) + ": " + FixedText(serial, 16);
}

QString ModuleItemText(uint16_t slot) {
    return QStringLiteral("Слот ") + QString::number(slot) + ": " + "KM808";
}

void CloseModuleIfOpen(TMainForm& form) {
    if (KM808_IsOpened(&form.ModuleControl) == 0)
        KM808_Close(&form.ModuleControl);
}

bool OpenChosenModule(TMainForm& form) {
    const uint16_t c = form.SelectedCrateIndex;
    if (c >= form.CrateCount || c >= 16 || form.SelectedModuleIndex[c] >= form.ModuleCount[c])
        return false;
    const TerminatedSerial crate(form.CrateSerials[c]);
    const uint16_t slot = form.ModuleSlots[c][form.SelectedModuleIndex[c]];
    CloseModuleIfOpen(form);
    KM808_Init(&form.ModuleControl);
    return KM808_Open(&form.ModuleControl, ModuleServerAddress, ModuleServerPort, crate.Text, slot) == 0 &&
           KM808_GetConfig(&form.ModuleControl) == 0;
}

void FillModuleSelector(TMainForm& form) {
    QComboBox* box = form.ModulesComboBox;
    const uint16_t c = form.SelectedCrateIndex;
    box->setCurrentIndex(-1);
    box->clear();
    if (c >= 16)
        return;
    for (uint16_t m = 0; m < form.ModuleCount[c]; ++m)
        box->addItem(ModuleItemText(form.ModuleSlots[c][m]));
    box->setMaxVisibleItems(form.ModuleCount[c]);
    box->setCurrentIndex(form.SelectedModuleIndex[c]);
}

bool DetectAll(TMainForm& form, const QString& wantedCrateSerial, int16_t wantedSlot,
               const ReportFunction& report) {
    form.ModulesComboBox->clear();
    form.ModulesComboBox->setCurrentIndex(-1);
    form.ModulesComboBox->setMaxVisibleItems(0);

    if (!ListCrates(form.ListedCrates)) {
        report(QStringLiteral("Не могу найти ни одного QIRA крейта!"));
        return false;
    }
    form.ListedCrateCount = 0;
    while (form.ListedCrateCount < 16 && form.ListedCrates[form.ListedCrateCount][0] != 0)
        ++form.ListedCrateCount;
    if (!ReadSlotTypes(form.ListedCrates, form.ListedCrateCount, form.ListedSlotTypes))
        return false;

    form.CrateCount = 0;
    std::memset(form.CrateSerials, 0, sizeof form.CrateSerials);
    std::memset(form.ModuleSlots, 0, sizeof form.ModuleSlots);
    std::memset(form.ModuleCount, 0, sizeof form.ModuleCount);
    uint16_t j = 0;
    for (uint16_t i = 0; i < form.ListedCrateCount; ++i) {
        const TerminatedSerial crate(form.ListedCrates[i]);
        for (uint16_t k = 0; k < 16; ++k) {
            if (form.ListedSlotTypes[i][k] != Km808TypeCode)
                continue;
            CloseModuleIfOpen(form);
            int32_t result =
                KM808_Open(&form.ModuleControl, ModuleServerAddress, ModuleServerPort, crate.Text, k + 1);
            if (result == 0)
                result = KM808_GetConfig(&form.ModuleControl);
            if (ServerStoppedAnswering(result)) {
                form.CrateCount = j;
                CloseModuleIfOpen(form);
                report(QStringLiteral("Не могу найти ни одного QIRA крейта!"));
                return false;
            }
            if (result != 0)
                continue;
            const uint16_t m = form.ModuleCount[j];
            std::memcpy(form.ModuleSerials[j][m], form.ModuleControl.SerialNumber, 16);
            form.ModuleSlots[j][m] = k + 1;
            ++form.ModuleCount[j];
        }
        if (form.ModuleCount[j] > 0) {
            std::memcpy(form.CrateSerials[j], form.ListedCrates[i], 16);
            ++j;
        }
    }
    form.CrateCount = j;
    CloseModuleIfOpen(form);
    if (form.CrateCount == 0) {
        report(QStringLiteral("Не могу найти ни одного QIRA крейта\nгде бы был установлен модуль ") +
               "KM808" + "!");
        return false;
    }

    form.SelectedCrateIndex = 0;
    for (uint16_t c = 0; c < form.CrateCount; ++c) {
        if (FixedText(form.CrateSerials[c], 16) == wantedCrateSerial) {
            form.SelectedCrateIndex = c;
            break;
        }
    }
    std::memset(form.SelectedModuleIndex, 0, sizeof form.SelectedModuleIndex);
    const uint16_t chosen = form.SelectedCrateIndex;
    if (FixedText(form.CrateSerials[chosen], 16) == wantedCrateSerial) {
        for (uint16_t m = 0; m < form.ModuleCount[chosen]; ++m) {
            if (form.ModuleSlots[chosen][m] == uint16_t(wantedSlot)) {
                form.SelectedModuleIndex[chosen] = m;
                break;
            }
        }
    }

    QComboBox* crates = form.QiraCratesComboBox;
    crates->setCurrentIndex(-1);
    crates->clear();
    for (uint16_t c = 0; c < form.CrateCount; ++c)
        crates->addItem(CrateItemText(c, form.CrateSerials[c]));
    crates->setMaxVisibleItems(form.CrateCount);
    crates->setCurrentIndex(form.SelectedCrateIndex);

    form.CrateState = 1;
    FillModuleSelector(form);
    if (!OpenChosenModule(form))
        return false;
    form.ModuleState = 1;
    return true;
}

bool ChangeCrate(TMainForm& form, const std::function<void()>& fillSelector) {
    CloseModuleIfOpen(form);
    fillSelector();
    if (!OpenChosenModule(form))
        return false;
    form.CrateState = 1;
    form.ModuleState = 2;
    return true;
}
