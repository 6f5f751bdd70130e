#include "scpi/AcquisitionWorker.h"

#include "device/DetectionTables.h"

#include <QElapsedTimer>

#include <cstdio>
#include <memory>

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

TAcquisitionWorker::TAcquisitionWorker(TDeviceState& device, QObject* context, TBlockCallback onBlock,
                                       TFailureCallback onFailure)
    : Device(device), Context(context), OnBlock(std::move(onBlock)), OnFailure(std::move(onFailure)) {}

TAcquisitionWorker::~TAcquisitionWorker() {
    Quit();
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
                const QByteArray text = "the module does not answer";
                QMetaObject::invokeMethod(
                    Context, [this, text, run] { OnFailure(text, run); }, Qt::QueuedConnection);
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
                QMetaObject::invokeMethod(
                    Context, [this, block, run] { OnBlock(block, run); }, Qt::QueuedConnection);
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
            const QByteArray text = "the measurement failed (see the server's log)";
            QMetaObject::invokeMethod(
                Context, [this, text, run] { OnFailure(text, run); }, Qt::QueuedConnection);
        }
    }
}
