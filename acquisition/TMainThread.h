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

#include "dsp/WindowFunctions.h"

class TMainForm;
class TREALFFT;

class TMainThread : public QThread {
    Q_OBJECT
public:
    using TProcessing = std::function<void(TMainThread*)>;

    // Not started: the window starts it once it is stored.
    explicit TMainThread(TMainForm* form);
    ~TMainThread() override;

    // Stores the text and shows it through ShowWorkerMessage on the
    // user-interface thread (directly when already there).
    void Report(const QString& text);
    // User-interface thread: the first message of the worker's life opens the
    // worker message dialog; later ones are dropped.
    void ShowWorkerMessage();
    // Frees the buffers and the analyser; each only if present.
    void FreeBuffers();

    TMainForm* const Form;

    // ---- Control ---------------------------------------------------------
    std::atomic<bool> MessageShown{false};
    uint16_t ProcessingSlot = 0;
    QString MessageText;
    TProcessing Processing[1];
    // The termination request of StopThread; also the abort flag of the window
    // generators and the analyser.
    std::atomic<bool> Terminated{false};
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

    // ---- Measurement configuration ---------------------------------------
    int32_t ChannelQuantity[16] = {};
    int32_t ChannelRange[16] = {};
    int32_t CommonMeasuringMode = -1;
    int32_t CorrectionMode = 0;
    QString ComputationMethod;
    QString AmplitudeType;
    double AcquisitionTime = 1.0;
    uint32_t MinSamplesPerChannel[4] = {};

    // ---- Derived sizes -----------------------------------------------------
    double FrameRate = 0.0;
    uint32_t ResultChannelCount = 0;
    uint16_t ChannelPosition[16] = {};
    // The resistance range each channel entered into the channel table.
    int32_t ChannelRangeR[16] = {};
    uint32_t SamplesPerChannel = 0;
    uint32_t DataCount = 0;
    uint32_t RecvWordCount = 0;
    uint32_t RecvChunk = 0;

    // ---- Window and spectral path ------------------------------------------
    TWindowDescriptor WindowDescriptor; // WindowKind, WindowTermCount, WindowCoefs
    double WindowNorm = 0.0;
    double WindowMeanSquare = 0.0;
    std::unique_ptr<TREALFFT> Analyser;

    // ---- Buffers (absent outside a measurement) ------------------------------
    std::unique_ptr<uint32_t[]> RcvBuffer;
    std::unique_ptr<double[]> Data;
    std::unique_ptr<uint32_t[]> ChannelsStatus;
    std::unique_ptr<double[]> DataPerChannel;
    std::unique_ptr<double[]> Window;
    std::unique_ptr<double[]> FftAdcDataPerChannel;
    std::unique_ptr<double[]> AmplitudeSpectr;

    // ---- Per-channel results -------------------------------------------------
    double VoltageValues[16] = {};
    double ResistanceValues[16] = {};
    // The block's reading is not a measurement: a sample sat at the
    // converter's limit, or the value is at or beyond its range's limit.
    bool ChannelOverRange[16] = {};
    // A run that ended on a failure found the module no longer answering.
    bool LinkLost = false;

protected:
    void run() override;

private:
    void Execute();
};
