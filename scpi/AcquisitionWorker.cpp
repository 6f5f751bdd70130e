#include "scpi/AcquisitionWorker.h"

#include "discovery/DetectionTables.h"

#include <QElapsedTimer>
#include <QSocketNotifier>

#include <cstdio>
#include <memory>

#include <sys/eventfd.h>
#include <unistd.h>

namespace {

class TServerCycle final : public TMeasurementCycle {
public:
    using TMeasurementCycle::TMeasurementCycle;
    void Report(const QString& text) override {
        if (MessageShown.exchange(true))
            return;
        Failure = text;
    }
    QString Failure;
};

} // namespace

TScpiBlock TakeScpiBlock(const TBlockReading& reading) {
    TScpiBlock block;
    for (int c = 0; c < 16; ++c) {
        const TChannelEntry& entry = reading.Channels[size_t(c)];
        if (!entry.Active || entry.Range < 0)
            continue;
        block.Channels |= 1u << c;
        block.Values[c] = entry.Quantity == TQuantity::Resistance ? entry.Value : entry.Value / 1000.0;
        block.OverRange[c] = entry.OverRange;
    }
    return block;
}

TAcquisitionWorker::TAcquisitionWorker(TDeviceState& device, TBlockCallback onBlock,
                                       TFailureCallback onFailure)
    : Device(device), OnBlock(std::move(onBlock)), OnFailure(std::move(onFailure)),
      WakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (WakeFd >= 0) {
        Notifier = new QSocketNotifier(qintptr(WakeFd), QSocketNotifier::Read);
        QObject::connect(Notifier, &QSocketNotifier::activated, Notifier, [this] { Deliver(); });
    }
}

TAcquisitionWorker::~TAcquisitionWorker() {
    Quit();
    delete Notifier;
    if (WakeFd >= 0)
        ::close(WakeFd);
}

void TAcquisitionWorker::Post(TEvent event) {
    {
        std::lock_guard<std::mutex> guard(Lock);
        Events.push_back(std::move(event));
    }
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(WakeFd, &one, sizeof one);
}

void TAcquisitionWorker::Deliver() {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = ::read(WakeFd, &count, sizeof count);
    std::deque<TEvent> events;
    {
        std::lock_guard<std::mutex> guard(Lock);
        events.swap(Events);
    }
    for (const TEvent& e : events) {
        if (e.Failed)
            OnFailure(e.Text, e.Run);
        else
            OnBlock(e.Block, e.Run);
    }
}

void TAcquisitionWorker::Start(const TMeasurementConfig& config, long long run) {
    std::lock_guard<std::mutex> guard(Lock);
    WantedConfig = config;
    WantedRun = run;
    Wanted = true;
    if (Current)
        Current->Terminated = true;
    Wake.notify_one();
}

void TAcquisitionWorker::Stop() {
    std::lock_guard<std::mutex> guard(Lock);
    Wanted = false;
    if (Current)
        Current->Terminated = true;
}

void TAcquisitionWorker::Quit() {
    {
        std::lock_guard<std::mutex> guard(Lock);
        Quitting = true;
        Wanted = false;
        if (Current)
            Current->Terminated = true;
        Wake.notify_one();
    }
    wait();
}

void TAcquisitionWorker::run() {
    bool reopen = false;
    for (;;) {
        TMeasurementConfig config;
        long long run = 0;
        {
            std::unique_lock<std::mutex> guard(Lock);
            Wake.wait(guard, [this] { return Wanted || Quitting; });
            if (Quitting)
                return;
            config = WantedConfig;
            run = WantedRun;
            Wanted = false;
        }
        // A run that lost the module's link reopens it first, as the window
        // does on its next start.
        if (reopen) {
            CloseModuleIfOpen(Device);
            if (!OpenChosenModule(Device)) {
                Post({run, true, {}, "the module does not answer"});
                continue;
            }
            UseModuleCoefficients(Device.ModuleControl, config.Settings.LoadedCoefs);
        }
        TServerCycle cycle(&Device.ModuleControl);
        {
            std::lock_guard<std::mutex> guard(Lock);
            if (Quitting || Wanted) // stopped or replaced before it began
                continue;
            Current = &cycle;
        }
        if (StartRun(cycle, config)) {
            QElapsedTimer clock;
            clock.start();
            bool first = true;
            while (!cycle.Stopping() && MeasureBlock(cycle, config.Channels.Active)) {
                TScpiBlock block = TakeScpiBlock(cycle.Reading);
                block.Period = first ? 0.0 : double(clock.nsecsElapsed()) / 1e9;
                clock.restart();
                first = false;
                Post({run, false, block, {}});
            }
        }
        EndRun(cycle);
        cycle.FreeBuffers();
        {
            std::lock_guard<std::mutex> guard(Lock);
            Current = nullptr;
        }
        reopen = cycle.LinkLost;
        if (cycle.MessageShown) {
            // The engine's texts are the window's (Russian); clients get
            // ASCII in the error queue, the whole text goes to the log.
            std::fprintf(stderr, "km808-scpi: %s\n", cycle.Failure.toUtf8().constData());
            Post({run, true, {}, "the measurement failed (see the server's log)"});
        }
    }
}
