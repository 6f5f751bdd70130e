// Start-up and detection time against the sleeps a detection run is made of.
//   start-up:  program start (before the application object) -> both lamps
//              green, default emulator set-up, no settings file yet
//   detection: "Обнаружить" pressed -> run over, 16 crates x 16 KM808
// Each is compared with the sleeps a successful full detection prescribes up
// to that point (550 ms to the lamps, 850 ms to the end of the run) and with
// the same sleeps measured on this machine in this run.
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.
#include "EmulatorProcess.h"
#include "FormControl.h"

#include "app/ModuleEnumeration.h"
#include "app/TInitAndConfigThread.h"
#include "app/TMainForm.h"
#include "ui/TLed.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// The sleeps of a successful full detection: 50 ms before the preparation,
// then 100 ms steps. The lamps turn green after five of them; the run ends
// after eight.
constexpr int SleepsBeforeLampsMs = 50 + 5 * 100;
constexpr int SleepSumMs = 50 + 8 * 100;
constexpr int Repetitions = 5;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double SleepsOnThisMachine(int hundreds) {
    const auto t0 = Clock::now();
    QThread::msleep(50);
    for (int i = 0; i < hundreds; ++i)
        QThread::msleep(100);
    return Ms(Clock::now() - t0);
}

bool Green(const TLed* led) {
    return led->IsOn() && led->Color() == QColor(0, 255, 0);
}

bool PollUntil(const std::function<bool()>& done) {
    const QDeadlineTimer guard(60000);
    while (!done()) {
        if (guard.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QThread::msleep(1);
    }
    return true;
}

bool Idle(TMainForm& f) {
    return !f.WorkerFlags().DiscoveryRunning && f.WorkerFlags().DiscoveryGate && !f.DiscoveryWorker();
}

QByteArray FullConfig() {
    QByteArray crates;
    for (int c = 1; c <= 16; ++c) {
        QByteArray slotList;
        for (int s = 1; s <= 16; ++s)
            slotList += QByteArray(s > 1 ? ", " : "") + "{\"slot\": " + QByteArray::number(s) +
                        ", \"type\": \"KM808\", \"serial\": \"KM" + QByteArray::number(c * 100 + s) + "\"}";
        crates += QByteArray(c > 1 ? ",\n" : "") + "{\"serial\": \"QR" + QByteArray::number(c) +
                  "\", \"slots\": [" + slotList + "]}";
    }
    return "{\"pace\": \"fast\", \"crates\": [" + crates + "]}";
}

struct Figures {
    std::vector<double> Runs;
    double Median() {
        std::sort(Runs.begin(), Runs.end());
        return Runs[Runs.size() / 2];
    }
};

void Print(const char* name, Figures& f, int prescribedMs, Figures& sleptHere) {
    const double m = f.Median();
    const double slept = sleptHere.Median();
    std::printf("%-32s median %7.1f ms | prescribed sleeps %4d ms: %+6.1f ms (ratio %.3f) | same sleeps "
                "measured here %6.1f ms: %+6.1f ms\n",
                name, m, prescribedMs, m - prescribedMs, m / prescribedMs, slept, m - slept);
}

} // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The emulator starts before the application object exists; it sits
    // beside this program.
    if (!qEnvironmentVariableIsSet("KM808_BIN_DIR"))
        qputenv("KM808_BIN_DIR",
                std::filesystem::read_symlink("/proc/self/exe").parent_path().string().c_str());
    Figures startUp;
    Figures detection;
    Figures sleeps;
    Figures sleepsBeforeLamps;
    Figures listing;
    {
        // The first round is the program's start: nothing exists before it.
        EmulatorProcess emulator({}, false);
        if (!emulator.Started()) {
            std::fprintf(stderr, "%s\n", qPrintable(emulator.Error));
            return 1;
        }
        const auto t0 = Clock::now();
        QApplication app(argc, argv);
        for (int r = 0; r < Repetitions; ++r) {
            const auto start = r == 0 ? t0 : Clock::now();
            QTemporaryDir settings;
            auto form = std::make_unique<TMainForm>();
            form->SetSettingsDirectory(settings.path());
            form->show();
            if (!PollUntil([&] {
                    return Green(Control<TLed>(*form, "QiraCrateStatusLed")) &&
                           Green(Control<TLed>(*form, "ModuleStatusLed"));
                })) {
                std::fprintf(stderr, "the lamps never turned green\n");
                return 1;
            }
            startUp.Runs.push_back(Ms(Clock::now() - start));
            PollUntil([&] { return Idle(*form); });
            form->close();
        }

        EmulatorProcess full(FullConfig(), false);
        if (!full.Started()) {
            std::fprintf(stderr, "%s\n", qPrintable(full.Error));
            return 1;
        }
        QTemporaryDir settings;
        TMainForm form;
        form.SetSettingsDirectory(settings.path());
        form.show();
        PollUntil([&] { return form.StartupStage() == 3 && Idle(form); });
        for (int r = 0; r < Repetitions; ++r) {
            const auto start = Clock::now();
            Control<QPushButton>(form, "FindDeviceLMDButton")->click();
            if (!PollUntil([&] { return Idle(form); }) || form.DeviceState().CrateCount != 16 ||
                form.DeviceState().ModuleCount[15] != 16 || !Green(Control<TLed>(form, "ModuleStatusLed"))) {
                std::fprintf(stderr, "the detection did not find 16 x 16 modules\n");
                return 1;
            }
            detection.Runs.push_back(Ms(Clock::now() - start));
            sleeps.Runs.push_back(SleepsOnThisMachine(8));
            sleepsBeforeLamps.Runs.push_back(SleepsOnThisMachine(5));
        }
        form.close();

        // The listing and opening work alone, without the run around it.
        TMainForm bare;
        bare.HoldHandlers(true);
        for (int r = 0; r < Repetitions; ++r) {
            const auto start = Clock::now();
            DetectAll(bare, {}, -1, [](const QString&) {});
            listing.Runs.push_back(Ms(Clock::now() - start));
        }
        CloseModuleIfOpen(bare.DeviceState());
    }
    Print("start-up to both lamps green", startUp, SleepsBeforeLampsMs, sleepsBeforeLamps);
    Print("full detection, 16 x 16 KM808", detection, SleepSumMs, sleeps);
    std::printf("%-32s median %7.1f ms\n", "of which listing and opening", listing.Median());
    return 0;
}
