#include "device/ModuleOpening.h"

#include "device/DeviceRecords.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace {

constexpr int BusyRetries = 8;
constexpr auto BusyPause = std::chrono::milliseconds(125);
constexpr int32_t BusyResult = KM808_ERR_SERVER_BASE - 3;

} // namespace

int32_t OpenModule(KM808_CONTROL& module, const char* crateSerial, uint16_t slot) {
    int32_t result = KM808_Open(&module, ModuleServerAddress, ModuleServerPort, crateSerial, slot);
    for (int i = 0; i < BusyRetries && result == BusyResult; ++i) {
        std::this_thread::sleep_for(BusyPause);
        result = KM808_Open(&module, ModuleServerAddress, ModuleServerPort, crateSerial, slot);
    }
    return result;
}

int32_t ProbeModule(const char* crateSerial, uint16_t slot, char serial[16]) {
    KM808_CONTROL module{};
    int32_t result = OpenModule(module, crateSerial, slot);
    if (result == 0)
        result = KM808_GetConfig(&module);
    if (result == 0)
        std::memcpy(serial, module.SerialNumber, 16);
    if (KM808_IsOpened(&module) == 0)
        KM808_Close(&module);
    return result;
}
