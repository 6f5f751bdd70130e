#include "EmulatorProcess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

// The emulator is started with a plain fork and exec rather than QProcess:
// QProcess clones with a shared address space, which ThreadSanitizer cannot
// follow, and the tests run under it.

QString EmulatorProcess::BinaryPath(const QString& name) {
    QString dir = qEnvironmentVariable("KM808_BIN_DIR");
    if (dir.isEmpty())
        dir = QCoreApplication::applicationDirPath();
    return dir + "/" + name;
}

EmulatorProcess::EmulatorProcess(const QByteArray& configJson, bool verbose) {
    QStringList args{BinaryPath("qira-emulator"), "--listen", "127.0.0.1:0"};
    if (!configJson.isEmpty()) {
        const QString path = Dir.filePath("emulator.json");
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(configJson) != configJson.size()) {
            Error = "cannot write " + path;
            return;
        }
        f.close();
        args << "--config" << path;
    }
    if (verbose)
        args << "--verbose";

    LogPath = Dir.filePath("emulator.log");
    const int logFd =
        ::open(QFile::encodeName(LogPath).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    int out[2];
    if (logFd < 0 || pipe2(out, O_CLOEXEC) != 0) {
        Error = "cannot create the emulator's log or pipe";
        if (logFd >= 0)
            ::close(logFd);
        return;
    }
    std::vector<QByteArray> encoded;
    for (const QString& a : args)
        encoded.push_back(QFile::encodeName(a));
    std::vector<char*> argv;
    for (QByteArray& a : encoded)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    Pid = fork();
    if (Pid == 0) {
        dup2(out[1], 1);
        dup2(logFd, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    ::close(out[1]);
    ::close(logFd);
    if (Pid < 0) {
        ::close(out[0]);
        Error = "cannot start " + args.first();
        return;
    }

    QByteArray printed;
    const QDeadlineTimer deadline(10000);
    static const QRegularExpression ready(R"(listening on [0-9.]+:(\d+))");
    pollfd p{out[0], POLLIN, 0};
    while (!deadline.hasExpired() && poll(&p, 1, int(deadline.remainingTime())) > 0) {
        char buf[256];
        const ssize_t n = read(out[0], buf, sizeof buf);
        if (n <= 0)
            break;
        printed.append(buf, n);
        const auto m = ready.match(QString::fromUtf8(printed));
        if (m.hasMatch()) {
            Port = quint16(m.captured(1).toUInt());
            ::close(out[0]);
            qputenv("QIRA_SERVER", QByteArray("127.0.0.1:") + QByteArray::number(Port));
            return;
        }
    }
    ::close(out[0]);
    Error = "emulator did not get ready: " + QString::fromUtf8(printed) + Log();
    Kill();
}

EmulatorProcess::~EmulatorProcess() {
    Kill();
}

void EmulatorProcess::Kill() {
    if (Pid <= 0)
        return;
    ::kill(Pid, SIGKILL);
    int status = 0;
    waitpid(Pid, &status, 0);
    Pid = -1;
}

QString EmulatorProcess::Log() {
    QFile f(LogPath);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

QStringList EmulatorProcess::LogLines(const QString& call) {
    QStringList lines;
    for (const QString& line : Log().split('\n')) {
        const QStringList parts = line.split(' ', Qt::SkipEmptyParts);
        if (parts.size() > 1 && parts[1] == call)
            lines << line;
    }
    return lines;
}
