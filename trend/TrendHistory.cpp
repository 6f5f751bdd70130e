#include "trend/TrendHistory.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr int BaseShift = 7; // smallest span: 128 blocks
constexpr int Levels = 10;   // spans 128 .. 65536
constexpr qint64 BaseSpan = qint64(1) << BaseShift;

// Bucket offset of each level inside a chunk's pyramid, and their total.
constexpr int LevelOffset(int level) {
    int offset = 0;
    for (int l = 0; l < level; ++l)
        offset += int(TTrendHistory::ChunkBlocks >> (BaseShift + l));
    return offset;
}
constexpr int Buckets = LevelOffset(Levels);

// A pyramid bucket: TTrendStats with 32-bit counts (a chunk holds 65536 blocks).
struct TBucket {
    uint32_t Count = 0;
    uint32_t Over = 0;
    double Mean = 0.0;
    double M2 = 0.0;
    double Min = std::numeric_limits<double>::infinity();
    double Max = -std::numeric_limits<double>::infinity();

    void Add(double value, bool over) {
        Over += over ? 1 : 0;
        if (std::isnan(value))
            return;
        ++Count;
        const double delta = value - Mean;
        Mean += delta / Count;
        M2 += delta * (value - Mean);
        Min = std::min(Min, value);
        Max = std::max(Max, value);
    }
    TTrendStats Stats() const {
        TTrendStats s;
        s.Count = Count;
        s.Over = Over;
        s.Mean = Mean;
        s.M2 = M2;
        s.Min = Min;
        s.Max = Max;
        return s;
    }
};

} // namespace

struct TTrendHistory::TChunk {
    qint64 Times[ChunkBlocks];
    double Values[TrendChannels][ChunkBlocks];
    uint16_t OverMask[ChunkBlocks];
    TBucket Pyramid[TrendChannels][Buckets];
};

TTrendHistory::TTrendHistory(int maxChunks) : MaxChunks(std::max(2, maxChunks)) {}
TTrendHistory::~TTrendHistory() = default;

void TTrendHistory::BeginRun() {
    NewRun = true;
}

void TTrendHistory::Append(const TTrendBlock& block) {
    const qint64 pos = End % ChunkBlocks;
    if (pos == 0) {
        if (qint64(Chunks.size()) == MaxChunks) {
            Chunks.pop_front();
            ++Dropped;
            while (SegmentList.size() > 1 && SegmentList[1].First <= FirstBlock())
                SegmentList.pop_front();
        }
        // Unset memory: a chunk is filled block by block, so its pages are
        // touched only as the blocks come.
        Chunks.push_back(std::unique_ptr<TChunk>(new TChunk));
        for (auto& channel : Chunks.back()->Pyramid)
            std::fill(std::begin(channel), std::end(channel), TBucket{});
    }
    TChunk& chunk = *Chunks.back();
    if (block.RunBlock > 0 && block.RunBlock <= LastRunBlock)
        NewRun = true;
    LastRunBlock = block.RunBlock;

    bool sameSetup = !NewRun && !SegmentList.empty();
    for (int c = 0; sameSetup && c < TrendChannels; ++c)
        sameSetup = SegmentList.back().Setup[c] == block.Channels[c].Setup;
    if (!sameSetup) {
        TTrendSegment segment;
        segment.First = End;
        segment.RunStart = NewRun || SegmentList.empty();
        if (segment.RunStart)
            ++Runs;
        segment.Run = Runs;
        for (int c = 0; c < TrendChannels; ++c)
            segment.Setup[c] = block.Channels[c].Setup;
        SegmentList.push_back(segment);
        NewRun = false;
    }

    LastTime = End == 0 ? block.TimeMs : std::max(LastTime, block.TimeMs);
    chunk.Times[pos] = LastTime;
    uint16_t mask = 0;
    for (int c = 0; c < TrendChannels; ++c) {
        const TTrendChannel& in = block.Channels[c];
        const double value =
            in.Setup.Active && std::isfinite(in.Value) ? in.Value : std::numeric_limits<double>::quiet_NaN();
        const bool over = in.Setup.Active && in.OverRange;
        chunk.Values[c][pos] = value;
        if (over)
            mask |= uint16_t(1u << c);
        for (int l = 0; l < Levels; ++l)
            chunk.Pyramid[c][LevelOffset(l) + int(pos >> (BaseShift + l))].Add(value, over);
    }
    chunk.OverMask[pos] = mask;
    ++End;
}

TTrendHistory::TChunk& TTrendHistory::ChunkOf(qint64 block) const {
    return *Chunks[size_t(block / ChunkBlocks - Dropped)];
}

qint64 TTrendHistory::TimeAt(qint64 block) const {
    return ChunkOf(block).Times[block % ChunkBlocks];
}

double TTrendHistory::ValueAt(int ch, qint64 block) const {
    return ChunkOf(block).Values[ch][block % ChunkBlocks];
}

bool TTrendHistory::OverRangeAt(int ch, qint64 block) const {
    return (ChunkOf(block).OverMask[block % ChunkBlocks] >> ch) & 1u;
}

qint64 TTrendHistory::LowerBound(qint64 timeMs) const {
    qint64 lo = FirstBlock(), hi = End;
    while (lo < hi) {
        const qint64 mid = lo + (hi - lo) / 2;
        if (TimeAt(mid) < timeMs)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

const TTrendSegment& TTrendHistory::SegmentAt(qint64 block) const {
    auto it = std::upper_bound(SegmentList.begin(), SegmentList.end(), block,
                               [](qint64 b, const TTrendSegment& s) { return b < s.First; });
    return it == SegmentList.begin() ? *it : *(it - 1);
}

qint64 TTrendHistory::SegmentEnd(size_t i) const {
    return i + 1 < SegmentList.size() ? SegmentList[i + 1].First : End;
}

qint64 TTrendHistory::RunStartOf(qint64 block) const {
    auto it = std::upper_bound(SegmentList.begin(), SegmentList.end(), block,
                               [](qint64 b, const TTrendSegment& s) { return b < s.First; });
    while (it != SegmentList.begin()) {
        --it;
        if (it->RunStart)
            return std::max(it->First, FirstBlock());
    }
    return FirstBlock();
}

void TTrendHistory::AddRaw(TTrendStats& stats, int ch, qint64 first, qint64 end) const {
    const TChunk& chunk = ChunkOf(first);
    const qint64 base = first - first % ChunkBlocks;
    for (qint64 b = first; b < end; ++b)
        stats.Add(chunk.Values[ch][b - base], (chunk.OverMask[b - base] >> ch) & 1u);
}

TTrendStats TTrendHistory::Stats(int ch, qint64 first, qint64 end) const {
    TTrendStats stats;
    first = std::max(first, FirstBlock());
    end = std::min(end, End);
    qint64 b = first;
    while (b < end) {
        const qint64 pos = b % ChunkBlocks;
        if (pos % BaseSpan != 0 || end - b < BaseSpan) {
            const qint64 stop = std::min(end, b - pos % BaseSpan + BaseSpan);
            AddRaw(stats, ch, b, stop);
            b = stop;
            continue;
        }
        int level = Levels - 1;
        while ((pos & ((BaseSpan << level) - 1)) != 0 || end - b < (BaseSpan << level))
            --level;
        stats.Merge(ChunkOf(b).Pyramid[ch][LevelOffset(level) + int(pos >> (BaseShift + level))].Stats());
        b += BaseSpan << level;
    }
    return stats;
}

TTrendStats TTrendHistory::Envelope(int ch, qint64 first, qint64 end) const {
    if (end - first >= 2 * BaseSpan) {
        first = (first + BaseSpan / 2) / BaseSpan * BaseSpan;
        end = (end + BaseSpan / 2) / BaseSpan * BaseSpan;
    }
    return Stats(ch, first, end);
}

double TTrendHistory::Last(int ch, qint64 first, qint64 end) const {
    first = std::max(first, FirstBlock());
    end = std::min(end, End);
    for (size_t i = SegmentList.size(); i-- > 0 && end > first;) {
        const TTrendSegment& segment = SegmentList[i];
        if (segment.First >= end)
            continue;
        if (segment.Setup[ch].Active) {
            for (qint64 b = end - 1; b >= std::max(first, segment.First); --b) {
                const double v = ValueAt(ch, b);
                if (!std::isnan(v))
                    return v;
            }
        }
        end = segment.First;
    }
    return std::numeric_limits<double>::quiet_NaN();
}

size_t TTrendHistory::MemoryBytes() const {
    return sizeof(*this) + Chunks.size() * (sizeof(TChunk) + sizeof(std::unique_ptr<TChunk>)) +
           SegmentList.size() * sizeof(TTrendSegment);
}
