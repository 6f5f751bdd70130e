// The acquisition worker: one measurement run on a thread of its own. Window
// changes, module set-up and messages go to the user-interface thread by
// synchronous calls; the main window destroys the worker (StopThread).
#pragma once

#include <QEvent>
#include <QString>
#include <QThread>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "acquisition/MeasurementCycle.h"

class IMeasurementView;

// The measurement itself (configuration, buffers, values, the stop request
// Terminated and MessageShown) is the engine's cycle; the thread adds the
// window's steps around it.
class TMainThread : public QThread, public TMeasurementCycle {
    Q_OBJECT
public:
    using TProcessing = std::function<void(TMainThread*)>;

    // Not started: the window starts it once it is stored. module: the
    // window's open module.
    TMainThread(IMeasurementView* view, KM808_CONTROL* module);
    ~TMainThread() override;

    // Stores the text and shows it through ShowWorkerMessage on the
    // user-interface thread (directly when already there).
    void Report(const QString& text) override;
    // User-interface thread: the first message of the worker's life opens the
    // worker message dialog; later ones are dropped.
    void ShowWorkerMessage();

    IMeasurementView* const View;

    // ---- Control (the engine's stop flags are inherited) -------------------
    uint16_t ProcessingSlot = 0;
    QString MessageText;
    TProcessing Processing[1];
    // Set as the last step of the thread, after the termination handler has
    // been posted; the window reads it before destroying the worker, which
    // orders every access of the thread before the destruction.
    std::atomic<bool> Ended{false};
    // Posted to the window as the thread's last step; the window then runs
    // OnMainThreadTerminate. Made on the user-interface thread with the worker,
    // so the event the window reads holds nothing this thread wrote.
    static constexpr QEvent::Type EndEvent = QEvent::Type(1126);
    std::unique_ptr<QEvent> PendingEndEvent;
    // The main page control's active page when the worker was created; the
    // preparation must not read the control from this thread.
    int StartPageIndex = 0;

protected:
    void run() override;

private:
    void Execute();
};

// The measurement run (app/MeasurementBody.cpp): start (configuration,
// module set-up, buffers, window), one block per pass of the loop, stop. The
// window is reached only through the worker's view.
// The worker's processing function.
void MeasurementBody(TMainThread* worker);

// Worker: configuration and module set-up on the user-interface thread, then
// the buffers and the window. Any report ends the start.
void StartMeasurement(TMainThread* worker);
