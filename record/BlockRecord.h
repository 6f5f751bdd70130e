// The lines km808-measure and the window's recorder write: a header (csv), one line per block in csv,
// JSON Lines or the InfluxDB line protocol, and the run's summary.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <vector>

#include "acquisition/MeasurementCycle.h"
#include "record/OutputFormat.h"
#include "record/PointIdentity.h"

// One measured channel of the run.
struct TRecordColumn {
    int Channel = 0; // 0..15
    bool Resistance = false;
    QString Format; // the window's display pattern for the channel's range
    int Range = 0;  // into ModuleTables::RangesU or RangesR

    QString Name() const;    // "ch3"
    QString Unit() const;    // "mV" or "Ohm"
    QString Heading() const; // "ch3_mV"
};

// The block's values, as the window shows them, and which are over range.
struct TBlockValues {
    long long Block = 0;           // 1-based
    QDateTime Time;                // UTC, when the block's values were ready
    double Period = 0.0;           // seconds per block, as the run planned them
    std::vector<QString> Texts;    // empty: no number (null in JSON, left out in InfluxDB)
    std::vector<double> Values;    // the measured values, NaN where there is no text
    std::vector<int> OverChannels; // 1-based
};

// The name a range goes by in the lines and on the command line ("0.4V",
// "1200R").
QString RangeName(bool resistance, int index);

// The columns of the channels that measure in config, in channel order.
std::vector<TRecordColumn> RecordColumns(const TMeasurementConfig& config);

// The columns' values of one block's reading, with the texts the window shows.
TBlockValues TakeBlock(const TBlockReading& reading, const std::vector<TRecordColumn>& columns);

// The csv header line, or empty for the other formats. Lines end with "\n".
QByteArray HeaderLine(TOutputFormat format, const std::vector<TRecordColumn>& columns,
                      const TPointIdentity& identity);
// Line protocol: the identity as tags; per channel its value, its range
// ("chN_range") and an over-range flag (0 or 1, "chN_over"); time stamps in ns.
QByteArray BlockLine(TOutputFormat format, const std::vector<TRecordColumn>& columns,
                     const TBlockValues& values, const TPointIdentity& identity);

// Per-channel statistics of the run.
class TRunSummary {
public:
    explicit TRunSummary(std::vector<TRecordColumn> columns);
    void Add(const TBlockValues& values);
    // A table, one line per channel; "no block measured" when none was.
    QString Text() const;

private:
    struct Stats {
        long long Blocks = 0;
        long long Over = 0;
        double Mean = 0.0;
        double M2 = 0.0; // Welford's sum of squared deviations
        double Min = 0.0;
        double Max = 0.0;
        QString Last;
    };
    std::vector<TRecordColumn> Columns;
    std::vector<Stats> Channels;
};
