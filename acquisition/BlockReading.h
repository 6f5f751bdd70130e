// One block's readings, as every consumer takes them: the window's value
// boxes, km808-measure's lines and summary, and whatever records or serves
// readings. The engine fills one per block (TMeasurementCycle::Reading); a
// consumer copies it on the thread that measures or in a synchronous step.
#pragma once

#include <QDateTime>
#include <QString>

#include <array>

enum class TQuantity { Voltage, Resistance };

struct TChannelEntry {
    // Measured in this block: set up for the run and active when the block
    // was read. A channel that is not still has the value its range shows.
    bool Active = false;
    TQuantity Quantity = TQuantity::Voltage;
    // Into ModuleTables::RangesU or RangesR; -1: the channel has no range,
    // so no value and no text.
    int Range = -1;
    double Value = 0.0; // millivolts or ohms
    // Value in the run's format for its range; empty when there is no range
    // or the value is not a finite number, so a text is always a number.
    QString Text;
    // Not a measurement: the input clipped, or the value at or beyond the
    // range's full scale (a value that is not finite included).
    bool OverRange = false;
    // The run ended on a failure after this block: the value is the last
    // good one, not a current one.
    bool Stale = false;

    const char* Unit() const { return Quantity == TQuantity::Resistance ? "Ohm" : "mV"; }
};

struct TBlockReading {
    long long Block = 0; // 1-based in the run; 0 before the first block
    QDateTime Time;      // UTC, when the values were ready
    double Period = 0.0; // seconds of signal one block covers, as planned for the module
    std::array<TChannelEntry, 16> Channels{};
};

// The one format rule: the index into the run's value formats (the settings'
// ValueFormats) for a quantity and range; -1 for a range outside 0..2.
int ValueFormatIndex(TQuantity quantity, int range);

// value as shown with format; empty for a value that is not a finite number.
QString ReadingText(const QString& format, double value);
