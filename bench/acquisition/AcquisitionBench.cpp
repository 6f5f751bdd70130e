// Real-time figures of the measurement through the real window against a
// real-time emulator: block period, stop latency and the program's CPU use.
// Each figure is printed with its ratio to the target it is held against.
#include "MeasurementWindow.h"

#include "app/TMainThread.h"
#include "trendwindow/TTrendWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

namespace {

std::vector<EmulatedChannel> Channels(int count) {
    std::vector<EmulatedChannel> channels;
    for (int c = 1; c <= count; ++c)
        channels.push_back({c, 0.1 * c, 0, 1e-4});
    return channels;
}

MeasurementSetup Setup(int channels, int rateIndex) {
    MeasurementSetup s;
    s.Active.clear();
    for (int c = 0; c < channels; ++c)
        s.Active.push_back(c);
    s.RateIndex = rateIndex;
    s.AcquisitionTime = 1.0;
    const int minimum[4] = {6, 32, 64, 128};
    std::copy(std::begin(minimum), std::end(minimum), s.MinSamples);
    return s;
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           1e-6 * (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

void Verdict(const char* what, double value, double target, const char* unit) {
    std::printf("%-52s %9.1f %s  target <= %.1f %s  ratio %.3f  %s\n", what, value, unit, target, unit,
                value / target, value <= target ? "met" : "MISSED");
    std::fflush(stdout);
}

// Start to start of the module over several blocks of 1.0 s, from the
// emulator's own time stamps. withTrend: the trend window open and recording
// every block (csv, synced per block).
void BlockPeriod(const char* name, int channels, int rateIndex, bool withTrend = false) {
    MeasurementWindow w(EmulatorConfig(Channels(channels), {}, false));
    if (!w.Failure.isEmpty()) {
        std::printf("%s: %s\n", name, qPrintable(w.Failure));
        return;
    }
    w.Configure(Setup(channels, rateIndex));
    QTemporaryDir records;
    if (withTrend) {
        auto* trend = w.Form->findChild<TTrendWindow*>("TrendForm");
        trend->Open(records.filePath("trend.ini"));
        trend->RecordPath = records.filePath("bench.csv");
        trend->RecordButton->setChecked(true);
    }
    w.PressStart();
    const bool measured = w.WaitBlocks(7, 30000);
    w.PressStop();
    if (!measured) {
        std::printf("%s: no blocks (%s)\n", name, qPrintable(w.Messages.join(" | ")));
        return;
    }
    std::vector<double> stamps;
    for (const QString& line : w.Emulator->LogLines("Start"))
        stamps.push_back(line.section(' ', 0, 0).toDouble());
    std::vector<double> periods;
    for (size_t i = 2; i < stamps.size(); ++i) // the first block follows the module set-up
        periods.push_back(1000.0 * (stamps[i] - stamps[i - 1]));
    if (periods.empty())
        return;
    double mean = 0;
    for (double p : periods)
        mean += p;
    mean /= double(periods.size());
    const double worst = *std::max_element(periods.begin(), periods.end());
    char label[96];
    std::snprintf(label, sizeof label, "block period %s, mean of %zu", name, periods.size());
    Verdict(label, mean, 1115.0, "ms");
    std::snprintf(label, sizeof label, "block period %s, longest", name);
    Verdict(label, worst, 1115.0, "ms");
}

// From the press that releases the button to the end of its handling, by
// which time the idle look is back; the press lands anywhere in a block.
void StopLatency(const char* name, int rateIndex) {
    MeasurementWindow w(EmulatorConfig(Channels(1), {}, false));
    if (!w.Failure.isEmpty())
        return;
    w.Configure(Setup(1, rateIndex));
    std::mt19937 random(7);
    double worst = 0;
    double sum = 0;
    const int runs = 6;
    for (int i = 0; i < runs; ++i) {
        w.PressStart();
        w.WaitBlocks(1, 20000);
        QTest::qWait(int(random() % 1000));
        QElapsedTimer clock;
        clock.start();
        w.PressStop();
        const double ms = clock.nsecsElapsed() / 1e6;
        if (w.ButtonText() != "С   Т   А   Р   Т")
            std::printf("stop %s: not idle after the press\n", name);
        worst = std::max(worst, ms);
        sum += ms;
    }
    char label[96];
    std::snprintf(label, sizeof label, "stop latency %s, mean of %d", name, runs);
    Verdict(label, sum / runs, 350.0, "ms");
    std::snprintf(label, sizeof label, "stop latency %s, longest", name);
    Verdict(label, worst, 350.0, "ms");
}

// CPU time of this process (window, worker, libraries) over wall time while
// 16 channels are measured at 4000 Hz; the emulator is another process.
void CpuUse() {
    MeasurementWindow w(EmulatorConfig(Channels(16), {}, false));
    if (!w.Failure.isEmpty())
        return;
    w.Configure(Setup(16, 6));
    w.PressStart();
    w.WaitBlocks(1, 20000);
    QElapsedTimer clock;
    clock.start();
    const double cpu0 = CpuSeconds();
    QTest::qWait(10000);
    const double cpu = CpuSeconds() - cpu0;
    const double wall = clock.nsecsElapsed() / 1e9;
    w.PressStop();
    Verdict("CPU use, 16 channels at 4000 Hz, % of one core", 100.0 * cpu / wall, 3.0, "%");
}

} // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    BlockPeriod("1 channel at 1000 Hz", 1, 4);
    BlockPeriod("16 channels at 4000 Hz", 16, 6);
    BlockPeriod("16 ch 4000 Hz, trend open, recording", 16, 6, true);
    if (argc > 1 && QByteArray(argv[1]) == "--period-only")
        return 0;
    StopLatency("100 Hz", 1);
    StopLatency("1000 Hz", 4);
    StopLatency("4000 Hz", 6);
    CpuUse();
    return 0;
}
