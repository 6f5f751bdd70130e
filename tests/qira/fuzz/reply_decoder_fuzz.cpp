// Feeds arbitrary bytes to the libraries' reply decoding: the header, then
// the payload decoder of the announced reply type.
#include "wire_format.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < qira::kHeaderSize + 4)
        return 0;
    qira::Header h;
    std::string reason;
    if (!qira::decodeHeader(data, h, reason))
        return 0;
    // The requested count of a Recv travels in the input too.
    uint32_t requested;
    std::memcpy(&requested, data + qira::kHeaderSize, 4);
    const uint8_t* payload = data + qira::kHeaderSize + 4;
    const size_t length = size - qira::kHeaderSize - 4;
    if (h.length != length || !(h.type & qira::kReplyBit))
        return 0;
    int32_t status = 0;
    char list[16][16];
    uint16_t types[16];
    qira::ModuleIdentity id;
    qira::CalibrationCodes codes;
    int32_t frameLength = 0;
    switch (qira::MessageType(h.type & ~qira::kReplyBit)) {
    case qira::MessageType::GetCrates:
        if (qira::decodeCrateList(payload, length, list))
            for (auto& serial : list)
                if (strnlen(serial, 16) == 16)
                    __builtin_trap();
        break;
    case qira::MessageType::GetCrateModules:
        qira::decodeSlotTypes(payload, length, types);
        break;
    case qira::MessageType::GetConfig:
        if (qira::decodeIdentity(payload, length, id) &&
            (strnlen(id.name, 8) == 8 || strnlen(id.serial, 16) == 16))
            __builtin_trap();
        break;
    case qira::MessageType::SetADC:
        qira::decodeFrameLength(payload, length, frameLength);
        break;
    case qira::MessageType::Calibrate:
        qira::decodeCalibration(payload, length, codes);
        break;
    case qira::MessageType::Recv: {
        if (length > 0xFFFFFFFFu)
            return 0;
        uint8_t fixed[qira::kRecvReplyFixed] = {};
        std::memcpy(fixed, payload, length < sizeof fixed ? length : sizeof fixed);
        uint32_t words = 0;
        if (qira::decodeRecvFixed(fixed, uint32_t(length), requested, status, words) && status == 0 &&
            (words > requested || qira::kRecvReplyFixed + 4ull * words != length))
            __builtin_trap();
        break;
    }
    default:
        qira::decodeStatus(payload, length, status);
        break;
    }
    return 0;
}
