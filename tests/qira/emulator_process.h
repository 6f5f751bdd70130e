// Runs a qira-emulator process on a free loopback port for the tests of the
// crate and module libraries, and points this process's libraries at it.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

class EmulatorProcess {
public:
    // config: a JSON file of tests/qira/fixtures (a bare name) or any path;
    // empty for the built-in set-up. extra: more command-line arguments.
    explicit EmulatorProcess(const std::string& config = {}, std::vector<std::string> extra = {});
    ~EmulatorProcess();
    EmulatorProcess(const EmulatorProcess&) = delete;
    EmulatorProcess& operator=(const EmulatorProcess&) = delete;

    bool started() const { return port_ != 0; }
    unsigned port() const { return port_; }
    const std::string& error() const { return error_; }
    // Sets QIRA_SERVER to this emulator.
    void select() const;
    // Standard error so far: the --verbose log and dropped clients.
    std::string log() const;
    // The log once it holds text: the emulator writes its log from a thread
    // of its own, after the reply, so a line may lag behind the call that
    // caused it. Gives up after five seconds and returns what is there.
    std::string logContaining(const std::string& text) const;
    // Ends the process; returns its exit status (or -1).
    int stop();

    static std::string fixture(const std::string& name);
    static std::string binary(const std::string& name);

    // Runs a program of the build tree to its end; returns the exit status
    // and what it wrote to stdout and stderr.
    static int run(const std::vector<std::string>& args, std::string& output);

private:
    pid_t pid_ = -1;
    unsigned port_ = 0;
    std::string error_;
    std::string logPath_;
};
