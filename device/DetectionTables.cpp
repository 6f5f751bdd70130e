#include "device/DetectionTables.h"

#include "device/CrateQueries.h"
#include "device/DeviceRecords.h"
#include "settings/Cp1251Codec.h"

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

void CloseModuleIfOpen(TDeviceState& device) {
    if (KM808_IsOpened(&device.ModuleControl) == 0)
        KM808_Close(&device.ModuleControl);
}

bool OpenChosenModule(TDeviceState& device) {
    const uint16_t c = device.SelectedCrateIndex;
    if (c >= device.CrateCount || c >= 16 || device.SelectedModuleIndex[c] >= device.ModuleCount[c])
        return false;
    const TerminatedSerial crate(device.CrateSerials[c]);
    const uint16_t slot = device.ModuleSlots[c][device.SelectedModuleIndex[c]];
    CloseModuleIfOpen(device);
    KM808_Init(&device.ModuleControl);
    return KM808_Open(&device.ModuleControl, ModuleServerAddress, ModuleServerPort, crate.Text, slot) == 0 &&
           KM808_GetConfig(&device.ModuleControl) == 0;
}

bool ListModules(TDeviceState& device, const ReportFunction& report,
                 const std::function<bool()>& stopRequested) {
    if (!ListCrates(device.ListedCrates)) {
        report(QStringLiteral("Не могу найти ни одного QIRA крейта!"));
        return false;
    }
    device.ListedCrateCount = 0;
    while (device.ListedCrateCount < 16 && device.ListedCrates[device.ListedCrateCount][0] != 0)
        ++device.ListedCrateCount;
    if (!ReadSlotTypes(device.ListedCrates, device.ListedCrateCount, device.ListedSlotTypes))
        return false;

    device.CrateCount = 0;
    std::memset(device.CrateSerials, 0, sizeof device.CrateSerials);
    std::memset(device.ModuleSlots, 0, sizeof device.ModuleSlots);
    std::memset(device.ModuleCount, 0, sizeof device.ModuleCount);
    uint16_t j = 0;
    for (uint16_t i = 0; i < device.ListedCrateCount; ++i) {
        const TerminatedSerial crate(device.ListedCrates[i]);
        for (uint16_t k = 0; k < 16; ++k) {
            if (device.ListedSlotTypes[i][k] != Km808TypeCode)
                continue;
            if (stopRequested && stopRequested()) {
                device.CrateCount = j;
                CloseModuleIfOpen(device);
                return false;
            }
            CloseModuleIfOpen(device);
            int32_t result =
                KM808_Open(&device.ModuleControl, ModuleServerAddress, ModuleServerPort, crate.Text, k + 1);
            if (result == 0)
                result = KM808_GetConfig(&device.ModuleControl);
            if (ServerStoppedAnswering(result)) {
                device.CrateCount = j;
                CloseModuleIfOpen(device);
                report(QStringLiteral("Не могу найти ни одного QIRA крейта!"));
                return false;
            }
            if (result != 0)
                continue;
            const uint16_t m = device.ModuleCount[j];
            std::memcpy(device.ModuleSerials[j][m], device.ModuleControl.SerialNumber, 16);
            device.ModuleSlots[j][m] = k + 1;
            ++device.ModuleCount[j];
        }
        if (device.ModuleCount[j] > 0) {
            std::memcpy(device.CrateSerials[j], device.ListedCrates[i], 16);
            ++j;
        }
    }
    device.CrateCount = j;
    CloseModuleIfOpen(device);
    if (device.CrateCount == 0) {
        report(QStringLiteral("Не могу найти ни одного QIRA крейта\nгде бы был установлен модуль ") +
               "KM808" + "!");
        return false;
    }

    return true;
}

void PreselectWanted(TDeviceState& device, const QString& wantedCrateSerial, int16_t wantedSlot) {
    device.SelectedCrateIndex = 0;
    for (uint16_t c = 0; c < device.CrateCount; ++c) {
        if (FixedText(device.CrateSerials[c], 16) == wantedCrateSerial) {
            device.SelectedCrateIndex = c;
            break;
        }
    }
    std::memset(device.SelectedModuleIndex, 0, sizeof device.SelectedModuleIndex);
    const uint16_t chosen = device.SelectedCrateIndex;
    if (FixedText(device.CrateSerials[chosen], 16) == wantedCrateSerial) {
        for (uint16_t m = 0; m < device.ModuleCount[chosen]; ++m) {
            if (device.ModuleSlots[chosen][m] == uint16_t(wantedSlot)) {
                device.SelectedModuleIndex[chosen] = m;
                break;
            }
        }
    }
}

void UseModuleCoefficients(KM808_CONTROL& module, float loaded[9]) {
    std::memcpy(loaded, module.ModuleCoefs, 9 * sizeof(float));
    std::memcpy(module.TableCoefs, loaded, 9 * sizeof(float));
}
