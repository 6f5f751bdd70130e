// The acquisition thread: the one owner of the engine and of the module
// between the server's start and its end. Runs are free running; each block's
// readings and a run's failure go to the event loop's thread through the
// callbacks: queued under the thread's own mutex, with an eventfd to wake the
// loop (so the hand-over is one a thread checker sees).
#pragma once

#include <QByteArray>
#include <QObject>
#include <QThread>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "device/DeviceState.h"
#include "scpi/ScpiInstrument.h"

// A block's readings as clients get them: volts or ohms per measured channel.
TScpiBlock TakeScpiBlock(const TBlockReading& reading);

class QSocketNotifier;

class TAcquisitionWorker final : public QThread, public TScpiAcquisition {
public:
    using TBlockCallback = std::function<void(const TScpiBlock&, long long run)>;
    using TFailureCallback = std::function<void(const QByteArray&, long long run)>;

    // device: its chosen module is open; it stays this thread's until Quit.
    // The callbacks run on the thread that makes the worker.
    TAcquisitionWorker(TDeviceState& device, TBlockCallback onBlock, TFailureCallback onFailure);
    ~TAcquisitionWorker() override;

    // False when the wake-up could not be made (no file descriptor left).
    bool Usable() const { return Notifier != nullptr; }
    void Start(const TMeasurementConfig& config, long long run) override;
    void Stop() override;
    // Ends a run (the module stopped) and the thread; returns once it ended.
    void Quit();

protected:
    void run() override;

private:
    struct TEvent {
        long long Run = 0;
        bool Failed = false;
        TScpiBlock Block;
        QByteArray Text;
    };
    void Post(TEvent event);
    void Deliver();

    TDeviceState& Device;
    const TBlockCallback OnBlock;
    const TFailureCallback OnFailure;

    std::mutex Lock;
    std::condition_variable Wake;
    bool Wanted = false;
    bool Quitting = false;
    TMeasurementConfig WantedConfig;
    long long WantedRun = 0;
    TMeasurementCycle* Current = nullptr; // the running cycle, under Lock
    std::deque<TEvent> Events;            // under Lock
    int WakeFd = -1;
    QSocketNotifier* Notifier = nullptr;
};
