#include "module_helpers.h"

#include "channel_table.h"

#include <algorithm>

int32_t Module::setAdc(const std::vector<Entry>& table, uint16_t calibrationSlots, int32_t divider) {
    m.LogicalChannelCount = int32_t(table.size());
    for (size_t i = 0; i < table.size() && i < KM808_MAX_TABLE; ++i)
        m.LogicalChannelTable[i] = {table[i].mode, table[i].channel, table[i].range};
    m.CalibrationSlotCount = calibrationSlots;
    m.OptionByte1 = 0;
    m.OptionByte2 = 1;
    m.FrequencyDivider = divider;
    return KM808_SetADC(&m);
}

std::vector<uint32_t> Module::acquire(uint32_t frames, uint32_t timeoutMs) {
    const uint32_t total = uint32_t(m.FrameLength) * frames;
    std::vector<uint32_t> words(total);
    if (KM808_Start(&m) != 0)
        return {};
    const uint32_t chunk = std::max<uint32_t>(1, std::min<uint32_t>(total, 4096));
    for (uint32_t got = 0; got < total;) {
        const uint32_t want = std::min(chunk, total - got);
        if (KM808_Recv(&m, words.data() + got, nullptr, want, timeoutMs) != int32_t(want))
            return {};
        got += want;
    }
    if (KM808_Stop(&m) != 0)
        return {};
    return words;
}

std::vector<double> Module::convert(const std::vector<uint32_t>& words, int32_t calibration, int32_t flags) {
    std::vector<double> values(words.size() + 1);
    uint32_t count = uint32_t(words.size());
    if (KM808_ProcessData(&m, words.data(), values.data(), &count, calibration, flags) != 0)
        return {};
    values.resize(count);
    return values;
}

std::vector<Entry> voltageTable(std::vector<uint8_t> channels, uint8_t range) {
    std::vector<Entry> t;
    for (uint8_t c : channels)
        t.push_back({KM808_MODE_VOLTAGE, c, range});
    return t;
}

std::vector<Entry> resistanceTable(std::vector<uint8_t> channels, uint8_t range) {
    std::vector<Entry> t;
    for (uint8_t c : channels) {
        t.push_back({KM808_MODE_RESISTANCE_A, c, range});
        t.push_back({KM808_MODE_RESISTANCE_B, c, range});
    }
    return t;
}

double codeVolts(int scale) {
    return qira::kFullScaleVolts[scale] / qira::kCodesPerFullScale;
}
