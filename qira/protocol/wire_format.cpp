#include "wire_format.h"

#include <cstring>

namespace qira {
namespace {

uint16_t get16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
uint32_t get32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

std::vector<uint8_t> message(MessageType type, size_t payload) {
    std::vector<uint8_t> m(kHeaderSize + payload, 0);
    encodeHeader(m.data(), uint16_t(type), uint32_t(payload));
    return m;
}

// Serials travel as 16 bytes; the text ends at the first NUL.
void putSerial(uint8_t* p, const char* serial) {
    if (serial)
        strncpy(reinterpret_cast<char*>(p), serial, kSerialSize - 1);
}

std::string getSerial(const uint8_t* p) {
    size_t n = 0;
    while (n < kSerialSize && p[n])
        ++n;
    return std::string(reinterpret_cast<const char*>(p), n);
}

bool fail(std::string& reason, const char* text) {
    reason = text;
    return false;
}

} // namespace

const char* messageName(MessageType type) {
    switch (type) {
    case MessageType::Open:
        return "Open";
    case MessageType::Close:
        return "Close";
    case MessageType::GetCrates:
        return "GetCrates";
    case MessageType::GetCrateModules:
        return "GetCrateModules";
    case MessageType::GetConfig:
        return "GetConfig";
    case MessageType::SetADC:
        return "SetADC";
    case MessageType::Calibrate:
        return "Calibrate";
    case MessageType::Start:
        return "Start";
    case MessageType::Recv:
        return "Recv";
    case MessageType::Stop:
        return "Stop";
    }
    return "?";
}

bool isRequestType(uint16_t type) {
    return type >= 1 && type <= 10;
}

void encodeHeader(uint8_t* out, uint16_t type, uint32_t length) {
    put32(out, kWireMagic);
    put16(out + 4, kWireVersion);
    put16(out + 6, type);
    put32(out + 8, length);
}

bool decodeHeader(const uint8_t* in, Header& header, std::string& reason) {
    if (get32(in) != kWireMagic)
        return fail(reason, "bad magic");
    if (get16(in + 4) != kWireVersion)
        return fail(reason, "unsupported protocol version");
    header.type = get16(in + 6);
    header.length = get32(in + 8);
    return true;
}

std::vector<uint8_t> encodeOpen(const char* serial, uint16_t slot) {
    auto m = message(MessageType::Open, kSerialSize + 2);
    putSerial(m.data() + kHeaderSize, serial);
    put16(m.data() + kHeaderSize + kSerialSize, slot);
    return m;
}

std::vector<uint8_t> encodeEmpty(MessageType type) {
    return message(type, 0);
}

std::vector<uint8_t> encodeGetCrateModules(const char* serial) {
    auto m = message(MessageType::GetCrateModules, kSerialSize);
    putSerial(m.data() + kHeaderSize, serial);
    return m;
}

std::vector<uint8_t> encodeSetADC(const AdcSettings& s) {
    const size_t n = s.table.size();
    auto m = message(MessageType::SetADC, 4 + 3 * n + 8);
    uint8_t* p = m.data() + kHeaderSize;
    put32(p, uint32_t(n));
    p += 4;
    for (const TableEntry& e : s.table) {
        p[0] = e.mode;
        p[1] = e.channel;
        p[2] = e.range;
        p += 3;
    }
    put16(p, s.calibrationSlots);
    p[2] = s.option1;
    p[3] = s.option2;
    put32(p + 4, uint32_t(s.divider));
    return m;
}

std::vector<uint8_t> encodeRecv(uint32_t count, uint32_t timeoutMs) {
    auto m = message(MessageType::Recv, 8);
    put32(m.data() + kHeaderSize, count);
    put32(m.data() + kHeaderSize + 4, timeoutMs);
    return m;
}

bool decodeRequest(uint16_t type, const uint8_t* p, size_t length, Request& r, std::string& reason) {
    if (!isRequestType(type))
        return fail(reason, "unknown request type");
    r = Request{};
    r.type = MessageType(type);
    switch (r.type) {
    case MessageType::Open:
        if (length != kSerialSize + 2)
            return fail(reason, "Open: bad length");
        r.serial = getSerial(p);
        r.slot = get16(p + kSerialSize);
        return true;
    case MessageType::GetCrateModules:
        if (length != kSerialSize)
            return fail(reason, "GetCrateModules: bad length");
        r.serial = getSerial(p);
        return true;
    case MessageType::SetADC: {
        if (length < 4 + 8)
            return fail(reason, "SetADC: too short");
        const uint32_t n = get32(p);
        if (n > 128)
            return fail(reason, "SetADC: table too long");
        if (length != 4 + 3 * size_t(n) + 8)
            return fail(reason, "SetADC: bad length");
        const uint8_t* e = p + 4;
        r.adc.table.resize(n);
        for (uint32_t i = 0; i < n; ++i, e += 3)
            r.adc.table[i] = TableEntry{e[0], e[1], e[2]};
        r.adc.calibrationSlots = get16(e);
        r.adc.option1 = e[2];
        r.adc.option2 = e[3];
        r.adc.divider = int32_t(get32(e + 4));
        return true;
    }
    case MessageType::Recv:
        if (length != 8)
            return fail(reason, "Recv: bad length");
        r.count = get32(p);
        r.timeoutMs = get32(p + 4);
        return true;
    default:
        if (length != 0)
            return fail(reason, "unexpected payload");
        return true;
    }
}

ReplyWriter::ReplyWriter(MessageType request, int32_t status) : bytes_(kHeaderSize, 0) {
    bytes_[6] = uint8_t(uint16_t(request)); // completed by finish()
    bytes_[7] = uint8_t((uint16_t(request) | kReplyBit) >> 8);
    u32(uint32_t(status));
}

void ReplyWriter::u16(uint16_t v) {
    uint8_t b[2];
    put16(b, v);
    raw(b, 2);
}

void ReplyWriter::u32(uint32_t v) {
    uint8_t b[4];
    put32(b, v);
    raw(b, 4);
}

void ReplyWriter::f32(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    u32(bits);
}

void ReplyWriter::raw(const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    bytes_.insert(bytes_.end(), p, p + size);
}

const std::vector<uint8_t>& ReplyWriter::finish(uint32_t extra) {
    const uint16_t type = uint16_t(bytes_[6] | (bytes_[7] << 8));
    encodeHeader(bytes_.data(), type, uint32_t(bytes_.size() - kHeaderSize) + extra);
    return bytes_;
}

bool decodeStatus(const uint8_t* p, size_t length, int32_t& status) {
    if (length < 4)
        return false;
    status = int32_t(get32(p));
    return status != StatusOk ? length == 4 : true;
}

bool decodeCrateList(const uint8_t* p, size_t length, char list[16][16]) {
    if (length < 5)
        return false;
    const uint8_t n = p[4];
    if (n > 16 || length != 5 + size_t(n) * kSerialSize)
        return false;
    std::memset(list, 0, 16 * 16);
    for (uint8_t i = 0; i < n; ++i) {
        std::memcpy(list[i], p + 5 + i * kSerialSize, kSerialSize);
        list[i][15] = 0;
    }
    return true;
}

bool decodeSlotTypes(const uint8_t* p, size_t length, uint16_t types[16]) {
    if (length != 4 + 32)
        return false;
    for (int i = 0; i < 16; ++i)
        types[i] = get16(p + 4 + 2 * i);
    return true;
}

bool decodeIdentity(const uint8_t* p, size_t length, ModuleIdentity& id) {
    if (length != 4 + 8 + 16 + 2 + 36)
        return false;
    p += 4;
    std::memcpy(id.name, p, 8);
    id.name[7] = 0;
    std::memcpy(id.serial, p + 8, 16);
    id.serial[15] = 0;
    id.firmware = get16(p + 24);
    for (int i = 0; i < 9; ++i) {
        const uint32_t bits = get32(p + 26 + 4 * i);
        std::memcpy(&id.coefs[i], &bits, 4);
    }
    return true;
}

bool decodeFrameLength(const uint8_t* p, size_t length, int32_t& frameLength) {
    if (length != 8)
        return false;
    frameLength = int32_t(get32(p + 4));
    return true;
}

bool decodeCalibration(const uint8_t* p, size_t length, CalibrationCodes& codes) {
    if (length != 4 + 48)
        return false;
    for (int s = 0; s < 6; ++s) {
        codes.zero[s] = int32_t(get32(p + 4 + 8 * s));
        codes.reference[s] = int32_t(get32(p + 8 + 8 * s));
    }
    return true;
}

bool decodeRecvFixed(const uint8_t* fixed, uint32_t payloadLength, uint32_t requested, int32_t& status,
                     uint32_t& words) {
    if (payloadLength < 4)
        return false;
    status = int32_t(get32(fixed));
    if (status != StatusOk)
        return payloadLength == 4;
    if (payloadLength < kRecvReplyFixed)
        return false;
    words = get32(fixed + 4);
    return words <= requested && uint64_t(payloadLength) == kRecvReplyFixed + 4ull * words;
}

} // namespace qira
