// Where the lines go: standard output and/or a file whose every completed
// line is on disk before the next block starts. A line is written whole or
// not at all: after a failed write the file is cut back to its last whole
// line, so a full disk or a kill never leaves half a line behind.
#pragma once

#include <QByteArray>
#include <QString>

class TRecordSink {
public:
    TRecordSink() = default;
    ~TRecordSink();
    TRecordSink(const TRecordSink&) = delete;
    TRecordSink& operator=(const TRecordSink&) = delete;

    enum class TExisting { Refuse, Append, Replace };
    // Opens path. Empty path: standard output only. The error text when the
    // file cannot be used (Exists tells the caller that it is a usage error).
    bool Open(const QString& path, TExisting existing, bool alsoStdout, QString& error, bool& exists);
    // True when the file is new or empty: a csv header belongs at its top.
    bool Empty() const { return FileSize == 0; }
    // Writes and syncs one or more whole lines. The error text on failure.
    bool Write(const QByteArray& lines, QString& error);

private:
    int Fd = -1;
    bool ToStdout = true;
    long long FileSize = 0;
    QString Path;
};
