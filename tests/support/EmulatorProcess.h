// Runs a qira-emulator process for one test on a free loopback port and points
// the crate and module libraries of this process at it (QIRA_SERVER).
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <sys/types.h>

class EmulatorProcess {
public:
    // configJson: the emulator's JSON set-up; empty for its built-in one.
    explicit EmulatorProcess(const QByteArray& configJson = {}, bool verbose = true);
    ~EmulatorProcess();
    EmulatorProcess(const EmulatorProcess&) = delete;
    EmulatorProcess& operator=(const EmulatorProcess&) = delete;

    bool Started() const { return Port != 0; }
    quint16 Port = 0;
    QString Error; // why it did not start

    // The --verbose log so far (standard error of the emulator).
    QString Log();
    QStringList LogLines(const QString& call); // lines whose call name is `call`
    void Kill();

    static QString BinaryPath(const QString& name); // a program of the build tree

private:
    QTemporaryDir Dir;
    pid_t Pid = -1;
    QString LogPath;
};
