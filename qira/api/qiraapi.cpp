// The crate server library: short connections that list crates and read the
// slot types of one crate. Touches only the 36 bytes of the record.
#include "qiraapi.h"

#include "server_link.h"
#include "wire_format.h"

#include <cstring>

using namespace qira;

namespace {

constexpr uint32_t kCrateMagic = 0x51495241;
constexpr int kConnectTimeoutMs = 2000;
constexpr int kCallTimeoutMs = 5000;
constexpr int32_t kErrArgument = -2;
constexpr int32_t kErrConnection = -3;
constexpr int32_t kErrNotOpen = -1;
constexpr int32_t kErrServerBase = -100;

bool isOpen(const CrateControl* c) {
    return c->Magic == kCrateMagic && c->Connection > 0;
}

// The serial as the record holds it, even when the caller left no NUL.
void recordSerial(const CrateControl* c, char out[16]) {
    std::memcpy(out, c->CrateSerial, 16);
    out[15] = 0;
}

int32_t query(CrateControl* c, const std::vector<uint8_t>& request, std::vector<uint8_t>& reply) {
    if (!c)
        return kErrArgument;
    if (!isOpen(c))
        return kErrNotOpen;
    int32_t status = 0;
    if (!ServerLink::exchange(c->Connection - 1, request, kMaxControlReplyPayload, reply, kCallTimeoutMs) ||
        !decodeStatus(reply.data(), reply.size(), status))
        return kErrConnection;
    return status == StatusOk ? 0 : kErrServerBase - status;
}

} // namespace

extern "C" {

int32_t QIRA_Init(CrateControl* c) {
    if (!c)
        return kErrArgument;
    std::memset(c, 0, sizeof *c);
    c->ServerAddress = QIRA_DEFAULT_ADDRESS;
    c->ServerPort = QIRA_DEFAULT_PORT;
    resolveServer(c->ServerAddress, c->ServerPort);
    c->Magic = kCrateMagic;
    return 0;
}

int32_t QIRA_Open(CrateControl* c) {
    if (!c || c->Magic != kCrateMagic)
        return kErrArgument;
    if (isOpen(c))
        QIRA_Close(c);
    const int fd = ServerLink::connectTo(c->ServerAddress, c->ServerPort, kConnectTimeoutMs);
    if (fd < 0)
        return kErrConnection;
    c->Connection = fd + 1;
    char serial[16];
    recordSerial(c, serial);
    std::vector<uint8_t> reply;
    const int32_t r = query(c, encodeOpen(serial, 0), reply);
    if (r == 0 && reply.size() == 4)
        return 0;
    QIRA_Close(c);
    return r != 0 ? r : kErrConnection;
}

int32_t QIRA_GetCrates(CrateControl* c, char list[16][16]) {
    if (!list)
        return kErrArgument;
    std::vector<uint8_t> reply;
    if (const int32_t r = query(c, encodeEmpty(MessageType::GetCrates), reply))
        return r;
    return decodeCrateList(reply.data(), reply.size(), list) ? 0 : kErrConnection;
}

int32_t QIRA_GetCrateModules(CrateControl* c, uint16_t types[16]) {
    if (!types || !c)
        return kErrArgument;
    char serial[16];
    recordSerial(c, serial);
    std::vector<uint8_t> reply;
    if (const int32_t r = query(c, encodeGetCrateModules(serial), reply))
        return r;
    return decodeSlotTypes(reply.data(), reply.size(), types) ? 0 : kErrConnection;
}

int32_t QIRA_Close(CrateControl* c) {
    if (!c)
        return kErrArgument;
    if (!isOpen(c))
        return kErrNotOpen;
    ServerLink::closeSocket(c->Connection - 1);
    c->Connection = 0;
    return 0;
}

} // extern "C"
