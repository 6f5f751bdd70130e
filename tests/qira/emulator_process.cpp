#include "emulator_process.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

pid_t spawn(const std::vector<std::string>& args, int out, int err) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out, 1);
        dup2(err, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

} // namespace

std::string EmulatorProcess::fixture(const std::string& name) {
    return std::string(QIRA_FIXTURE_DIR) + "/" + name;
}

std::string EmulatorProcess::binary(const std::string& name) {
    return std::string(QIRA_BIN_DIR) + "/" + name;
}

EmulatorProcess::EmulatorProcess(const std::string& config, std::vector<std::string> extra) {
    std::vector<std::string> args{binary("qira-emulator"), "--listen", "127.0.0.1:0"};
    if (!config.empty())
        args.insert(args.end(),
                    {"--config", config.find('/') == std::string::npos ? fixture(config) : config});
    args.insert(args.end(), extra.begin(), extra.end());
    char logName[] = "/tmp/qira-emulator-log-XXXXXX";
    const int logFd = mkstemp(logName);
    logPath_ = logName;
    int pipeFds[2];
    if (logFd < 0 || pipe2(pipeFds, O_CLOEXEC) != 0) {
        error_ = "cannot create the log file or pipe";
        return;
    }
    pid_ = spawn(args, pipeFds[1], logFd);
    close(pipeFds[1]);
    close(logFd);
    // Wait for "listening on HOST:PORT".
    std::string line;
    pollfd p{pipeFds[0], POLLIN, 0};
    while (line.find('\n') == std::string::npos && poll(&p, 1, 10000) > 0) {
        char buf[256];
        const ssize_t n = read(pipeFds[0], buf, sizeof buf);
        if (n <= 0)
            break;
        line.append(buf, size_t(n));
    }
    close(pipeFds[0]);
    const std::string prefix = "listening on 127.0.0.1:";
    if (line.rfind(prefix, 0) != 0) {
        error_ = "the emulator did not start: " + log();
        stop();
        return;
    }
    port_ = unsigned(std::strtoul(line.c_str() + prefix.size(), nullptr, 10));
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

int EmulatorProcess::stop() {
    if (pid_ <= 0)
        return -1;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
}

int EmulatorProcess::run(const std::vector<std::string>& args, std::string& output) {
    char name[] = "/tmp/qira-run-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0)
        return -1;
    const pid_t pid = spawn(args, fd, fd);
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
