// The library's own part of a module record, kept in its Private bytes. The
// record is packed, so the state is copied in and out rather than cast.
#pragma once

#include "km808api.h"

#include <cstdint>
#include <cstring>

namespace qira {

// Marks an open record; an all-zero record is therefore closed.
constexpr uint32_t kOpenMagic = 0x4B4D3038;

enum ModuleFlags : uint32_t {
    FlagConfigured = 1, // SetADC succeeded
    FlagCalibrated = 2, // Calibrate succeeded
    FlagHaveCoefs = 4,  // GetConfig succeeded
};

struct ModuleState {
    uint32_t magic;
    int32_t fd;
    uint32_t flags;
    uint32_t tableHash; // of the table SetADC applied
    int32_t frameLength;
    float coefs[9];
    int32_t calZero[6];
    int32_t calReference[6];
    // Follow the calibration words of continuous correction.
    int32_t trackZero[6];
    int32_t trackReference[6];
};
static_assert(sizeof(ModuleState) <= sizeof(KM808_CONTROL::Private), "state fits in Private");

inline ModuleState loadState(const KM808_CONTROL* m) {
    ModuleState s;
    std::memcpy(&s, m->Private, sizeof s);
    return s;
}

inline void storeState(KM808_CONTROL* m, const ModuleState& s) {
    std::memcpy(m->Private, &s, sizeof s);
}

// Identifies the channel table as the program left it in the record.
uint32_t tableHash(const KM808_CONTROL* m);

} // namespace qira
