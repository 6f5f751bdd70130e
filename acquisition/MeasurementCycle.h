// The measurement engine: module set-up from a configuration record, the
// buffers and the window, then one block at a time (chunked receive,
// conversion, reduction to one value per channel), then the stop. It knows no
// window: failures go to Report(), values stay in the cycle for its user to
// show or record. The window's acquisition worker and the command-line client
// are its two users. Qt Core only.
#pragma once

#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>

#include "acquisition/BlockReading.h"
#include "dsp/WindowFunctions.h"
#include "km808api.h"
#include "settings/MeasurementSettings.h"

class TREALFFT;

// ChannelPosition of a channel that took no part in the module set-up.
inline constexpr uint16_t NoChannelPosition = 65535;

// The operator's choice of channels and rate as the module set-up reads it.
struct TChannelChoice {
    // 0: every channel measures voltage; 1: channels 1-8 measure resistance.
    int32_t CommonMode = 0;
    bool Active[16] = {};
    // Indexes into ModuleTables::RangesU / RangesR; -1 when none is chosen.
    int32_t RangeU[16] = {};
    int32_t RangeR[16] = {};
    // Index into ModuleTables::AdcDividers; -1 when none is chosen.
    int32_t RateIndex = -1;
};

// Everything one run is made from.
struct TMeasurementConfig {
    TChannelChoice Channels;
    // What each channel's value is: 0 volts, 1 ohms.
    int32_t ChannelQuantity[16] = {};
    // 0: the module's calibration at set-up only; 1: with every block.
    int32_t CorrectionMode = 0;
    TMeasurementSettings Settings;
};

// One channel's value of the last block as it is shown.
struct TChannelReading {
    bool Shown = false; // the channel measured and its range has a format
    bool Resistance = false;
    double Value = 0.0;  // millivolts or ohms
    int FormatIndex = 0; // into TMeasurementSettings::ValueFormats
    bool OverRange = false;
};

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

// The run's fixed part of config: quantities, ranges, modes and the
// computation settings (a copy, so a later load does not change the run).
void ApplyConfiguration(TMeasurementCycle& cycle, const TMeasurementConfig& config);

// The module set-up: stops a running module, enters the channel table, sets
// the converter, calibrates and plans the block. False after a report.
bool SetUpModule(TMeasurementCycle& cycle, const TChannelChoice& choice);

// Buffers and window for the planned block. False after a report or a stop.
bool PrepareBuffers(TMeasurementCycle& cycle);

// The three steps together, as a client without a window starts a run.
bool StartRun(TMeasurementCycle& cycle, const TMeasurementConfig& config);

// One block: receive, convert and reduce the channels of active (read once)
// that took part in the set-up, then Reading. False when the run must end (a
// report or a stop); the values are then not a block's, and after a report
// Reading's entries are marked stale.
bool MeasureBlock(TMeasurementCycle& cycle, const bool active[16]);

// The end of a run: stops a module left running; after a failure, asks the
// module once whether its link still answers (LinkLost).
void EndRun(TMeasurementCycle& cycle);

// Channel c's value of the last block in the unit and format it is shown in.
TChannelReading ChannelReading(const TMeasurementCycle& cycle, int c);

// Seconds of signal one block covers, as the set-up planned it (slow rates
// and fft raise it above the acquisition time asked for).
double PlannedPeriod(const TMeasurementCycle& cycle);

// Reading from the cycle's values of the last block: the next block number,
// the time now and each channel's entry in the run's formats.
void RecordReading(TMeasurementCycle& cycle, const bool active[16]);
