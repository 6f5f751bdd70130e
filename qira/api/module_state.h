// The library's own part of a module record, kept in its Private bytes. The
// record is packed, so the state is copied in and out rather than cast.
#pragma once

#include "channel_table.h"
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
    FlagLinkDead = 8,   // a call failed on the connection; it is shut
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

// Bit s set for each converter scale the record's table uses.
inline uint32_t scalesUsedMask(const KM808_CONTROL* m) {
    uint32_t mask = 0;
    const int32_t n = m->LogicalChannelCount;
    for (int32_t i = 0; i < n && i < KM808_MAX_TABLE; ++i) {
        const KM808_TABLE_ENTRY& e = m->LogicalChannelTable[i];
        if (e.RangeCode < 3)
            mask |= 1u << (e.ModeCode == KM808_MODE_VOLTAGE ? e.RangeCode : 3 + e.RangeCode);
    }
    return mask;
}

// A scale's zero and reference codes can calibrate it only when the span
// between them lies within a factor of two of what the reference should give:
// a real converter is off by a few per cent, while a flat, inverted or zeroed
// pair would turn every reading into a false, valid-looking value.
inline bool spanPlausible(double referenceVolts, int scale, int32_t zero, int32_t reference) {
    const double nominal = referenceVolts / kFullScaleVolts[scale] * kCodesPerFullScale;
    const double span = double(reference) - double(zero);
    return nominal > 0 && span >= nominal / 2 && span <= nominal * 2;
}

inline bool calibrationPlausible(const ModuleState& st, int scale, int32_t zero, int32_t reference) {
    const float* coefs = (st.flags & FlagHaveCoefs) ? st.coefs : kDefaultCoefs;
    return spanPlausible(referenceVolts(coefs, scale), scale, zero, reference);
}

} // namespace qira
