// What the program knows of the crates and the chosen module: the one module
// record, the crate and module states, the tables the detection fills and the
// operator's selection.
//
// Thread rule: the user-interface thread owns it. The detection worker touches
// it only while the user-interface thread is blocked in one of the worker's
// synchronous steps; the measurement worker touches only ModuleControl, and
// only between the set-up and the finish of its run. CrateState and
// ModuleState are atomic because the worker's ending reads them.
#pragma once

#include <QList>

#include <atomic>
#include <cstdint>

#include "device/DeviceFailure.h"
#include "km808api.h"

struct TDeviceState {
    std::atomic<int32_t> CrateState{0};
    std::atomic<uint8_t> ModuleState{0};
    // A measurement ended on a failure and the module no longer answered: the
    // module lamp is red and the next start reopens the module first.
    bool ModuleLinkLost = false;

    // ---- Detection tables --------------------------------------------------
    uint16_t ListedCrateCount = 0;
    char ListedCrates[16][16] = {};
    uint16_t ListedSlotTypes[16][16] = {};
    uint16_t CrateCount = 0;
    char CrateSerials[16][16] = {};
    uint16_t SelectedCrateIndex = 0xFFFF;
    uint16_t ModuleCount[16] = {};
    uint16_t ModuleSlots[16][16] = {};
    char ModuleSerials[16][16][16] = {};
    uint16_t SelectedModuleIndex[16] = {};
    // What the last detection left out, and why; or, when it found nothing,
    // why not (the crate list's failure has an empty crate).
    QList<TDetectionNote> DetectionNotes;
    // Why the last opening of the chosen module failed.
    TDeviceFailure OpenFailure = TDeviceFailure::None;

    // The one module-control record; every module library call gets it.
    KM808_CONTROL ModuleControl{};
};
