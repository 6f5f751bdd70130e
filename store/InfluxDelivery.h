// Sends the spool's lines to an InfluxDB in batches, oldest first, on a
// thread of its own, so that a slow or absent store never holds up a
// measurement. A batch leaves the spool only after the store answered 2xx.
//
// No point is written twice: a batch whose answer was lost is sent again,
// and the store keeps one point per series and time stamp, the later write
// replacing the earlier with the same values.
#pragma once

#include "store/InfluxTarget.h"
#include "store/Spool.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class TInfluxDelivery {
public:
    using TMessage = std::function<void(const QString&)>;
    // message: called on the delivery thread, once when the store starts
    // failing, once when it takes points again, and for refused lines.
    TInfluxDelivery(TSpool& spool, TInfluxTarget target, TMessage message);
    ~TInfluxDelivery();
    TInfluxDelivery(const TInfluxDelivery&) = delete;
    TInfluxDelivery& operator=(const TInfluxDelivery&) = delete;

    void Start();
    // New lines are in the spool.
    void Notify();
    // Sends for at most waitMs (plus one request's time out) or until the
    // spool is empty, then ends the thread. True when nothing is left.
    bool Finish(int waitMs);

private:
    void Run();
    enum class TSent { Taken, Refused, Failed };
    TSent Send(const QByteArray& lines, QString& why);

    TSpool& Spool;
    TInfluxTarget Target;
    TMessage Message;
    bool Gzip = true;
    std::thread Thread;
    std::mutex Mutex;
    std::condition_variable Wake;
    bool Finishing = false;
    std::chrono::steady_clock::time_point FinishBy;
};
