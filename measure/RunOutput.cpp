#include "measure/RunOutput.h"

TRunOutput::TRunOutput(TRecordSink& sink, TStoreOutput& store, TOutputFormat format, QByteArray header)
    : Sink(sink), Store(store), Format(format), Header(std::move(header)) {}

TRunOutput::TResult TRunOutput::Write(const std::vector<TRecordColumn>& columns, const TBlockValues& values,
                                      const TPointIdentity& identity) {
    const QByteArray point =
        Store.Active() ? BlockLine(TOutputFormat::Influx, columns, values, identity) : "";
    const QByteArray line = BlockLine(Format, columns, values, identity);
    // One lock for both: the spool and the file keep the same order.
    std::lock_guard lock(Mutex);
    if (State != TResult::Written)
        return State;
    QString error;
    if (Store.Active() && !Store.Write(point, error)) {
        FirstError = error;
        return State = TResult::Failed;
    }
    if (!Sink.Write(Header + line, error)) {
        // A reader that goes away on purpose (| head) ends the run without
        // a failure; with a file the lines go on to it.
        if (!Sink.ReaderGone()) {
            FirstError = error;
            return State = TResult::Failed;
        }
        Sink.StopStdout();
        if (!Sink.HasFile())
            return State = TResult::Stop;
    }
    Header.clear();
    return TResult::Written;
}

QString TRunOutput::Error() const {
    std::lock_guard lock(Mutex);
    return FirstError;
}
