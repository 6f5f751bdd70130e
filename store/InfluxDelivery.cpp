#include "store/InfluxDelivery.h"

#include "store/Gzip.h"

#include <algorithm>

using Clock = std::chrono::steady_clock;

TInfluxDelivery::TInfluxDelivery(TSpool& spool, TInfluxTarget target, TMessage message)
    : Spool(spool), Target(std::move(target)), Message(std::move(message)) {}

TInfluxDelivery::~TInfluxDelivery() {
    Finish(0);
}

void TInfluxDelivery::Start() {
    Thread = std::thread([this] { Run(); });
}

void TInfluxDelivery::Notify() {
    Wake.notify_one();
}

bool TInfluxDelivery::Finish(int waitMs) {
    if (Thread.joinable()) {
        {
            std::lock_guard lock(Mutex);
            Finishing = true;
            FinishBy = Clock::now() + std::chrono::milliseconds(waitMs);
        }
        Wake.notify_one();
        Thread.join();
    }
    return Spool.PendingBytes() == 0;
}

TInfluxDelivery::TSent TInfluxDelivery::Send(const QByteArray& lines, QString& why) {
    const QByteArray target = InfluxWriteTarget(Target);
    THttpAnswer answer = PostHttp(Target.Url, target, InfluxWriteHeaders(Target, Gzip),
                                  Gzip ? GzipBytes(lines) : lines, Target.TimeoutMs);
    if (Gzip && (answer.Status == 400 || answer.Status == 415)) {
        // A store without gzip: the same batch plain; if that is taken, plain from now on.
        const THttpAnswer plain =
            PostHttp(Target.Url, target, InfluxWriteHeaders(Target, false), lines, Target.TimeoutMs);
        if (plain.Status / 100 == 2) {
            Gzip = false;
            Message(QStringLiteral("store %1 does not take gzip; sending plain").arg(Target.UrlText));
        }
        answer = plain;
    }
    if (answer.Status / 100 == 2)
        return TSent::Taken;
    why = answer.Status == 0 ? answer.Error
                             : QStringLiteral("the store answered %1 %2")
                                   .arg(answer.Status)
                                   .arg(QString::fromUtf8(answer.Body).trimmed());
    // 400: the lines themselves are refused (a parse error or a field type
    // conflict); sending them again would block every later point.
    return answer.Status == 400 ? TSent::Refused : TSent::Failed;
}

void TInfluxDelivery::Run() {
    bool failing = false;
    int pauseMs = 250;
    for (;;) {
        {
            std::unique_lock lock(Mutex);
            // A batch waits for its size or its latency, whichever comes first.
            const Clock::time_point until = Clock::now() + std::chrono::milliseconds(Target.LatencyMs);
            Wake.wait_until(lock, until, [&] {
                return Finishing || (!failing && Spool.PendingBytes() >= Target.BatchBytes);
            });
            if (Finishing && (Clock::now() >= FinishBy || Spool.PendingBytes() == 0))
                return;
        }
        for (;;) {
            const TSpool::TBatch batch = Spool.Peek(Target.BatchBytes);
            if (batch.Lines.isEmpty())
                break;
            QString why;
            TSent sent = Send(batch.Lines, why);
            QString error;
            // A batch that cannot leave the spool (its cursor or the refused
            // file not written) waits like a failed one; the store keeps
            // what it took once.
            if ((sent == TSent::Refused && !Spool.SetAside(batch, error)) ||
                (sent == TSent::Taken && !Spool.Commit(batch, error))) {
                why = error;
                sent = TSent::Failed;
            }
            if (sent == TSent::Failed) {
                if (!failing)
                    Message(QStringLiteral("store %1: %2; points wait in the spool %3")
                                .arg(Target.UrlText, why, Spool.Directory()));
                failing = true;
                std::unique_lock lock(Mutex);
                Wake.wait_for(lock, std::chrono::milliseconds(pauseMs),
                              [&] { return Finishing && Clock::now() >= FinishBy; });
                pauseMs = std::min(pauseMs * 2, Target.RetryMaxMs);
                if (Finishing && Clock::now() >= FinishBy)
                    return;
                continue;
            }
            if (sent == TSent::Refused)
                Message(QStringLiteral("store %1: %2; the batch is kept in %3/rejected.lp")
                            .arg(Target.UrlText, why, Spool.Directory()));
            if (failing)
                Message(QStringLiteral("store %1: taking points again (%2 bytes still in the spool)")
                            .arg(Target.UrlText)
                            .arg(Spool.PendingBytes()));
            failing = false;
            pauseMs = 250;
            std::lock_guard lock(Mutex);
            if (Finishing && Clock::now() >= FinishBy)
                return;
            // Less than a batch is left: wait for more unless ending.
            if (!Finishing && Spool.PendingBytes() < Target.BatchBytes)
                break;
        }
    }
}
