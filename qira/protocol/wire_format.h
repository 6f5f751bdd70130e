// Messages exchanged between the crate server and the two client libraries.
// Every message is a 12-byte header followed by its payload; all integers are
// little-endian. Decoders check every length before they read.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qira {

constexpr uint32_t kWireMagic = 0x41524951; // "QIRA" on the wire
constexpr uint16_t kWireVersion = 1;
constexpr size_t kHeaderSize = 12;
constexpr size_t kSerialSize = 16;
constexpr size_t kMaxRequestPayload = 4 + 128 * 3 + 8;
constexpr size_t kMaxControlReplyPayload = 4 + 1 + 16 * kSerialSize;
// One Recv reply never carries more words than this; larger requests are
// refused so that a reply length always fits in 32 bits.
constexpr uint32_t kMaxRecvWords = 1u << 26;

enum class MessageType : uint16_t {
    Open = 1,
    Close = 2,
    GetCrates = 3,
    GetCrateModules = 4,
    GetConfig = 5,
    SetADC = 6,
    Calibrate = 7,
    Start = 8,
    Recv = 9,
    Stop = 10,
};
constexpr uint16_t kReplyBit = 0x8000;
// Sent unasked, instead of any reply, to a client the server will not serve
// (status only): type 0 with the reply bit.
constexpr uint16_t kRefusalType = kReplyBit;

const char* messageName(MessageType type);
bool isRequestType(uint16_t type);

// Statuses the server puts in the first four bytes of every reply.
enum ServerStatus : int32_t {
    StatusOk = 0,
    StatusUnknownCrate = 1,
    StatusNoModule = 2,
    StatusBusy = 3,
    StatusFault = 4,
    StatusBadSettings = 5,
    StatusWrongState = 6,
    StatusLinkLost = 7,
    StatusBadRequest = 8,
    StatusServerFull = 9,
};

struct Header {
    uint16_t type = 0;
    uint32_t length = 0;
};

void encodeHeader(uint8_t* out, uint16_t type, uint32_t length);
// Checks magic and version; false with a reason otherwise.
bool decodeHeader(const uint8_t* in, Header& header, std::string& reason);

struct TableEntry {
    uint8_t mode = 0;
    uint8_t channel = 0;
    uint8_t range = 0;
};

struct AdcSettings {
    std::vector<TableEntry> table;
    uint16_t calibrationSlots = 0;
    uint8_t option1 = 0;
    uint8_t option2 = 0;
    int32_t divider = 0;
};

// A decoded request; only the fields of its type are meaningful.
struct Request {
    MessageType type = MessageType::Open;
    std::string serial;
    uint16_t slot = 0;
    AdcSettings adc;
    uint32_t count = 0;
    uint32_t timeoutMs = 0;
};

std::vector<uint8_t> encodeOpen(const char* serial, uint16_t slot);
std::vector<uint8_t> encodeEmpty(MessageType type);
std::vector<uint8_t> encodeGetCrateModules(const char* serial);
std::vector<uint8_t> encodeSetADC(const AdcSettings& settings);
std::vector<uint8_t> encodeRecv(uint32_t count, uint32_t timeoutMs);

// Decodes the payload of a request whose header was already checked.
bool decodeRequest(uint16_t type, const uint8_t* payload, size_t length, Request& request,
                   std::string& reason);

// Replies. Each starts with the status; the body follows only on success.
struct ModuleIdentity {
    char name[8] = {};
    char serial[16] = {};
    uint16_t firmware = 0;
    float coefs[9] = {};
};

struct CalibrationCodes {
    int32_t zero[6] = {};
    int32_t reference[6] = {};
};

class ReplyWriter {
public:
    ReplyWriter(MessageType request, int32_t status);
    void u8(uint8_t v) { bytes_.push_back(v); }
    void u16(uint16_t v);
    void u32(uint32_t v);
    void f32(float v);
    void raw(const void* data, size_t size);
    // Fixes the length field; extra is the size of a body sent separately.
    const std::vector<uint8_t>& finish(uint32_t extra = 0);

private:
    std::vector<uint8_t> bytes_;
};

// Reply payload decoders for the client; false when the payload does not
// have exactly the expected shape.
bool decodeStatus(const uint8_t* payload, size_t length, int32_t& status);
bool decodeCrateList(const uint8_t* payload, size_t length, char list[16][16]);
bool decodeSlotTypes(const uint8_t* payload, size_t length, uint16_t types[16]);
bool decodeIdentity(const uint8_t* payload, size_t length, ModuleIdentity& identity);
bool decodeFrameLength(const uint8_t* payload, size_t length, int32_t& frameLength);
bool decodeCalibration(const uint8_t* payload, size_t length, CalibrationCodes& codes);
// A Recv reply is the status and the word count, then the words. Checks the
// count against the request and the header's payload length.
constexpr size_t kRecvReplyFixed = 8;
bool decodeRecvFixed(const uint8_t* fixed, uint32_t payloadLength, uint32_t requested, int32_t& status,
                     uint32_t& words);

} // namespace qira
