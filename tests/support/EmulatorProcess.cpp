#include "EmulatorProcess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>

QString EmulatorProcess::BinaryPath(const QString& name) {
    QString dir = qEnvironmentVariable("KM808_BIN_DIR");
    if (dir.isEmpty())
        dir = QCoreApplication::applicationDirPath();
    return dir + "/" + name;
}

EmulatorProcess::EmulatorProcess(const QByteArray& configJson, bool verbose) {
    QStringList args{"--listen", "127.0.0.1:0"};
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
    Process.setProgram(BinaryPath("qira-emulator"));
    Process.setArguments(args);
    Process.start();
    if (!Process.waitForStarted(5000)) {
        Error = "cannot start " + Process.program();
        return;
    }
    QByteArray out;
    const QDeadlineTimer deadline(10000);
    static const QRegularExpression ready(R"(listening on [0-9.]+:(\d+))");
    while (!deadline.hasExpired()) {
        Process.waitForReadyRead(100);
        out += Process.readAllStandardOutput();
        StdErr += Process.readAllStandardError();
        const auto m = ready.match(QString::fromUtf8(out));
        if (m.hasMatch()) {
            Port = quint16(m.captured(1).toUInt());
            qputenv("QIRA_SERVER", QByteArray("127.0.0.1:") + QByteArray::number(Port));
            return;
        }
        if (Process.state() == QProcess::NotRunning)
            break;
    }
    Error = "emulator did not get ready: " + QString::fromUtf8(out + StdErr);
}

EmulatorProcess::~EmulatorProcess() { Kill(); }

void EmulatorProcess::Kill() {
    if (Process.state() != QProcess::NotRunning) {
        Process.kill();
        Process.waitForFinished(3000);
    }
}

QString EmulatorProcess::Log() {
    StdErr += Process.readAllStandardError();
    return QString::fromUtf8(StdErr);
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
