// Starting test processes with a plain fork and exec rather than QProcess:
// QProcess clones with a shared address space, which ThreadSanitizer cannot
// follow, and the tests run under it. Plain C++, so the library tests built
// without Qt share it.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// args[0] is the program's path; its standard output and error go to the
// descriptors given. Returns the child's pid, or -1.
pid_t SpawnProgram(const std::vector<std::string>& args, int outFd, int errFd);

struct SpawnedEmulator {
    pid_t Pid = -1;
    unsigned Port = 0;   // 0: it did not get ready
    std::string Printed; // its standard output up to then
};

// Starts qira-emulator (args[0]; "--listen 127.0.0.1:0" is added) with its
// standard error to logFd and waits for "listening on HOST:PORT". One that
// does not get ready in time is killed.
SpawnedEmulator SpawnEmulator(std::vector<std::string> args, int logFd, int timeoutMs = 10000);

// Sends the signal, reaps the child and returns its wait status (-1 when
// there was none). Sets pid to -1.
int EndProcess(pid_t& pid, int signal);
