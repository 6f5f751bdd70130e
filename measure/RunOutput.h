// The run's outputs, shared by every module's thread: the store's spool and
// the local lines (a file and/or standard output) with their csv header.
// A block goes to the spool first: after a kill between the two the store
// has a block the file lacks, never the other way round.
#pragma once

#include <QByteArray>
#include <QString>

#include <mutex>
#include <vector>

#include "measure/StoreOutput.h"
#include "record/BlockRecord.h"
#include "record/RecordSink.h"

class TRunOutput {
public:
    // header: the csv header, written with the first block (empty for none).
    TRunOutput(TRecordSink& sink, TStoreOutput& store, TOutputFormat format, QByteArray header);

    enum class TResult { Written, Stop, Failed };
    // Stop: nothing takes the lines any more (standard output's reader went
    // away and there is no file). Failed: see Error(). Both hold for every
    // later call, from any thread.
    TResult Write(const std::vector<TRecordColumn>& columns, const TBlockValues& values,
                  const TPointIdentity& identity);
    QString Error() const;

private:
    mutable std::mutex Mutex;
    TRecordSink& Sink;
    TStoreOutput& Store;
    TOutputFormat Format;
    QByteArray Header;
    TResult State = TResult::Written;
    QString FirstError;
};
