// A raw data word: the top byte tells where the word belongs, the low 24 bits
// are the two's-complement converter code. An entry of the channel table is
// tagged with its table position (0 to 127); the calibration conversion at
// the end of a frame is tagged 0x80 + 2 * scale + (1 for the reference,
// 0 for the zero).
#pragma once

#include <cstdint>

namespace qira {

constexpr uint32_t kCalibrationTag = 0x80;
constexpr uint32_t kLastCalibrationTag = kCalibrationTag + 2 * 6 - 1;

inline uint32_t makeWord(uint32_t tag, int32_t code) {
    return tag << 24 | (uint32_t(code) & 0xFFFFFFu);
}
inline uint32_t wordTag(uint32_t word) {
    return word >> 24;
}
inline int32_t wordCode(uint32_t word) {
    return int32_t(word << 8) >> 8;
}
inline uint32_t calibrationTag(int scale, bool reference) {
    return kCalibrationTag + 2 * scale + (reference ? 1 : 0);
}

} // namespace qira
