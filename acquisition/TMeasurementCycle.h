// The engine's record of one run: its configuration, the sizes the set-up
// planned, the buffers and window of a block, the block's values and the
// reading made of them. The engine's steps (acquisition/MeasurementCycle.h,
// FrameCycle.h, ChannelReduction.h) read and fill it; its user supplies
// Report. Qt Core only.
#pragma once

#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>

#include "acquisition/BlockReading.h"
#include "dsp/WindowFunctions.h"
#include "km808api.h"

class TREALFFT;

// ChannelPosition of a channel that took no part in the module set-up.
inline constexpr uint16_t NoChannelPosition = 65535;

class TMeasurementCycle {
public:
    explicit TMeasurementCycle(KM808_CONTROL* module);
    virtual ~TMeasurementCycle();
    TMeasurementCycle(const TMeasurementCycle&) = delete;
    TMeasurementCycle& operator=(const TMeasurementCycle&) = delete;

    // A failure's text. After the first one the cycle stops: the user sets
    // MessageShown (at once or once the text is shown).
    virtual void Report(const QString& text) = 0;

    bool Stopping() const { return Terminated || MessageShown; }
    // Frees the buffers and the analyser; each only if present.
    void FreeBuffers();

    KM808_CONTROL* const Module;

    // ---- Control ---------------------------------------------------------
    std::atomic<bool> MessageShown{false};
    // The stop request; also the abort flag of the window generators and the
    // analyser.
    std::atomic<bool> Terminated{false};

    // ---- Measurement configuration ---------------------------------------
    int32_t ChannelQuantity[16] = {};
    int32_t ChannelRange[16] = {};
    int32_t CommonMeasuringMode = -1;
    int32_t CorrectionMode = 0;
    // The run's value formats, one per range (TMeasurementSettings::ValueFormats).
    QString ValueFormats[6];
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
    // The last block's readings; Block counts the run's blocks.
    TBlockReading Reading;
};
