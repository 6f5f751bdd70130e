// The TCP connection of a library record to the crate server: connect, send a
// request, wait for its reply with a deadline. Never raises SIGPIPE.
#pragma once

#include "wire_format.h"

#include <cstdint>
#include <vector>

namespace qira {

// The endpoint to use for a call that was given the defaults: QIRA_SERVER
// ("HOST:PORT", HOST an IPv4 address or "localhost") overrides them.
void resolveServer(uint32_t& address, uint16_t& port);

class ServerLink {
public:
    // A socket descriptor or -1. Gives up after timeoutMs.
    static int connectTo(uint32_t address, uint16_t port, int timeoutMs);
    static void closeSocket(int fd);

    static bool sendAll(int fd, const void* data, size_t size, int timeoutMs);
    // Waits until size bytes arrived; gives up when timeoutMs pass without
    // any byte arriving (so a slow large transfer still completes).
    static bool recvAll(int fd, void* data, size_t size, int idleTimeoutMs);
    // The first byte must arrive within firstByteMs.
    static bool recvAllFirst(int fd, void* data, size_t size, int firstByteMs, int idleTimeoutMs);

    // Sends a request and reads the reply payload of the matching type, at
    // most maxPayload bytes. False on any transport or framing problem.
    static bool exchange(int fd, const std::vector<uint8_t>& request, size_t maxPayload,
                         std::vector<uint8_t>& reply, int timeoutMs);
};

} // namespace qira
