#include "crate_server.h"

#include "channel_table.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace qira {
namespace {

constexpr int kMaxClients = 256;
constexpr uint32_t kSendChunkWords = 1 << 16;

bool readAll(int fd, void* data, size_t size) {
    auto* p = static_cast<uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = recv(fd, p, size, 0);
        if (n > 0) {
            p += n;
            size -= size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}

bool writeAll(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = send(fd, p, size, MSG_NOSIGNAL);
        if (n > 0) {
            p += n;
            size -= size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}

std::string hex2(unsigned v) {
    char b[4];
    snprintf(b, sizeof b, "%02X", v & 0xFF);
    return b;
}

} // namespace

// One client connection. It is unbound, or has a crate open (slot 0), or owns
// one module; requests that do not fit that state end the connection.
class CrateServer::Session {
public:
    Session(CrateServer& server, int fd, int client) : server_(server), fd_(fd), client_(client) {}

    ~Session() {
        if (slot_) {
            std::lock_guard<std::mutex> lock(server_.mutex_);
            slot_->module->release();
            slot_->owner = 0;
        }
    }

    void run() {
        std::string reason;
        while (step(reason)) {
        }
        if (!reason.empty())
            server_.log("client " + std::to_string(client_) + " dropped: " + reason);
    }

private:
    enum class State { Unbound, Crate, Module };

    // Serves one request; false ends the session (reason empty when the
    // client simply closed its end).
    bool step(std::string& reason) {
        uint8_t head[kHeaderSize];
        if (!readAll(fd_, head, sizeof head))
            return false;
        Header h;
        if (!decodeHeader(head, h, reason))
            return false;
        if (!isRequestType(h.type)) {
            reason = "unknown request type " + std::to_string(h.type);
            return false;
        }
        if (h.length > kMaxRequestPayload) {
            reason = "oversized request (" + std::to_string(h.length) + " bytes)";
            return false;
        }
        std::vector<uint8_t> payload(h.length);
        if (h.length && !readAll(fd_, payload.data(), h.length)) {
            reason = "connection closed inside a request";
            return false;
        }
        Request r;
        if (!decodeRequest(h.type, payload.data(), payload.size(), r, reason))
            return false;
        if (!allowed(r.type)) {
            reason = std::string("out-of-order request ") + messageName(r.type);
            return false;
        }
        return handle(r, reason);
    }

    bool allowed(MessageType t) const {
        switch (t) {
        case MessageType::Open:
            return state_ == State::Unbound;
        case MessageType::Close:
            return true;
        case MessageType::GetCrates:
        case MessageType::GetCrateModules:
            return state_ != State::Module;
        default:
            return state_ == State::Module;
        }
    }

    void logCall(MessageType t, const std::string& serial, int slot, int32_t status,
                 const std::string& details = {}) {
        if (!server_.verbose_)
            return;
        std::ostringstream s;
        s << messageName(t) << ' ' << (serial.empty() ? "-" : serial) << ' ' << slot << ' ' << status;
        if (!details.empty())
            s << ' ' << details;
        server_.log(s.str());
    }

    bool reply(ReplyWriter& w) {
        const auto& bytes = w.finish();
        return writeAll(fd_, bytes.data(), bytes.size());
    }

    bool status(MessageType t, int32_t code) {
        ReplyWriter w(t, code);
        return reply(w);
    }

    bool handle(const Request& r, std::string& reason) {
        const std::string serial = slot_ ? slot_->crate->serial : crate_;
        const int slotNo = slot_ ? slot_->module->config().slot : 0;
        switch (r.type) {
        case MessageType::Open:
            return open(r);
        case MessageType::Close: {
            const int32_t st = state_ == State::Unbound ? StatusWrongState : StatusOk;
            if (slot_) {
                std::lock_guard<std::mutex> lock(server_.mutex_);
                slot_->module->release();
                slot_->owner = 0;
                slot_ = nullptr;
            }
            state_ = State::Unbound;
            crate_.clear();
            logCall(r.type, serial, slotNo, st);
            return status(r.type, st);
        }
        case MessageType::GetCrates: {
            ReplyWriter w(r.type, StatusOk);
            const size_t n = std::min<size_t>(server_.config_.crates.size(), 16);
            w.u8(uint8_t(n));
            for (size_t i = 0; i < n; ++i) {
                char name[kSerialSize] = {};
                strncpy(name, server_.config_.crates[i].serial.c_str(), kSerialSize - 1);
                w.raw(name, kSerialSize);
            }
            logCall(r.type, serial, 0, StatusOk, std::to_string(n) + " crates");
            return reply(w);
        }
        case MessageType::GetCrateModules: {
            const CrateConfig* crate = server_.findCrate(r.serial);
            int32_t st = !crate ? StatusUnknownCrate : crate->failModules ? StatusFault : StatusOk;
            ReplyWriter w(r.type, st);
            std::string types;
            if (st == StatusOk) {
                uint16_t codes[16] = {};
                for (const SlotConfig& s : crate->slots)
                    codes[s.slot - 1] = s.type;
                for (uint16_t c : codes) {
                    w.u16(c);
                    char b[8];
                    snprintf(b, sizeof b, "%s%04X", types.empty() ? "" : " ", c);
                    types += b;
                }
            }
            logCall(r.type, r.serial, 0, st, types);
            return reply(w);
        }
        default:
            break;
        }
        EmulatedModule& m = *slot_->module;
        switch (r.type) {
        case MessageType::GetConfig: {
            ModuleIdentity id;
            const int32_t st = m.identity(id);
            ReplyWriter w(r.type, st);
            if (st == StatusOk) {
                w.raw(id.name, sizeof id.name);
                w.raw(id.serial, sizeof id.serial);
                w.u16(id.firmware);
                for (float c : id.coefs)
                    w.f32(c);
            }
            logCall(r.type, serial, slotNo, st);
            return reply(w);
        }
        case MessageType::SetADC: {
            int32_t frameLength = 0;
            const int32_t st = m.setAdc(r.adc, frameLength);
            ReplyWriter w(r.type, st);
            if (st == StatusOk)
                w.u32(uint32_t(frameLength));
            std::string d =
                "divider " + std::to_string(r.adc.divider) + " cal " + std::to_string(r.adc.calibrationSlots);
            for (const TableEntry& e : r.adc.table)
                d += ' ' + hex2(e.mode) + '/' + hex2(e.channel) + '/' + hex2(e.range);
            logCall(r.type, serial, slotNo, st, d);
            return reply(w);
        }
        case MessageType::Calibrate: {
            CalibrationCodes codes;
            const int32_t st = m.calibrate(codes);
            ReplyWriter w(r.type, st);
            if (st == StatusOk)
                for (int s = 0; s < kScaleCount; ++s) {
                    w.u32(uint32_t(codes.zero[s]));
                    w.u32(uint32_t(codes.reference[s]));
                }
            logCall(r.type, serial, slotNo, st);
            return reply(w);
        }
        case MessageType::Start: {
            const int32_t st = m.start();
            logCall(r.type, serial, slotNo, st);
            return status(r.type, st);
        }
        case MessageType::Stop: {
            const int32_t st = m.stop();
            logCall(r.type, serial, slotNo, st);
            return status(r.type, st);
        }
        case MessageType::Recv:
            return recv(m, r, serial, slotNo);
        default:
            reason = "unexpected request";
        }
        return false;
    }

    bool open(const Request& r) {
        int32_t st = StatusOk;
        if (r.slot == 0) {
            if (!r.serial.empty() && !server_.findCrate(r.serial))
                st = StatusUnknownCrate;
            if (st == StatusOk) {
                state_ = State::Crate;
                crate_ = r.serial;
            }
        } else if (!server_.findCrate(r.serial)) {
            st = StatusUnknownCrate;
        } else {
            Slot* s = server_.findSlot(r.serial, r.slot);
            std::lock_guard<std::mutex> lock(server_.mutex_);
            if (!s)
                st = StatusNoModule;
            else if (s->owner != 0)
                st = StatusBusy;
            else
                st = s->module->open();
            if (st == StatusOk) {
                s->owner = client_;
                slot_ = s;
                state_ = State::Module;
            }
        }
        logCall(r.type, r.serial, r.slot, st);
        return status(r.type, st);
    }

    bool recv(EmulatedModule& m, const Request& r, const std::string& serial, int slotNo) {
        uint32_t n = 0;
        const int32_t st =
            r.count > kMaxRecvWords
                ? StatusBadRequest
                : m.prepareRecv(r.count, r.timeoutMs, n, [this](auto until) { return clientStays(until); });
        ReplyWriter w(r.type, st);
        if (st == StatusOk)
            w.u32(n);
        logCall(r.type, serial, slotNo, st, std::to_string(n) + "/" + std::to_string(r.count) + " words");
        const auto& head = w.finish(4 * n);
        if (!writeAll(fd_, head.data(), head.size()))
            return false;
        std::vector<uint32_t> buffer(std::min(n, kSendChunkWords));
        while (n > 0) {
            const uint32_t k = std::min(n, kSendChunkWords);
            m.produce(buffer.data(), k);
            if (!writeAll(fd_, buffer.data(), 4 * size_t(k)))
                return false;
            n -= k;
        }
        return true;
    }

    // Sleeps until the given time, but returns false at once when the client
    // hangs up, so that its module is freed without waiting for the time-out.
    bool clientStays(EmulatedModule::Clock::time_point until) const {
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  until - EmulatedModule::Clock::now() + std::chrono::microseconds(999))
                                  .count();
            if (left <= 0)
                return true;
            pollfd p{fd_, POLLRDHUP, 0};
            const int r = poll(&p, 1, int(std::min<int64_t>(left, 1000)));
            if (r > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)))
                return false;
        }
    }

    CrateServer& server_;
    int fd_;
    int client_;
    State state_ = State::Unbound;
    std::string crate_;
    Slot* slot_ = nullptr;
};

CrateServer::CrateServer(EmulatorConfig config, bool verbose)
    : config_(std::move(config)), verbose_(verbose), startedAt_(std::chrono::steady_clock::now()) {
    for (const CrateConfig& c : config_.crates)
        for (const SlotConfig& s : c.slots)
            if (s.type == 0x7272) {
                Slot& slot = slots_[{c.serial, s.slot}];
                slot.crate = &c;
                slot.module = std::make_unique<EmulatedModule>(s, config_.seed, config_.fast);
            }
}

const CrateConfig* CrateServer::findCrate(const std::string& serial) const {
    for (const CrateConfig& c : config_.crates)
        if (c.serial == serial)
            return &c;
    return nullptr;
}

CrateServer::Slot* CrateServer::findSlot(const std::string& serial, uint16_t slot) {
    const auto it = slots_.find({serial, int(slot)});
    return it == slots_.end() ? nullptr : &it->second;
}

double CrateServer::secondsSinceStart() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - startedAt_).count();
}

void CrateServer::log(const std::string& line) {
    char stamp[32];
    snprintf(stamp, sizeof stamp, "%.3f ", secondsSinceStart());
    std::lock_guard<std::mutex> lock(mutex_);
    std::cerr << stamp << line << std::endl;
}

bool CrateServer::listen(const std::string& host, uint16_t port, std::string& error) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (inet_pton(AF_INET, host == "localhost" ? "127.0.0.1" : host.c_str(), &sa.sin_addr) != 1) {
        error = "not an IPv4 address: " + host;
        return false;
    }
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (listenFd_ < 0 || bind(listenFd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        ::listen(listenFd_, 64) != 0) {
        error = "cannot listen on " + host + ":" + std::to_string(port) + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

std::string CrateServer::boundAddress() const {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&sa), &len);
    char host[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &sa.sin_addr, host, sizeof host);
    return std::string(host) + ":" + std::to_string(ntohs(sa.sin_port));
}

void CrateServer::serve(int fd, int client) {
    Session(*this, fd, client).run();
    close(fd);
    std::lock_guard<std::mutex> lock(mutex_);
    --clients_;
}

void CrateServer::run() {
    for (int next = 1;; ++next) {
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            continue;
        }
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (clients_ >= kMaxClients) {
                close(fd);
                continue;
            }
            ++clients_;
        }
        try {
            std::thread([this, fd, next] { serve(fd, next); }).detach();
        } catch (const std::system_error&) {
            close(fd); // no thread to spare: refuse this client, keep serving
            std::lock_guard<std::mutex> lock(mutex_);
            --clients_;
        }
    }
}

} // namespace qira
