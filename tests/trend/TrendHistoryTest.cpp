#include "trend/TrendHistory.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

constexpr qint64 Chunk = TTrendHistory::ChunkBlocks;

TTrendBlock Block(qint64 timeMs, double value, int activeChannels = 1, bool over = false) {
    TTrendBlock block;
    block.TimeMs = timeMs;
    for (int c = 0; c < activeChannels; ++c) {
        block.Channels[c].Setup = {true, false, 1, "0.0000"};
        block.Channels[c].Value = value + c;
        block.Channels[c].OverRange = over;
    }
    return block;
}

// Independent figures: two passes in long double over the slice.
struct TPlain {
    long double Mean = 0, Var = 0, Min = INFINITY, Max = -INFINITY;
};
TPlain Plain(const std::vector<double>& v, size_t first, size_t end) {
    TPlain p;
    for (size_t i = first; i < end; ++i) {
        p.Mean += v[i];
        p.Min = std::min<long double>(p.Min, v[i]);
        p.Max = std::max<long double>(p.Max, v[i]);
    }
    p.Mean /= (end - first);
    for (size_t i = first; i < end; ++i)
        p.Var += (v[i] - p.Mean) * (v[i] - p.Mean);
    p.Var /= (end - first - 1);
    return p;
}

// A reading far from zero with a small spread: a sum-of-squares formula loses
// every digit of the deviation here.
double Reading(size_t i) {
    return 9876.5432 + 1e-4 * double((i * 7919) % 101) - 5e-3;
}

TEST(TrendHistory, StatisticsMatchAnIndependentComputation) {
    const size_t n = size_t(2 * Chunk + 1000);
    std::vector<double> values(n);
    TTrendHistory history;
    for (size_t i = 0; i < n; ++i) {
        values[i] = Reading(i);
        history.Append(Block(qint64(i) * 500, values[i]));
    }
    struct Case {
        qint64 First, End;
    };
    const Case cases[] = {
        {0, 1},     {0, 2},         {5, 133},       {0, 128},       {127, 129},       {128, 65536},
        {1, 65535}, {65000, 70000}, {3, qint64(n)}, {0, qint64(n)}, {131071, 131073}, {100, 2 * Chunk},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "[" << c.First << ", " << c.End << ")");
        const TTrendStats s = history.Stats(0, c.First, c.End);
        ASSERT_EQ(s.Count, c.End - c.First);
        const TPlain p = Plain(values, size_t(c.First), size_t(c.End));
        EXPECT_NEAR(s.Mean, double(p.Mean), 1e-9);
        EXPECT_EQ(s.Min, double(p.Min));
        EXPECT_EQ(s.Max, double(p.Max));
        if (s.Count > 1) {
            EXPECT_NEAR(s.StdDev(), std::sqrt(double(p.Var)), 1e-9);
        }
        EXPECT_EQ(history.Last(0, c.First, c.End), values[size_t(c.End - 1)]);
    }
}

// A single block's excursion must reach the drawing whatever the zoom: every
// span of the pyramid and every column width keeps it.
TEST(TrendHistory, SingleBlockSpikeKeptAtEveryLevel) {
    const qint64 n = Chunk + 5000;
    const qint64 spikes[] = {0, 1, 127, 128, 4095, 65535, 65536, n - 1};
    for (qint64 spike : spikes) {
        SCOPED_TRACE(spike);
        TTrendHistory history;
        for (qint64 i = 0; i < n; ++i)
            history.Append(Block(i * 500, i == spike ? 50.0 : 1.0, 1, i == spike));
        for (qint64 span = 1; span <= 2 * Chunk; span *= 2) {
            const qint64 first = spike / span * span;
            const TTrendStats column = history.Envelope(0, first, first + span);
            EXPECT_EQ(column.Max, 50.0) << "span " << span;
            const bool alone = std::min(first + span, n) - first == 1;
            EXPECT_EQ(column.Min, alone ? 50.0 : 1.0) << "span " << span;
            EXPECT_EQ(column.Over, 1) << "span " << span;
        }
        // Unaligned columns as a 1920-px drawing cuts them, zoomed fully out.
        const double perColumn = double(n) / 1920;
        int hits = 0;
        for (int x = 0; x < 1920; ++x)
            hits += history.Envelope(0, qint64(x * perColumn), qint64((x + 1) * perColumn)).Max == 50.0;
        EXPECT_GE(hits, 1);
        EXPECT_LE(hits, 2);
    }
}

TEST(TrendHistory, RunsAndSetupChangesStartSegments) {
    TTrendHistory history;
    history.Append(Block(1000, 1.0));
    history.Append(Block(1500, 1.0));
    TTrendBlock ranged = Block(2000, 1.0);
    ranged.Channels[0].Setup.Range = 2; // a range change inside the run
    history.Append(ranged);
    history.BeginRun(); // a stop and a new start
    history.Append(Block(9000, 2.0));
    history.BeginRun(); // a run that ended before its first block
    history.BeginRun();
    history.Append(Block(9500, 3.0));
    TTrendBlock numbered = Block(9600, 3.0);
    numbered.RunBlock = 7;
    history.Append(numbered); // numbered blocks: the number alone tells a new run
    numbered.RunBlock = 1;
    history.Append(numbered);

    struct Expect {
        qint64 First, Run;
        bool RunStart;
    };
    const Expect expected[] = {{0, 1, true}, {2, 1, false}, {3, 2, true}, {4, 3, true}, {6, 4, true}};
    ASSERT_EQ(history.Segments().size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(history.Segments()[i].First, expected[i].First);
        EXPECT_EQ(history.Segments()[i].Run, expected[i].Run);
        EXPECT_EQ(history.Segments()[i].RunStart, expected[i].RunStart);
    }
    EXPECT_EQ(history.RunStartOf(2), 0);
    EXPECT_EQ(history.RunStartOf(3), 3);
    EXPECT_EQ(history.SegmentAt(2).Setup[0].Range, 2);
    EXPECT_EQ(history.SegmentEnd(1), 3);
}

TEST(TrendHistory, InactiveChannelsAndTimeOrder) {
    TTrendHistory history;
    history.Append(Block(1000, 1.0, 2));
    history.Append(Block(2000, 2.0, 1)); // channel 2 off
    history.Append(Block(1500, 3.0, 2)); // clock set back
    history.Append(Block(4000, NAN, 1)); // a value that is no number
    EXPECT_TRUE(std::isnan(history.ValueAt(1, 1)));
    EXPECT_EQ(history.Stats(1, 0, 4).Count, 2);
    EXPECT_EQ(history.Stats(0, 0, 4).Count, 3);
    EXPECT_EQ(history.Last(0, 0, 4), 3.0);
    EXPECT_EQ(history.Last(1, 0, 2), 2.0); // channel 2 is value + 1
    EXPECT_EQ(history.TimeAt(2), 2000);
    struct Case {
        qint64 Time, Block;
    };
    for (const Case& c :
         {Case{0, 0}, Case{1000, 0}, Case{1001, 1}, Case{2000, 1}, Case{2001, 3}, Case{4001, 4}})
        EXPECT_EQ(history.LowerBound(c.Time), c.Block) << c.Time;
}

// The oldest chunk goes when the bound is reached; what stays keeps its figures,
// and seven days at 0.5 s for 16 channels stay below 200 MB.
TEST(TrendHistory, MemoryBounded) {
    TTrendHistory history(3);
    const qint64 n = 4 * Chunk + 10;
    for (qint64 i = 0; i < n; ++i)
        history.Append(Block(i * 500, double(i), 16, i % 1000 == 0));
    EXPECT_EQ(history.FirstBlock(), 2 * Chunk);
    EXPECT_EQ(history.EndBlock(), n);
    const TTrendStats s = history.Stats(0, 0, n);
    EXPECT_EQ(s.Count, 2 * Chunk + 10);
    EXPECT_EQ(s.Min, double(2 * Chunk));
    EXPECT_EQ(s.Over, (n - 1) / 1000 - (2 * Chunk - 1) / 1000);
    EXPECT_EQ(history.TimeAt(2 * Chunk), 2 * Chunk * 500);
    EXPECT_EQ(history.Segments().front().First, 0); // its setup still holds
    EXPECT_EQ(history.SegmentAt(2 * Chunk).Run, 1);

    const size_t perChunk = history.MemoryBytes() / 3;
    const qint64 week = 7 * 24 * 3600 * 2;
    const TTrendHistory bounded;
    EXPECT_GE(19 * Chunk, week); // the default keeps a week
    EXPECT_LE(20 * perChunk, size_t(200) * 1000 * 1000);
    EXPECT_LE(bounded.MemoryBytes(), size_t(1000));
}

} // namespace
