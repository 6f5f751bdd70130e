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
    // Removes a file this run created and never wrote a line to, so that the
    // same command can run again.
    ~TRecordSink();
    TRecordSink(const TRecordSink&) = delete;
    TRecordSink& operator=(const TRecordSink&) = delete;

    enum class TExisting { Refuse, Append, Replace };
    // Opens path. Empty path: standard output only. The error text when the
    // file cannot be used (Exists tells the caller that it is a usage error).
    // An existing file is left as it is until the first Write: a replaced
    // file is emptied, an appended file loses an unfinished last line.
    bool Open(const QString& path, TExisting existing, bool alsoStdout, QString& error, bool& exists);
    // True when the lines start a new file: a csv header belongs at its top.
    bool Empty() const { return FileSize == 0; }
    // An appended file's first line (without its end), for the caller's
    // check that the run's lines belong under it.
    QByteArray FirstLine() const { return ExistingFirstLine; }
    // Bytes of an unfinished last line the first Write cuts (appending).
    long long UnfinishedBytes() const { return DiskSize - FileSize; }
    // Writes and syncs one or more whole lines. The error text on failure.
    bool Write(const QByteArray& lines, QString& error);
    // After the reader of standard output went away, the lines go on to the
    // file only.
    void StopStdout() { ToStdout = false; }
    bool HasFile() const { return Fd >= 0; }
    // The last Write failed on standard output because its reader is gone.
    bool ReaderGone() const { return ReaderWentAway; }

private:
    int Fd = -1;
    bool ToStdout = true;
    bool Created = false;
    bool Written = false;
    bool ReaderWentAway = false;
    long long FileSize = 0; // up to the end of the last whole line
    long long DiskSize = 0;
    QByteArray ExistingFirstLine;
    QString Path;
};
