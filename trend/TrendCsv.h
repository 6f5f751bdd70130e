// A range of the history as csv: one line per block, for the chosen channels
// a value (in the channel's display precision), its unit and an over-range mark.
#pragma once

#include <QtGlobal>

class QIODevice;
class TTrendHistory;

// Blocks [first, end); false when a write failed.
bool WriteTrendCsv(const TTrendHistory& history, qint64 first, qint64 end, const bool channels[16],
                   QIODevice& out);
