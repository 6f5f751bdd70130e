// The crate server library: short connections that list crates and read the
// slot types of one crate. Touches only the 36 bytes of the record.
#include "qiraapi.h"

#include "server_link.h"
#include "wire_format.h"

#include <cstring>

using namespace qira;

namespace {

constexpr uint32_t kCrateMagic = 0x51495241;
constexpr int kCallTimeoutMs = 5000;
constexpr int32_t kErrArgument = -2;
constexpr int32_t kErrConnection = -3;
constexpr int32_t kErrNotOpen = -1;
constexpr int32_t kErrTimeout = -8;
constexpr int32_t kErrNoDescriptor = -10;
constexpr int32_t kErrServerBase = -100;

// The record's socket, or -1 when it holds no connection of its own.
int socketOf(const CrateControl* c) {
    return c->Magic == kCrateMagic ? connections::fdOf(c->Connection, c) : -1;
}

// The serial as the record holds it, even when the caller left no NUL.
void recordSerial(const CrateControl* c, char out[16]) {
    std::memcpy(out, c->CrateSerial, 16);
    out[15] = 0;
}

int32_t query(CrateControl* c, const std::vector<uint8_t>& request, std::vector<uint8_t>& reply,
              Deadline deadline) {
    if (!c)
        return kErrArgument;
    const int fd = socketOf(c);
    if (fd < 0)
        return kErrNotOpen;
    int32_t status = 0;
    const LinkResult r = ServerLink::exchange(fd, request, kMaxControlReplyPayload, reply, deadline);
    if (r == LinkResult::TimedOut)
        return kErrTimeout;
    if (r != LinkResult::Done || !decodeStatus(reply.data(), reply.size(), status))
        return kErrConnection;
    return status == StatusOk ? 0 : kErrServerBase - status;
}

int32_t query(CrateControl* c, const std::vector<uint8_t>& request, std::vector<uint8_t>& reply) {
    return query(c, request, reply, deadlineIn(kCallTimeoutMs));
}

} // namespace

extern "C" {

int32_t QIRA_Init(CrateControl* c) {
    if (!c)
        return kErrArgument;
    if (c->Magic == kCrateMagic)
        connections::remove(c->Connection, c);
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
    QIRA_Close(c);
    // Connecting and the server's answer share the one time-out.
    const Deadline deadline = deadlineIn(kCallTimeoutMs);
    ServerLink::ConnectFailure why;
    const int fd = ServerLink::connectTo(c->ServerAddress, c->ServerPort, deadline, why);
    if (fd < 0)
        return why == ServerLink::ConnectFailure::TimedOut       ? kErrTimeout
               : why == ServerLink::ConnectFailure::NoDescriptor ? kErrNoDescriptor
                                                                 : kErrConnection;
    c->Connection = connections::add(fd, c);
    if (c->Connection == 0)
        return kErrNoDescriptor;
    char serial[16];
    recordSerial(c, serial);
    std::vector<uint8_t> reply;
    const int32_t r = query(c, encodeOpen(serial, 0), reply, deadline);
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
    // A copy of an open record, or one closed already, only forgets its
    // handle: the connection is not its own to close.
    const bool own = c->Magic == kCrateMagic && connections::remove(c->Connection, c);
    c->Connection = 0;
    return own ? 0 : kErrNotOpen;
}

} // extern "C"
