// Short-hands for driving a KM808 through km808api.h in the tests.
#pragma once

#include "km808api.h"

#include <cstdint>
#include <string>
#include <vector>

struct Entry {
    uint8_t mode;
    uint8_t channel;
    uint8_t range;
};

// An opened module record, closed when it goes.
class Module {
public:
    Module() = default;
    ~Module() {
        if (KM808_IsOpened(&m) == 0)
            KM808_Close(&m);
    }
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    int32_t open(const std::string& crate, uint16_t slot) {
        return KM808_Open(&m, KM808_LOOPBACK_ADDRESS, KM808_DEFAULT_PORT, crate.c_str(), slot);
    }
    // Writes the table the way the program does and applies it.
    int32_t setAdc(const std::vector<Entry>& table, uint16_t calibrationSlots, int32_t divider = 2);
    // Start, Recv in chunks until frames are complete, Stop. Empty on failure.
    std::vector<uint32_t> acquire(uint32_t frames, uint32_t timeoutMs = 5000);
    // ProcessData; empty on failure.
    std::vector<double> convert(const std::vector<uint32_t>& words, int32_t calibration, int32_t flags = 3);

    KM808_CONTROL m{};
};

std::vector<Entry> voltageTable(std::vector<uint8_t> channels, uint8_t range);
std::vector<Entry> resistanceTable(std::vector<uint8_t> channels, uint8_t range);
// The size of one converter code on a scale (0-2 voltage, 3-5 resistance).
double codeVolts(int scale);
