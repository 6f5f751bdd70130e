// What the trend keeps of one block: its time and each channel's value with
// the set-up it was measured in.
#pragma once

#include <QString>
#include <QtGlobal>

inline constexpr int TrendChannels = 16;

// How a channel measured: a change of any of these starts a new segment.
struct TTrendSetup {
    bool Active = false;
    bool Resistance = false; // ohms; otherwise millivolts
    int Range = -1;          // index into the quantity's range table
    QString Format;          // the display pattern ("0.0000")

    bool operator==(const TTrendSetup&) const = default;
};

struct TTrendChannel {
    TTrendSetup Setup;
    double Value = 0.0;
    bool OverRange = false;
};

struct TTrendBlock {
    qint64 TimeMs = 0; // UTC, milliseconds since the epoch
    // Counts from 1 in each run: a number not above the one before starts a
    // new run. 0: not known (only BeginRun starts one).
    qint64 RunBlock = 0;
    TTrendChannel Channels[TrendChannels];
};
