#include "server_link.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace qira {
namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : int(left);
}

bool waitFor(int fd, short events, int timeoutMs) {
    pollfd p{fd, events, 0};
    for (;;) {
        const int r = poll(&p, 1, timeoutMs);
        if (r > 0)
            return true;
        if (r == 0 || errno != EINTR)
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

int ServerLink::connectTo(uint32_t address, uint16_t port, int timeoutMs) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(address);
    int r = connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    if (r != 0 && errno == EINPROGRESS && waitFor(fd, POLLOUT, timeoutMs)) {
        int err = 0;
        socklen_t len = sizeof err;
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
        r = err == 0 ? 0 : -1;
    }
    if (r != 0) {
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

bool ServerLink::sendAll(int fd, const void* data, size_t size, int timeoutMs) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = send(fd, p, size, MSG_NOSIGNAL);
        if (n > 0) {
            p += n;
            size -= size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!waitFor(fd, POLLOUT, timeoutMs))
                return false;
        } else {
            return false;
        }
    }
    return true;
}

bool ServerLink::recvAll(int fd, void* data, size_t size, int idleTimeoutMs) {
    return recvAllFirst(fd, data, size, idleTimeoutMs, idleTimeoutMs);
}

bool ServerLink::recvAllFirst(int fd, void* data, size_t size, int firstByteMs, int idleTimeoutMs) {
    auto* p = static_cast<uint8_t*>(data);
    const auto firstDeadline = Clock::now() + std::chrono::milliseconds(firstByteMs);
    bool first = true;
    while (size > 0) {
        const ssize_t n = recv(fd, p, size, 0);
        if (n > 0) {
            p += n;
            size -= size_t(n);
            first = false;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!waitFor(fd, POLLIN, first ? remainingMs(firstDeadline) : idleTimeoutMs))
                return false;
        } else {
            return false; // closed by the server, or an error
        }
    }
    return true;
}

bool ServerLink::exchange(int fd, const std::vector<uint8_t>& request, size_t maxPayload,
                          std::vector<uint8_t>& reply, int timeoutMs) {
    if (fd < 0 || !sendAll(fd, request.data(), request.size(), timeoutMs))
        return false;
    uint8_t head[kHeaderSize];
    if (!recvAllFirst(fd, head, sizeof head, timeoutMs, timeoutMs))
        return false;
    Header h;
    std::string reason;
    const uint16_t expected = uint16_t(request[6] | (request[7] << 8)) | kReplyBit;
    if (!decodeHeader(head, h, reason) || h.type != expected || h.length > maxPayload)
        return false;
    reply.resize(h.length);
    return h.length == 0 || recvAll(fd, reply.data(), h.length, timeoutMs);
}

} // namespace qira
