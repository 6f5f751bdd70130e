#include "EmulatorSpawn.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

pid_t SpawnProgram(const std::vector<std::string>& args, int outFd, int errFd) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(outFd, 1);
        dup2(errFd, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

SpawnedEmulator SpawnEmulator(std::vector<std::string> args, int logFd, int timeoutMs) {
    SpawnedEmulator result;
    args.insert(args.begin() + 1, {"--listen", "127.0.0.1:0"});
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return result;
    result.Pid = SpawnProgram(args, out[1], logFd);
    close(out[1]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const std::string prefix = "listening on 127.0.0.1:";
    pollfd p{out[0], POLLIN, 0};
    while (result.Pid > 0 && result.Printed.find('\n') == std::string::npos) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                .count();
        const int ready = left > 0 ? poll(&p, 1, int(left)) : 0;
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        char buf[256];
        const ssize_t n = read(out[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        result.Printed.append(buf, size_t(n));
    }
    close(out[0]);
    if (result.Printed.rfind(prefix, 0) == 0)
        result.Port = unsigned(std::strtoul(result.Printed.c_str() + prefix.size(), nullptr, 10));
    if (result.Port == 0)
        EndProcess(result.Pid, SIGKILL);
    return result;
}

int EndProcess(pid_t& pid, int signal) {
    if (pid <= 0)
        return -1;
    kill(pid, signal);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    pid = -1;
    return status;
}
