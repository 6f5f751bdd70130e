#include "server_link.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace qira {
namespace {

using Clock = std::chrono::steady_clock;

// Rounded up, so that a wait does not end just before its deadline.
int remainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now() +
                                                                            std::chrono::microseconds(999))
                          .count();
    return left < 0 ? 0 : left > INT32_MAX ? INT32_MAX : int(left);
}

// True when the descriptor is ready before the deadline.
bool waitFor(int fd, short events, Deadline deadline) {
    pollfd p{fd, events, 0};
    for (;;) {
        const int r = poll(&p, 1, remainingMs(deadline));
        if (r > 0)
            return true;
        if (r == 0 && Clock::now() >= deadline)
            return false;
        if (r < 0 && errno != EINTR)
            return false;
    }
}

} // namespace

void resolveServer(uint32_t& address, uint16_t& port) {
    const char* env = std::getenv("QIRA_SERVER");
    if (!env || !*env)
        return;
    const std::string text(env);
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos)
        return;
    std::string host = text.substr(0, colon);
    if (host == "localhost")
        host = "127.0.0.1";
    in_addr a{};
    char* end = nullptr;
    const unsigned long p = std::strtoul(text.c_str() + colon + 1, &end, 10);
    if (inet_pton(AF_INET, host.c_str(), &a) != 1 || *end != 0 || p == 0 || p > 65535)
        return;
    address = ntohl(a.s_addr);
    port = uint16_t(p);
}

Deadline deadlineIn(int64_t ms) {
    return Clock::now() + std::chrono::milliseconds(ms);
}

int ServerLink::connectTo(uint32_t address, uint16_t port, Deadline deadline, ConnectFailure& why) {
    why = ConnectFailure::None;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        why = errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM
                  ? ConnectFailure::NoDescriptor
                  : ConnectFailure::Refused;
        return -1;
    }
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(address);
    int r = connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    if (r != 0 && errno == EINPROGRESS) {
        if (waitFor(fd, POLLOUT, deadline)) {
            int err = 0;
            socklen_t len = sizeof err;
            getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
            r = err == 0 ? 0 : -1;
        } else if (Clock::now() >= deadline) {
            why = ConnectFailure::TimedOut;
        }
    }
    if (r != 0) {
        if (why == ConnectFailure::None)
            why = ConnectFailure::Refused;
        close(fd);
        return -1;
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

void ServerLink::closeSocket(int fd) {
    if (fd >= 0)
        close(fd);
}

LinkResult ServerLink::sendAll(int fd, const void* data, size_t size, Deadline deadline) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = send(fd, p, size, MSG_NOSIGNAL);
        if (n > 0) {
            p += n;
            size -= size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!waitFor(fd, POLLOUT, deadline))
                return Clock::now() >= deadline ? LinkResult::TimedOut : LinkResult::Broken;
        } else {
            return LinkResult::Broken;
        }
    }
    return LinkResult::Done;
}

LinkResult ServerLink::recvAll(int fd, void* data, size_t size, Deadline deadline) {
    auto* p = static_cast<uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = recv(fd, p, size, 0);
        if (n > 0) {
            p += n;
            size -= size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!waitFor(fd, POLLIN, deadline))
                return Clock::now() >= deadline ? LinkResult::TimedOut : LinkResult::Broken;
        } else {
            return LinkResult::Broken; // closed by the server, or an error
        }
    }
    return LinkResult::Done;
}

LinkResult ServerLink::exchange(int fd, const std::vector<uint8_t>& request, size_t maxPayload,
                                std::vector<uint8_t>& reply, Deadline deadline) {
    if (fd < 0)
        return LinkResult::Broken;
    if (const LinkResult r = sendAll(fd, request.data(), request.size(), deadline); r != LinkResult::Done)
        return r;
    uint8_t head[kHeaderSize];
    if (const LinkResult r = recvAll(fd, head, sizeof head, deadline); r != LinkResult::Done)
        return r;
    Header h;
    std::string reason;
    const uint16_t expected = uint16_t(request[6] | (request[7] << 8)) | kReplyBit;
    if (!decodeHeader(head, h, reason) ||
        (h.type != expected && !(h.type == kRefusalType && h.length == 4)) || h.length > maxPayload)
        return LinkResult::Broken;
    reply.resize(h.length);
    return h.length == 0 ? LinkResult::Done : recvAll(fd, reply.data(), h.length, deadline);
}

namespace connections {
namespace {

constexpr uint32_t kSlots = 256;
constexpr uint32_t kGenerations = 1u << 22; // keeps a handle positive

struct Entry {
    int fd = -1;
    uint32_t generation = 0;
    const void* owner = nullptr;
};

std::mutex tableMutex;
Entry table[kSlots];

Entry* find(int32_t handle, const void* owner) {
    if (handle <= 0)
        return nullptr;
    const uint32_t h = uint32_t(handle - 1);
    Entry& e = table[h % kSlots];
    return e.fd >= 0 && e.generation == h / kSlots && e.owner == owner ? &e : nullptr;
}

} // namespace

int32_t add(int fd, const void* owner) {
    std::lock_guard<std::mutex> lock(tableMutex);
    for (uint32_t i = 0; i < kSlots; ++i) {
        Entry& e = table[i];
        if (e.fd >= 0)
            continue;
        e.fd = fd;
        e.generation = (e.generation + 1) % kGenerations;
        e.owner = owner;
        return int32_t(e.generation * kSlots + i + 1);
    }
    close(fd);
    return 0;
}

int fdOf(int32_t handle, const void* owner) {
    std::lock_guard<std::mutex> lock(tableMutex);
    const Entry* e = find(handle, owner);
    return e ? e->fd : -1;
}

bool remove(int32_t handle, const void* owner) {
    std::lock_guard<std::mutex> lock(tableMutex);
    Entry* e = find(handle, owner);
    if (!e)
        return false;
    close(e->fd);
    e->fd = -1;
    e->owner = nullptr;
    return true;
}

} // namespace connections

} // namespace qira
