// The history at its bound (16 channels, 7 days at 0.5 s): appending a block,
// a 1920-column envelope and a whole-range statistics table, against a plain
// scan of every kept value measured in the same run. Prints the history's
// resident memory as the process saw it grow.

#include "trend/TrendHistory.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <vector>

namespace {

void Repeat(benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMillisecond)
        ->Repetitions(7)
        ->DisplayAggregatesOnly(true)
        ->ComputeStatistics(
            "min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); });
}

constexpr qint64 Week = 7 * 24 * 3600 * 2;
constexpr int Columns = 1920;

TTrendBlock Block(qint64 i) {
    TTrendBlock block;
    block.TimeMs = 1796956800000 + i * 500;
    for (int c = 0; c < TrendChannels; ++c) {
        block.Channels[c].Setup = {true, c >= 8, 1, "0.0000"};
        block.Channels[c].Value = 1000.0 * c + std::sin(double(i) * 1e-3) + (i % 100003 == 0 ? 50.0 : 0.0);
    }
    return block;
}

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == "VmRSS:") {
            status >> value;
            return value;
        }
        status.ignore(1 << 12, '\n');
    }
    return 0;
}

// One week, filled once; its memory measured as it grows.
const TTrendHistory& Full() {
    static std::unique_ptr<TTrendHistory> history = [] {
        const long before = ResidentKiB();
        auto h = std::make_unique<TTrendHistory>();
        for (qint64 i = 0; i < Week; ++i)
            h->Append(Block(i));
        const long after = ResidentKiB();
        std::printf("history of %lld blocks x 16 channels: resident %.1f MB (MemoryBytes %.1f MB)\n",
                    static_cast<long long>(Week), double(after - before) / 1024.0,
                    double(h->MemoryBytes()) / 1e6);
        return h;
    }();
    return *history;
}

// Reference: min and max of every kept value, as a drawing without the pyramid
// would read them.
void ScanReference(benchmark::State& state) {
    const TTrendHistory& h = Full();
    for (auto _ : state) {
        for (int c = 0; c < TrendChannels; ++c) {
            double lo = INFINITY, hi = -INFINITY;
            for (qint64 b = h.FirstBlock(); b < h.EndBlock(); ++b) {
                const double v = h.ValueAt(c, b);
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
            benchmark::DoNotOptimize(lo);
            benchmark::DoNotOptimize(hi);
        }
    }
}
BENCHMARK(ScanReference)->Apply(Repeat);

// The envelope a 1920-px drawing of the whole week asks for: per column a
// time-to-block search and each channel's min/max/mean.
void EnvelopeWeek(benchmark::State& state) {
    const TTrendHistory& h = Full();
    const qint64 t0 = h.TimeAt(h.FirstBlock());
    const qint64 t1 = h.TimeAt(h.EndBlock() - 1) + 1;
    for (auto _ : state) {
        qint64 first = h.LowerBound(t0);
        for (int x = 0; x < Columns; ++x) {
            const qint64 end = h.LowerBound(t0 + (t1 - t0) * (x + 1) / Columns);
            for (int c = 0; c < TrendChannels; ++c)
                benchmark::DoNotOptimize(h.Envelope(c, first, end));
            first = end;
        }
    }
}
BENCHMARK(EnvelopeWeek)->Apply(Repeat);

// The statistics table over the whole week and since the run's start.
void StatisticsWeek(benchmark::State& state) {
    const TTrendHistory& h = Full();
    for (auto _ : state) {
        for (int c = 0; c < TrendChannels; ++c) {
            benchmark::DoNotOptimize(h.Stats(c, h.FirstBlock() + 7, h.EndBlock() - 3));
            benchmark::DoNotOptimize(h.Last(c, h.FirstBlock(), h.EndBlock()));
        }
    }
}
BENCHMARK(StatisticsWeek)->Apply(Repeat);

// Appending one block to a history at its bound (a chunk dropped and a new one
// begun every 65536 blocks, included).
void AppendBlock(benchmark::State& state) {
    TTrendHistory h(3);
    qint64 i = 0;
    for (auto _ : state)
        h.Append(Block(i++));
}
BENCHMARK(AppendBlock)
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(4 * TTrendHistory::ChunkBlocks)
    ->Repetitions(3);

} // namespace

BENCHMARK_MAIN();
