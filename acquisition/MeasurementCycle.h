// The measurement engine: module set-up from a configuration record, the
// buffers and the window, then one block at a time (chunked receive,
// conversion, reduction to one value per channel), then the stop. It knows no
// window: failures go to Report(), values stay in the cycle for its user to
// show or record. The window's acquisition worker and the command-line client
// are its two users. Qt Core only.
#pragma once

#include <QString>

#include <cstdint>

#include "acquisition/TMeasurementCycle.h"
#include "settings/MeasurementSettings.h"

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
