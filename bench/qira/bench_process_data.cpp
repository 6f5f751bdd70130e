// KM808_ProcessData on a block of 16 777 216 words against copying the same
// bytes. The block comes from a real emulator (fast pace), so the words carry
// real tags and codes. Prints the ratio of the two times at the end.
#include "emulator_process.h"
#include "km808api.h"
#include "module_helpers.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kWords = 16777216;

struct Block {
    Module module;
    std::vector<uint32_t> words;
};

// Seconds per iteration, the fastest seen: real time and the thread's CPU
// time (the machine may be shared, which real time shows and CPU time not).
std::map<std::string, double> bestReal, bestCpu;

void record(std::map<std::string, double>& best, const char* name, double seconds) {
    auto it = best.find(name);
    if (it == best.end() || seconds < it->second)
        best[name] = seconds;
}

double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

template <typename F> void timed(benchmark::State& state, const char* name, F f) {
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        const double c0 = threadCpuSeconds();
        f();
        const double cpu = threadCpuSeconds() - c0;
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        state.SetIterationTime(s);
        record(bestReal, name, s);
        record(bestCpu, name, cpu);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kWords * 4);
}

Block* voltageBlock = nullptr;    // 16 voltage channels, calibration once
Block* continuousBlock = nullptr; // 16 channels plus the calibration slot

bool acquire(Block& b, uint16_t slot, uint16_t calibrationSlots) {
    if (b.module.open("QT000001", slot) != 0 || KM808_GetConfig(&b.module.m) != 0 ||
        b.module.setAdc(voltageTable({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, 0),
                        calibrationSlots) != 0 ||
        KM808_Calibrate(&b.module.m) != 0)
        return false;
    b.words = b.module.acquire(kWords / uint32_t(b.module.m.FrameLength));
    return !b.words.empty();
}

void BM_Memcpy(benchmark::State& state) {
    std::vector<uint32_t> to(kWords, 1);
    timed(state, "memcpy", [&] {
        std::memcpy(to.data(), voltageBlock->words.data(), size_t(kWords) * 4);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    });
}

void convert(benchmark::State& state, Block& b, int32_t calibration, const char* name) {
    std::vector<double> values(b.words.size(), 1.0);
    timed(state, name, [&] {
        uint32_t count = uint32_t(b.words.size());
        if (KM808_ProcessData(&b.module.m, b.words.data(), values.data(), &count, calibration, 3) != 0)
            state.SkipWithError("KM808_ProcessData failed");
        benchmark::DoNotOptimize(values.data());
        benchmark::ClobberMemory();
    });
}

void BM_ProcessData(benchmark::State& state) {
    convert(state, *voltageBlock, 1, "ProcessData");
}
void BM_ProcessDataContinuous(benchmark::State& state) {
    convert(state, *continuousBlock, 2, "ProcessData continuous");
}

BENCHMARK(BM_Memcpy)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_ProcessData)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_ProcessDataContinuous)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    EmulatorProcess emulator("library.json");
    if (!emulator.started()) {
        fprintf(stderr, "%s\n", emulator.error().c_str());
        return 1;
    }
    Block voltage, continuous;
    if (!acquire(voltage, 3, 0) || !acquire(continuous, 5, 1)) {
        fprintf(stderr, "cannot acquire the blocks\n");
        return 1;
    }
    voltageBlock = &voltage;
    continuousBlock = &continuous;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (const char* name : {"ProcessData", "ProcessData continuous"})
        if (bestReal.count("memcpy") && bestReal.count(name))
            printf("ratio %s / memcpy of %u words: real time %.2f, CPU time %.2f (target below 4)\n", name,
                   kWords, bestReal[name] / bestReal["memcpy"], bestCpu[name] / bestCpu["memcpy"]);
    return 0;
}
