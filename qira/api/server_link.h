// The TCP connection of a library record to the crate server: connect, send a
// request, wait for its reply. Every call runs against one deadline for the
// whole exchange, so a server that trickles its bytes cannot stretch a call
// beyond its time-out. Never raises SIGPIPE.
#pragma once

#include "wire_format.h"

#include <chrono>
#include <cstdint>
#include <vector>

namespace qira {

// The endpoint to use for a call that was given the defaults: QIRA_SERVER
// ("HOST:PORT", HOST an IPv4 address or "localhost") overrides them.
void resolveServer(uint32_t& address, uint16_t& port);

using Deadline = std::chrono::steady_clock::time_point;
Deadline deadlineIn(int64_t ms);

enum class LinkResult { Done, TimedOut, Broken };

class ServerLink {
public:
    enum class ConnectFailure { None, Refused, TimedOut, NoDescriptor };
    // A socket descriptor or -1; why tells what went wrong (NoDescriptor: the
    // process or the system has no descriptor left).
    static int connectTo(uint32_t address, uint16_t port, Deadline deadline, ConnectFailure& why);
    static void closeSocket(int fd);

    static LinkResult sendAll(int fd, const void* data, size_t size, Deadline deadline);
    static LinkResult recvAll(int fd, void* data, size_t size, Deadline deadline);

    // Sends a request and reads the reply payload of the matching type, at
    // most maxPayload bytes. A server's refusal of the connection comes back
    // as its status-only payload.
    static LinkResult exchange(int fd, const std::vector<uint8_t>& request, size_t maxPayload,
                               std::vector<uint8_t>& reply, Deadline deadline);
};

// Connections belong to the record that opened them: a record holds a handle
// (slot and generation) rather than the descriptor, so a copy of the record,
// or one whose connection was closed, can neither use nor close a descriptor
// that is not its own, nor one the system has since handed to someone else.
namespace connections {
// A handle > 0, or 0 when the table is full (the descriptor is then closed).
int32_t add(int fd, const void* owner);
// The descriptor of the handle for its owner, or -1.
int fdOf(int32_t handle, const void* owner);
// Closes the descriptor if the handle is the owner's; false otherwise.
bool remove(int32_t handle, const void* owner);
} // namespace connections

} // namespace qira
