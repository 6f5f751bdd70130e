#include "discovery/DetectionTables.h"

#include "device/CrateQueries.h"
#include "device/DeviceRecords.h"
#include "device/ModuleOpening.h"
#include "discovery/Concurrently.h"
#include "settings/Cp1251Codec.h"

#include <cstring>
#include <vector>

namespace {

// A serial of exactly 16 bytes has no terminator in its table entry.
struct TerminatedSerial {
    explicit TerminatedSerial(const char serial[16]) { std::memcpy(Text, serial, 16); }
    char Text[17] = {};
};

// A module whose server gave no answer at all: it stopped answering, or
// never did.
bool Unanswered(int32_t result) {
    return result == KM808_ERR_TIMEOUT || result == KM808_ERR_CONNECTION;
}

struct TSlotProbe {
    uint16_t Crate = 0; // index into the listed crates
    uint16_t Slot = 0;
    int32_t Result = 0;
    char Serial[16] = {};
};

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
    int32_t result = OpenModule(device.ModuleControl, crate.Text, slot);
    if (result == 0)
        result = KM808_GetConfig(&device.ModuleControl);
    device.OpenFailure = DeviceFailureOf(result);
    return result == 0;
}

bool ListModules(TDeviceState& device, const ReportFunction& report,
                 const std::function<bool()>& stopRequested) {
    const auto stopping = [&] { return stopRequested && stopRequested(); };
    device.DetectionNotes.clear();
    int32_t listResult = 0;
    if (!ListCrates(device.ListedCrates, &listResult)) {
        device.DetectionNotes << TDetectionNote{{}, 0, DeviceFailureOf(listResult)};
        report(QStringLiteral("Не могу найти ни одного QIRA крейта!"));
        return false;
    }
    if (stopping())
        return false;
    device.ListedCrateCount = 0;
    while (device.ListedCrateCount < 16 && device.ListedCrates[device.ListedCrateCount][0] != 0)
        ++device.ListedCrateCount;
    // Each crate is asked for its slot types and each of its KM808 slots
    // tested at once, each on its own record, so that crates and modules that
    // do not answer cost one time-out together rather than one each.
    CloseModuleIfOpen(device);
    int32_t typeResults[16] = {};
    std::vector<TSlotProbe> crateProbes[16];
    RunConcurrently(device.ListedCrateCount, [&](size_t i) {
        typeResults[i] = ReadCrateSlotTypes(device.ListedCrates[i], device.ListedSlotTypes[i]);
        if (typeResults[i] != 0 || stopping())
            return;
        std::vector<TSlotProbe>& probes = crateProbes[i];
        for (uint16_t k = 0; k < 16; ++k)
            if (device.ListedSlotTypes[i][k] == Km808TypeCode)
                probes.push_back(TSlotProbe{uint16_t(i), uint16_t(k + 1)});
        const TerminatedSerial crate(device.ListedCrates[i]);
        RunConcurrently(probes.size(), [&](size_t p) {
            probes[p].Result = ProbeModule(crate.Text, probes[p].Slot, probes[p].Serial);
        });
    });
    // A close during the openings: the tables stay as they were.
    if (stopping())
        return false;
    // A crate that does not answer is left out like a module that does not;
    // one that answers with a refusal fails the detection, without a report.
    bool typesRead = true;
    for (uint16_t i = 0; i < device.ListedCrateCount; ++i) {
        if (typeResults[i] == 0)
            continue;
        const bool skipped = Unanswered(typeResults[i]);
        device.DetectionNotes << TDetectionNote{FixedText(device.ListedCrates[i], 16), 0,
                                                skipped ? DeviceFailureOf(typeResults[i])
                                                        : TDeviceFailure::SlotTypesUnreadable};
        typesRead = typesRead && skipped;
    }
    if (!typesRead)
        return false;

    device.CrateCount = 0;
    std::memset(device.CrateSerials, 0, sizeof device.CrateSerials);
    std::memset(device.ModuleSlots, 0, sizeof device.ModuleSlots);
    std::memset(device.ModuleCount, 0, sizeof device.ModuleCount);
    uint16_t j = 0;
    bool anyProbed = false;
    bool anyAnswered = false;
    for (uint16_t i = 0; i < device.ListedCrateCount; ++i) {
        for (const TSlotProbe& probe : crateProbes[i]) {
            anyProbed = true;
            anyAnswered = anyAnswered || !Unanswered(probe.Result);
            if (probe.Result != 0) {
                device.DetectionNotes << TDetectionNote{FixedText(device.ListedCrates[i], 16), probe.Slot,
                                                        DeviceFailureOf(probe.Result)};
                continue;
            }
            const uint16_t m = device.ModuleCount[j];
            std::memcpy(device.ModuleSerials[j][m], probe.Serial, 16);
            device.ModuleSlots[j][m] = probe.Slot;
            ++device.ModuleCount[j];
        }
        if (device.ModuleCount[j] > 0) {
            std::memcpy(device.CrateSerials[j], device.ListedCrates[i], 16);
            ++j;
        }
    }
    device.CrateCount = j;
    if (device.CrateCount == 0 && anyProbed && !anyAnswered) {
        // Not one module opening got an answer: the server stopped answering.
        report(QStringLiteral("Не могу найти ни одного QIRA крейта!"));
        return false;
    }
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
