// Every block since the program started, in fixed chunks so that memory grows
// by steps and the oldest chunk can go when the bound is reached. Each chunk
// keeps, per channel, a pyramid of statistics over aligned spans of 128 to
// 65536 blocks: a range's envelope or statistics cost a few dozen merges
// whatever its length, and a single block's excursion is in every span's
// min/max. User-interface thread only.
#pragma once

#include "trend/TrendBlock.h"
#include "trend/TrendStats.h"

#include <QtGlobal>

#include <deque>
#include <memory>
#include <vector>

// Blocks with one set-up in one run. A run ends at a stop, a failure or a new
// detection; its blocks are never joined to another run's.
struct TTrendSegment {
    qint64 First = 0; // first block
    qint64 Run = 0;   // counts from 1
    bool RunStart = false;
    TTrendSetup Setup[TrendChannels];
};

class TTrendHistory {
public:
    static constexpr qint64 ChunkBlocks = 65536;
    // 20 chunks keep at least 19 whole ones: 1 245 184 blocks, 7 days at 0.5 s.
    explicit TTrendHistory(int maxChunks = 20);
    ~TTrendHistory();

    // The next block starts a new run.
    void BeginRun();
    // A time earlier than the newest block's (the clock was set back) is taken
    // as the newest's, so that the blocks stay in time order.
    void Append(const TTrendBlock& block);

    // Kept blocks are [FirstBlock(), EndBlock()); numbers count from 0 at start.
    qint64 FirstBlock() const { return Dropped * ChunkBlocks; }
    qint64 EndBlock() const { return End; }
    bool Empty() const { return End == FirstBlock(); }
    qint64 TimeAt(qint64 block) const;
    // NaN where the channel did not measure.
    double ValueAt(int ch, qint64 block) const;
    bool OverRangeAt(int ch, qint64 block) const;
    // The first kept block at or after timeMs (EndBlock() when none).
    qint64 LowerBound(qint64 timeMs) const;

    // Segments overlapping the kept blocks, oldest first; the first may start
    // before FirstBlock().
    const std::deque<TTrendSegment>& Segments() const { return SegmentList; }
    // The segment holding block.
    const TTrendSegment& SegmentAt(qint64 block) const;
    // End of the segment at index i of Segments().
    qint64 SegmentEnd(size_t i) const;
    // First block of the run holding block.
    qint64 RunStartOf(qint64 block) const;

    // Statistics of channel ch over blocks [first, end), clipped to the kept ones.
    TTrendStats Stats(int ch, qint64 first, qint64 end) const;
    // Stats over [first, end) with the bounds moved to the nearest 128-block
    // edge when the range holds at least two such spans: what a pixel column
    // needs, in a handful of merges, with every block's extreme kept.
    TTrendStats Envelope(int ch, qint64 first, qint64 end) const;
    // The newest measured value of ch in [first, end); NaN when none.
    double Last(int ch, qint64 first, qint64 end) const;

    // Bytes held, allocations included.
    size_t MemoryBytes() const;

private:
    struct TChunk;
    TChunk& ChunkOf(qint64 block) const;
    void AddRaw(TTrendStats& stats, int ch, qint64 first, qint64 end) const;

    int MaxChunks;
    qint64 Dropped = 0; // chunks dropped from the front
    qint64 End = 0;
    qint64 LastTime = 0;
    qint64 Runs = 0;
    qint64 LastRunBlock = 0;
    bool NewRun = true;
    std::deque<std::unique_ptr<TChunk>> Chunks;
    std::deque<TTrendSegment> SegmentList;
};
