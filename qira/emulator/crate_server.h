// Serves the crates of a set-up over TCP: one thread per client connection,
// each connection either lists crates or owns one module.
#pragma once

#include "emulated_module.h"
#include "emulator_config.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace qira {

class CrateServer {
public:
    CrateServer(EmulatorConfig config, bool verbose);

    // Binds and listens; false with a reason on failure. Port 0 picks a free
    // port; boundPort() then tells which.
    bool listen(const std::string& host, uint16_t port, std::string& error);
    std::string boundAddress() const;
    // Accepts clients until the process ends.
    void run();

    // Runs one client's session on a connected socket (used by run()).
    void serve(int fd, int client);

private:
    struct Slot {
        const CrateConfig* crate = nullptr;
        std::unique_ptr<EmulatedModule> module;
        int owner = 0; // client id, 0 = free
    };

    class Session;
    friend class Session;

    const CrateConfig* findCrate(const std::string& serial) const;
    Slot* findSlot(const std::string& serial, uint16_t slot);
    // Queues a line for the log thread; never waits for the log stream.
    void log(const std::string& line);
    void writeLog();
    void refuse(int fd, int client);
    double secondsSinceStart() const;

    EmulatorConfig config_;
    bool verbose_;
    int listenFd_ = -1;
    std::chrono::steady_clock::time_point startedAt_;
    std::mutex mutex_; // guards the owners and the client counts
    std::map<std::pair<std::string, int>, Slot> slots_;
    int clients_ = 0;
    int refusing_ = 0; // connections being told that the server is full

    // A stuck standard error must not stop the serving: lines wait here for
    // the log thread, and are counted and dropped when too many wait.
    std::mutex logMutex_;
    std::condition_variable logReady_;
    std::deque<std::string> logLines_;
    uint64_t logDropped_ = 0;
};

} // namespace qira
