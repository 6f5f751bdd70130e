#include "crate_server.h"

#include "channel_table.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
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

constexpr uint32_t kSendChunkWords = 1 << 16;
// Refused clients are told so by a short-lived thread each; beyond this many
// at once they are simply closed.
constexpr int kMaxRefusing = 32;
constexpr size_t kMaxLogLines = 10000;

using Clock = std::chrono::steady_clock;

// Reads size bytes. Gives up at the deadline (timedOut set) or when the peer
// closes or fails.
bool readAll(int fd, void* data, size_t size, Clock::time_point deadline, bool& timedOut) {
    auto* p = static_cast<uint8_t*>(data);
    timedOut = false;
    while (size > 0) {
        if (deadline != Clock::time_point::max()) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count() + 1;
            pollfd pfd{fd, POLLIN, 0};
            const int r = left > 0 ? poll(&pfd, 1, int(std::min<int64_t>(left, 1000))) : 0;
            if (r < 0 && errno == EINTR)
                continue;
            if (r == 0) {
                if (Clock::now() < deadline)
                    continue;
                timedOut = true;
                return false;
            }
            if (r < 0)
                return false;
        }
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
        // A connection without a module is a short query; one that idles
        // would hold a place that other clients need.
        const int64_t idleMs = server_.config_.idleTimeoutMs;
        const auto idle = slot_ ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(idleMs);
        uint8_t head[kHeaderSize];
        bool timedOut = false;
        if (!readAll(fd_, head, sizeof head, idle, timedOut)) {
            if (timedOut)
                reason = "idle for " + std::to_string(idleMs) + " ms";
            return false;
        }
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
        if (h.length && !readAll(fd_, payload.data(), h.length,
                                 Clock::now() + std::chrono::milliseconds(idleMs), timedOut)) {
            reason = timedOut ? "request not completed within " + std::to_string(idleMs) + " ms"
                              : "connection closed inside a request";
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
        return send(bytes.data(), bytes.size());
    }

    // The reply faults of the configured levels that concern this request:
    // the longest stall and the slowest trickle win.
    void chooseReplyFaults(const Request& r) {
        stallMs_ = 0;
        trickle_ = 0;
        auto take = [&](const ReplyFaults& f) {
            const auto it = f.stallMs.find(messageName(r.type));
            if (it != f.stallMs.end())
                stallMs_ = std::max(stallMs_, it->second);
            const bool trickles = f.trickleCalls.empty() || f.trickleCalls.count(messageName(r.type));
            if (trickles && f.trickleBytesPerS > 0 && (trickle_ == 0 || f.trickleBytesPerS < trickle_))
                trickle_ = f.trickleBytesPerS;
        };
        take(server_.config_.replies);
        const bool namesCrate =
            (r.type == MessageType::Open && r.slot == 0) || r.type == MessageType::GetCrateModules;
        const std::string crate = namesCrate ? r.serial : state_ == State::Crate ? crate_ : std::string();
        if (!crate.empty())
            if (const CrateConfig* c = server_.findCrate(crate))
                take(c->replies);
        const Slot* s = slot_;
        if (!s && r.type == MessageType::Open && r.slot != 0)
            s = server_.findSlot(r.serial, r.slot);
        if (s)
            take(s->module->config().faults.replies);
    }

    // Writes part of a reply, held back and slowed as the faults say.
    bool send(const void* data, size_t size) {
        if (stallMs_ > 0) {
            const auto until = Clock::now() + std::chrono::milliseconds(stallMs_);
            stallMs_ = 0;
            if (!clientStays(until))
                return false;
        }
        if (trickle_ <= 0)
            return writeAll(fd_, data, size);
        const size_t chunk = size_t(std::max<int64_t>(1, trickle_ / 20));
        const auto* p = static_cast<const uint8_t*>(data);
        while (size > 0) {
            const size_t k = std::min(chunk, size);
            if (!writeAll(fd_, p, k))
                return false;
            p += k;
            size -= k;
            const auto pause = std::chrono::microseconds(int64_t(k) * 1000000 / trickle_);
            if (size > 0 && !clientStays(Clock::now() + pause))
                return false;
        }
        return true;
    }

    bool status(MessageType t, int32_t code) {
        ReplyWriter w(t, code);
        return reply(w);
    }

    bool handle(const Request& r, std::string& reason) {
        const std::string serial = slot_ ? slot_->crate->serial : crate_;
        const int slotNo = slot_ ? slot_->module->config().slot : 0;
        chooseReplyFaults(r);
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
        if (!send(head.data(), head.size()))
            return false;
        std::vector<uint32_t> buffer(std::min(n, kSendChunkWords));
        while (n > 0) {
            const uint32_t k = std::min(n, kSendChunkWords);
            m.produce(buffer.data(), k);
            if (!send(buffer.data(), 4 * size_t(k)))
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
    int64_t stallMs_ = 0; // of the reply being sent
    int64_t trickle_ = 0; // bytes per second, 0 = full speed
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
    {
        std::lock_guard<std::mutex> lock(logMutex_);
        if (logLines_.size() >= kMaxLogLines) {
            ++logDropped_;
            return;
        }
        logLines_.push_back(stamp + line + "\n");
    }
    logReady_.notify_one();
}

void CrateServer::writeLog() {
    std::unique_lock<std::mutex> lock(logMutex_);
    for (;;) {
        logReady_.wait(lock, [this] { return !logLines_.empty() || logDropped_ > 0; });
        std::string text;
        if (logDropped_ > 0) {
            text = std::to_string(logDropped_) + " log lines dropped: the log stream was not read\n";
            logDropped_ = 0;
        }
        while (!logLines_.empty()) {
            text += logLines_.front();
            logLines_.pop_front();
        }
        lock.unlock();
        for (size_t done = 0; done < text.size();) {
            const ssize_t n = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
            if (n > 0)
                done += size_t(n);
            else if (!(n < 0 && errno == EINTR))
                break;
        }
        lock.lock();
    }
}

void CrateServer::refuse(int fd, int client) {
    log("client " + std::to_string(client) + " refused: server full (" + std::to_string(config_.maxClients) +
        " connections)");
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (refusing_ >= kMaxRefusing) {
            close(fd);
            return;
        }
        ++refusing_;
    }
    auto tell = [this, fd] {
        ReplyWriter w(MessageType(0), StatusServerFull);
        const auto& bytes = w.finish();
        writeAll(fd, bytes.data(), bytes.size()); // a fresh socket: its buffer is empty
        // Closing with the client's request unread would reset the connection
        // and lose the refusal: let the client read it and hang up first.
        shutdown(fd, SHUT_WR);
        const auto until = Clock::now() + std::chrono::seconds(2);
        char sink[512];
        bool timedOut = false;
        while (readAll(fd, sink, 1, until, timedOut)) {
        }
        close(fd);
        std::lock_guard<std::mutex> lock(mutex_);
        --refusing_;
    };
    try {
        std::thread(tell).detach();
    } catch (const std::system_error&) {
        close(fd);
        std::lock_guard<std::mutex> lock(mutex_);
        --refusing_;
    }
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
    // Free the place before the client can see its connection end: one that
    // reconnects at once must not be refused as one too many.
    {
        std::lock_guard<std::mutex> lock(mutex_);
        --clients_;
    }
    close(fd);
}

void CrateServer::run() {
    std::thread([this] { writeLog(); }).detach();
    for (int next = 1;; ++next) {
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            continue;
        }
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        bool full = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            full = clients_ >= config_.maxClients;
            if (!full)
                ++clients_;
        }
        if (full) {
            refuse(fd, next);
            continue;
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
