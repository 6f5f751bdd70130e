#include "emulator_process.h"

#include "EmulatorSpawn.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

std::string EmulatorProcess::fixture(const std::string& name) {
    return std::string(QIRA_FIXTURE_DIR) + "/" + name;
}

std::string EmulatorProcess::binary(const std::string& name) {
    return std::string(QIRA_BIN_DIR) + "/" + name;
}

EmulatorProcess::EmulatorProcess(const std::string& config, std::vector<std::string> extra) {
    std::vector<std::string> args{binary("qira-emulator")};
    if (!config.empty())
        args.insert(args.end(),
                    {"--config", config.find('/') == std::string::npos ? fixture(config) : config});
    args.insert(args.end(), extra.begin(), extra.end());
    char logName[] = "/tmp/qira-emulator-log-XXXXXX";
    const int logFd = mkstemp(logName);
    logPath_ = logName;
    if (logFd < 0) {
        error_ = "cannot create the log file";
        return;
    }
    const SpawnedEmulator spawned = SpawnEmulator(args, logFd);
    close(logFd);
    pid_ = spawned.Pid;
    port_ = spawned.Port;
    if (port_ == 0) {
        error_ = "the emulator did not start: " + spawned.Printed + log();
        return;
    }
    select();
}

EmulatorProcess::~EmulatorProcess() {
    stop();
    if (!logPath_.empty())
        unlink(logPath_.c_str());
}

void EmulatorProcess::select() const {
    setenv("QIRA_SERVER", ("127.0.0.1:" + std::to_string(port_)).c_str(), 1);
}

std::string EmulatorProcess::log() const {
    std::ifstream in(logPath_);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string EmulatorProcess::logContaining(const std::string& text) const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    std::string s = log();
    while (s.find(text) == std::string::npos && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        s = log();
    }
    return s;
}

int EmulatorProcess::stop() {
    return EndProcess(pid_, SIGTERM);
}

int EmulatorProcess::run(const std::vector<std::string>& args, std::string& output) {
    char name[] = "/tmp/qira-run-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0)
        return -1;
    const pid_t pid = SpawnProgram(args, fd, fd);
    close(fd);
    int status = 0;
    waitpid(pid, &status, 0);
    std::ifstream in(name);
    std::ostringstream s;
    s << in.rdbuf();
    output = s.str();
    unlink(name);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
