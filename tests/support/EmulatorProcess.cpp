#include "EmulatorProcess.h"

#include "EmulatorSpawn.h"

#include <QCoreApplication>
#include <QFile>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

QString EmulatorProcess::BinaryPath(const QString& name) {
    QString dir = qEnvironmentVariable("KM808_BIN_DIR");
    if (dir.isEmpty())
        dir = QCoreApplication::applicationDirPath();
    return dir + "/" + name;
}

EmulatorProcess::EmulatorProcess(const QByteArray& configJson, bool verbose) {
    std::vector<std::string> args{QFile::encodeName(BinaryPath("qira-emulator")).toStdString()};
    if (!configJson.isEmpty()) {
        const QString path = Dir.filePath("emulator.json");
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(configJson) != configJson.size()) {
            Error = "cannot write " + path;
            return;
        }
        f.close();
        args.insert(args.end(), {"--config", QFile::encodeName(path).toStdString()});
    }
    if (verbose)
        args.push_back("--verbose");

    LogPath = Dir.filePath("emulator.log");
    const int logFd =
        ::open(QFile::encodeName(LogPath).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (logFd < 0) {
        Error = "cannot create the emulator's log";
        return;
    }
    const SpawnedEmulator spawned = SpawnEmulator(args, logFd);
    ::close(logFd);
    Pid = spawned.Pid;
    Port = quint16(spawned.Port);
    if (Port == 0) {
        Error = "emulator did not get ready: " + QString::fromStdString(spawned.Printed) + Log();
        return;
    }
    qputenv("QIRA_SERVER", QByteArray("127.0.0.1:") + QByteArray::number(Port));
}

EmulatorProcess::~EmulatorProcess() {
    Kill();
}

void EmulatorProcess::Kill() {
    EndProcess(Pid, SIGKILL);
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
