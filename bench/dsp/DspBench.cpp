// Window generation and block reduction against their plain references, run in
// one process so that the printed ratios compare like with like.

#include "dsp/WindowFunctions.h"
#include "dsp/WindowedMean.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <numeric>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

// Other work on a shared machine only ever slows a run down, so each figure is
// the fastest of several repetitions, in CPU time of this thread (real time
// counts the time the scheduler gave to someone else).
void Repeat(benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMillisecond)
        ->Repetitions(7)
        ->DisplayAggregatesOnly(true)
        ->ComputeStatistics(
            "min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); });
}

constexpr uint32_t BlockValues = 16777216;
constexpr double TwoPi = 6.283185307179586;

// The same angles as the window's, with the length unknown to the compiler as it
// is to the generator, so that neither gets a division turned into a product.
void CosReference(benchmark::State& state) {
    std::vector<double> out(BlockValues);
    uint32_t n = BlockValues;
    benchmark::DoNotOptimize(n);
    const double period = static_cast<double>(n);
    for (auto _ : state) {
        for (uint32_t i = 0; i < n; ++i)
            out[i] = std::cos(static_cast<double>(i) * TwoPi / period);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(CosReference)->Apply(Repeat);

void WindowKind6(benchmark::State& state) {
    std::vector<double> out(BlockValues);
    TWindowDescriptor descriptor;
    const std::atomic<bool> abortFlag{false};
    for (auto _ : state) {
        GenerateWorkerWindow(descriptor, &abortFlag, out.data(), BlockValues, 6);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(WindowKind6)->Apply(Repeat);

void InnerProductReference(benchmark::State& state) {
    std::vector<double> a(BlockValues), b(BlockValues);
    for (uint32_t i = 0; i < BlockValues; ++i) {
        a[i] = 1e-3 * (i % 1000);
        b[i] = 1.0 - 1e-4 * (i % 777);
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(std::inner_product(a.begin(), a.end(), b.begin(), 0.0));
}
BENCHMARK(InnerProductReference)->Apply(Repeat);

// Extraction of each channel with the frame stride, then its windowed mean, for
// a block of BlockValues converted values.
void Reduction(benchmark::State& state) {
    const uint32_t channels = static_cast<uint32_t>(state.range(0));
    const uint32_t samples = BlockValues / channels;
    std::vector<double> data(BlockValues), perChannel(samples + 16), window(samples + 16);
    for (uint32_t i = 0; i < BlockValues; ++i)
        data[i] = 1e-3 * (i % 1000);
    TWindowDescriptor descriptor;
    GenerateWorkerWindow(descriptor, nullptr, window.data(), samples, 6);
    const double norm = samples * descriptor.WindowCoefs[0];
    std::vector<double> values(channels);
    for (auto _ : state) {
        for (uint32_t c = 0; c < channels; ++c) {
            for (uint32_t i = 0; i < samples; ++i)
                perChannel[i] = data[c + channels * i];
            values[c] = WindowedMean(perChannel.data(), window.data(), samples, norm);
        }
        benchmark::DoNotOptimize(values.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(Reduction)->Arg(1)->Arg(16)->Apply(Repeat);

// The same values from one tiled pass over the block.
void ReductionOnePass(benchmark::State& state) {
    const uint32_t channels = static_cast<uint32_t>(state.range(0));
    const uint32_t samples = BlockValues / channels;
    std::vector<double> data(BlockValues), window(samples + 16);
    for (uint32_t i = 0; i < BlockValues; ++i)
        data[i] = 1e-3 * (i % 1000);
    TWindowDescriptor descriptor;
    GenerateWorkerWindow(descriptor, nullptr, window.data(), samples, 6);
    const double norm = samples * descriptor.WindowCoefs[0];
    std::vector<uint32_t> positions(channels);
    for (uint32_t c = 0; c < channels; ++c)
        positions[c] = c;
    std::vector<double> values(channels);
    for (auto _ : state) {
        StridedWindowedMeans(data.data(), channels, positions.data(), channels, window.data(), samples, norm,
                             values.data());
        benchmark::DoNotOptimize(values.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(ReductionOnePass)->Arg(1)->Arg(16)->Apply(Repeat);

// Keeps the fastest CPU time of every benchmark by name.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    explicit RatioReporter(OutputOptions options) : ConsoleReporter(options) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "min") {
                std::string name = run.run_name.function_name;
                if (!run.run_name.args.empty())
                    name += "/" + run.run_name.args;
                Times[name] = run.GetAdjustedCPUTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> Times;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_Defaults
                                                 : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto ratio = [&](const char* label, const std::string& what, const std::string& reference,
                     double target) {
        if (reporter.Times.count(what) == 0 || reporter.Times.count(reference) == 0)
            return;
        const double r = reporter.Times[what] / reporter.Times[reference];
        std::printf("ratio (CPU time) %s = %.2f (target <= %.1f: %s)\n", label, r, target,
                    r <= target ? "met" : "missed");
    };
    ratio("window kind 6 / std::cos", "WindowKind6", "CosReference", 1.3);
    ratio("reduction 1 channel / inner_product", "Reduction/1", "InnerProductReference", 2.0);
    ratio("reduction 16 channels / inner_product", "Reduction/16", "InnerProductReference", 2.0);
    ratio("one-pass reduction 1 channel / inner_product", "ReductionOnePass/1", "InnerProductReference", 2.0);
    ratio("one-pass reduction 16 channels / inner_product", "ReductionOnePass/16", "InnerProductReference",
          2.0);
    benchmark::Shutdown();
    return 0;
}
