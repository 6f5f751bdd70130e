// What the measurement worker asks of its window, and all it may reach of it.
// Every step runs on the user-interface thread in a synchronous call
// (UiThread::Synchronize), in the order MeasurementBody gives, except
// WorkerFlags, ChannelActive and PostEnd, which the worker calls from its own
// thread.
#pragma once

#include "acquisition/BlockReading.h"
#include "ui/WorkerMessageDialog.h"

class QEvent;
class TMeasurementCycle;
struct TWorkerFlags;

class IMeasurementView {
public:
    virtual ~IMeasurementView() = default;

    virtual TWorkerFlags& WorkerFlags() = 0;
    // The channel's active state as the frames mirror it for other threads.
    virtual bool ChannelActive(int ch) const = 0;

    // The operator's choices into the cycle (ApplyConfiguration); the window
    // shows a running measurement. A report here ends the start.
    virtual void CaptureConfiguration(TMeasurementCycle& cycle) = 0;
    // The module set up with the channel table the window shows now
    // (SetUpModule), and the block plan shown. A report here ends the start.
    virtual void ConfigureModule(TMeasurementCycle& cycle) = 0;
    virtual void ShowChannelValues(const TBlockReading& reading) = 0;
    virtual void ShowFrameLeds(const TBlockReading& reading) = 0;
    // The idle look; the cycle's buffers freed; after a failure its marks.
    virtual void FinishMeasurement(TMeasurementCycle& cycle) = 0;
    // The worker message dialog, modal, with the window's handlers held off.
    virtual void ShowWorkerMessage(const WorkerMessageRequest& request, ButtonLayout layout) = 0;
    // The worker's last step: event goes to the window, whose handler then
    // runs the worker's end (the view owns event from here).
    virtual void PostEnd(QEvent* event) = 0;
};
