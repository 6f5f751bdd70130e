// Recording from the window: each block as km808-measure writes it (the same
// lines and the same sink: synced per block, whole lines only), into files
// named by the time they begin. A new file begins at midnight UTC, at the
// operator's size limit and when the measured channels change; beside each, a
// .json file tells what it came from. After a failed write recording stops.
// User-interface thread only.
#pragma once

#include "record/BlockRecord.h"

#include <QDateTime>
#include <QString>

#include <memory>
#include <vector>

class TRecordSink;
struct TBlockReading;

// What the blocks came from.
struct TRecordOrigin {
    QString Crate;
    int Slot = 0;
    QString Serial;
    double RateHz = 0.0;
    QString Correction;
    QString Program; // the window's caption: name and version
};

class TTrendRecorder {
public:
    TTrendRecorder();
    ~TTrendRecorder();

    // basePath: the operator's file; each file is named from it as
    // "<stem>-YYYYMMDDTHHMMSSZ.<suffix>". sizeLimit: bytes, 0 for none.
    void Start(TOutputFormat format, const QString& basePath, qint64 sizeLimit);
    void Stop();
    bool Recording() const { return Active; }

    // Writes the block; false when it failed: Error() says why, recording
    // has stopped. formats: the run's value formats.
    bool Take(const TBlockReading& reading, const QString formats[6], const TRecordOrigin& origin);

    QString FileName() const { return Path; }
    qint64 Blocks() const { return BlockCount; }
    qint64 Bytes() const { return ByteCount; }
    int Files() const { return FileCount; }
    QString Error() const { return LastError; }

    // The name of a file begun at time (UTC) from basePath.
    static QString FileNameFor(const QString& basePath, TOutputFormat format, const QDateTime& time);

private:
    bool Begin(const TBlockReading& reading, const std::vector<TRecordColumn>& columns,
               const TRecordOrigin& origin);
    bool Fail(const QString& text);

    bool Active = false;
    TOutputFormat Format = TOutputFormat::Csv;
    QString BasePath;
    qint64 SizeLimit = 0;
    std::unique_ptr<TRecordSink> Sink;
    std::vector<TRecordColumn> Columns;
    QDate FileDay;
    QString Path;
    qint64 BlockCount = 0;
    qint64 ByteCount = 0;
    int FileCount = 0;
    QString LastError;
};
