// km808-measure: measures with a KM808 module from the command line on the
// window's measurement engine, and records one line per block.
#include "acquisition/MeasurementCycle.h"
#include "device/CrateQueries.h"
#include "device/DeviceRecords.h"
#include "device/ModuleOpening.h"
#include "discovery/DetectionTables.h"
#include "measure/AppendCheck.h"
#include "measure/BlockClock.h"
#include "measure/MeasureOptions.h"
#include "measure/ModuleChoice.h"
#include "measure/RunChoice.h"
#include "measure/RunOutput.h"
#include "measure/StoreOutput.h"
#include "record/BlockRecord.h"
#include "record/Printable.h"
#include "record/RecordSink.h"
#include "settings/TSettingsFile.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QSysInfo>

#include <algorithm>
#include <array>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

#include <unistd.h>

namespace {

// Atomic, not volatile sig_atomic_t: the module threads read it while the
// handler writes it on another thread.
std::atomic<bool> Signalled{false};
// The running cycles' stop requests, one place per module; lock-free, so the
// handler may set them.
std::array<std::atomic<std::atomic<bool>*>, 16> StopRequests{};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<std::atomic<bool>*>::is_always_lock_free);

void OnSignal(int) {
    Signalled.store(true);
    for (auto& request : StopRequests)
        if (std::atomic<bool>* stop = request.load())
            stop->store(true);
}

// No SA_RESTART: a wait in the libraries sees EINTR and goes on (they retry),
// and the cycle sees its stop request at the next chunk.
void InstallSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A reader that goes away (`| head`) must end the run through a failed
    // write, which stops and closes the module, not kill the process.
    std::signal(SIGPIPE, SIG_IGN);
    // Likewise a file size limit (ulimit -f): the write fails with EFBIG and
    // the file is cut back to whole lines, the module stopped and closed.
    std::signal(SIGXFSZ, SIG_IGN);
}

void PrintError(const QString& text) {
    const QByteArray bytes = (text + "\n").toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

int Usage(const QString& text) {
    PrintError(QStringLiteral("km808-measure: ") + text);
    return ExitUsage;
}

// Failures of the crate server or the module name the server asked.
void PrintDeviceFailure(const QString& text) {
    PrintError(text);
    PrintError(QStringLiteral("km808-measure: crate server ") + ServerAddressText());
}

class TClientCycle final : public TMeasurementCycle {
public:
    using TMeasurementCycle::TMeasurementCycle;
    // With several modules: which one failed ("crate X slot N").
    QString Module;
    // Only the first failure of a module is shown, as in the window.
    void Report(const QString& text) override {
        if (MessageShown.exchange(true))
            return;
        PrintDeviceFailure(Module.isEmpty() ? text
                                            : QStringLiteral("km808-measure: %1: %2").arg(Module, text));
    }
};

// The crate list and slot types, read before any module is opened. False
// after the failure's text.
bool ReadListing(char listed[16][16], TCrateListing& listing) {
    switch (ReadCrateListing(listed, listing)) {
    case TListingFailure::None:
        return true;
    case TListingFailure::NoCrates:
        PrintDeviceFailure(QStringLiteral("Не могу найти ни одного QIRA крейта!"));
        return false;
    case TListingFailure::NoSlotTypes:
        PrintDeviceFailure(
            QStringLiteral("km808-measure: the crate server did not tell the slot types of its crates"));
        return false;
    }
    return false;
}

// What a failed opening of one module means, from the library's code.
QString OpenFailureReason(int32_t code) {
    const TDeviceFailure failure = DeviceFailureOf(code);
    const QString text = DeviceFailureText(failure);
    return failure == TDeviceFailure::Refused ? text + QStringLiteral(" (code %1)").arg(code) : text;
}

// What the detection left out, or why it found nothing, beside its text.
void PrintDetectionNotes(const TDeviceState& device) {
    for (const TDetectionNote& note : device.DetectionNotes)
        PrintError(QStringLiteral("km808-measure: ") + Printable(DetectionNoteText(note)));
}

// Opens only the named module, so that no other module is touched (another
// client may be using or testing it). The library's code; the device tables
// hold that one module.
int32_t OpenNamedModule(TDeviceState& device, const char crate[16], int slot) {
    device.CrateCount = 1;
    std::memset(device.CrateSerials, 0, sizeof device.CrateSerials);
    std::memcpy(device.CrateSerials[0], crate, 16);
    device.ModuleCount[0] = 1;
    device.ModuleSlots[0][0] = uint16_t(slot);
    device.SelectedCrateIndex = 0;
    device.SelectedModuleIndex[0] = 0;
    char serial[17] = {};
    std::memcpy(serial, crate, 16);
    CloseModuleIfOpen(device);
    KM808_Init(&device.ModuleControl);
    int32_t code = OpenModule(device.ModuleControl, serial, uint16_t(slot));
    if (code == 0)
        code = KM808_GetConfig(&device.ModuleControl);
    if (code != 0)
        CloseModuleIfOpen(device);
    return code;
}

// The first KM808 the detection finds, as the window chooses it.
bool OpenDetectedModule(TDeviceState& device, const TNamedModule& named) {
    const bool listed = ListModules(device, [](const QString& text) { PrintDeviceFailure(text); });
    PrintDetectionNotes(device);
    if (!listed)
        return false;
    PreselectWanted(device, named.Crate, int16_t(named.Slot));
    if (!OpenChosenModule(device)) {
        CloseModuleIfOpen(device);
        PrintDeviceFailure(QStringLiteral("Не могу проинициализировать модуль в указанном слоте!"));
        return false;
    }
    return true;
}

// Opens the module the run asks for; the exit status on failure (after its
// text), ExitDone when the module is open.
int OpenWantedModule(TDeviceState& device, const TMeasureOptions& options, const TRunChoice& choice) {
    char listed[16][16] = {};
    TCrateListing listing;
    if (!ReadListing(listed, listing))
        return ExitFailed;
    const TNamedModule named = NameModule(options, choice, listing);
    if (!named.Named)
        return OpenDetectedModule(device, named) ? ExitDone : ExitFailed;
    QString why = named.Missing;
    if (why.isEmpty()) {
        const int32_t code = OpenNamedModule(device, listed[named.CrateIndex], named.Slot);
        if (code == 0)
            return ExitDone;
        why = QStringLiteral("crate '%1' slot %2: %3")
                  .arg(Printable(named.Crate))
                  .arg(named.Slot)
                  .arg(OpenFailureReason(code));
        if (!options.AnyModule) {
            PrintDeviceFailure(QStringLiteral("Не могу проинициализировать модуль в указанном слоте!\n"
                                              "km808-measure: ") +
                               why);
            return ExitFailed;
        }
    } else if (!options.AnyModule) {
        return Usage(why + "; --any-module measures the first KM808 found instead");
    }
    PrintError(QStringLiteral("km808-measure: %1; --any-module: the first KM808 found is measured instead")
                   .arg(why));
    return OpenDetectedModule(device, named) ? ExitDone : ExitFailed;
}

void PrintList(const TDeviceState& device) {
    QString text;
    for (uint16_t c = 0; c < device.CrateCount; ++c) {
        text += Printable(CrateItemText(c, device.CrateSerials[c])) + "\n";
        for (uint16_t m = 0; m < device.ModuleCount[c]; ++m)
            text += "  " + ModuleItemText(device.ModuleSlots[c][m]) + "  " +
                    Printable(FixedText(device.ModuleSerials[c][m], 16)) + "\n";
    }
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}

class TProgress {
public:
    TProgress(bool shown, long long total) : Shown(shown), Total(total) {}
    void Block(long long block, double seconds) {
        if (!Shown)
            return;
        if (Total > 0)
            std::fprintf(stderr, "\r\033[Kblock %lld of %lld, %.1f s", block, Total, seconds);
        else
            std::fprintf(stderr, "\r\033[Kblock %lld, %.1f s", block, seconds);
        std::fflush(stderr);
        Used = true;
    }
    void Clear() {
        if (Used) {
            std::fputs("\r\033[K", stderr);
            std::fflush(stderr);
        }
        Used = false;
    }

private:
    bool Shown;
    long long Total;
    bool Used = false;
};

// Standard error's text of the module opened and the block the run plans.
void PrintStart(const TDeviceState& device, const TMeasurementCycle& cycle) {
    const uint16_t c = device.SelectedCrateIndex;
    PrintError(QStringLiteral("km808-measure: crate %1 slot %2, module %3; planned block period %4 s "
                              "(%5 samples per channel at %6 frames/s)")
                   .arg(Printable(FixedText(device.CrateSerials[c], 16)))
                   .arg(device.ModuleSlots[c][device.SelectedModuleIndex[c]])
                   .arg(Printable(FixedText(device.ModuleControl.SerialNumber, 16)))
                   .arg(PlannedPeriod(cycle), 0, 'f', 3)
                   .arg(cycle.SamplesPerChannel)
                   .arg(cycle.FrameRate, 0, 'g', 6));
}

// Measures with the opened module until the run's end and closes it; the
// exit status.
// What every line of the run names besides its module.
TPointIdentity RunIdentity(const TMeasureOptions& options) {
    TPointIdentity identity;
    identity.Measurement = options.Measurement;
    identity.Host = QSysInfo::machineHostName();
    identity.Tags = options.Tags;
    return identity;
}

// One module of the run; with several, each measures on its own thread.
struct TModuleTask {
    std::unique_ptr<TDeviceState> Device = std::make_unique<TDeviceState>();
    TRunChoice Choice; // a copy each: the engine changes its configuration
    QString Name;      // "crate X slot N" when the run has several modules
    bool Failed = false;
};

// Measures with the opened module until the run's end and closes it. False
// when the module failed (after its text); a failed output shows in output.
bool MeasureOpenedModule(TModuleTask& task, const TMeasureOptions& options,
                         const std::vector<TRecordColumn>& columns, TRunOutput& output, int place) {
    TDeviceState& device = *task.Device;
    TRunChoice& choice = task.Choice;
    // The window loads the module's own coefficients after each opening.
    KM808_CONTROL& module = device.ModuleControl;
    UseModuleCoefficients(module, choice.Config.Settings.LoadedCoefs);

    TPointIdentity identity = RunIdentity(options);
    identity.Crate = FixedText(device.CrateSerials[device.SelectedCrateIndex], 16);
    identity.Slot =
        device.ModuleSlots[device.SelectedCrateIndex][device.SelectedModuleIndex[device.SelectedCrateIndex]];
    identity.Serial = FixedText(module.SerialNumber, 16);
    TRunSummary summary(columns);
    // Progress only for a single module: lines of several would overwrite each other.
    const bool stderrTerminal = isatty(STDERR_FILENO) == 1 && task.Name.isEmpty();
    TProgress progress(stderrTerminal, options.Blocks);
    // A progress line on the terminal the data lines go to is cleared first.
    const bool sharedTerminal =
        stderrTerminal && isatty(STDOUT_FILENO) == 1 && (options.OutputPath.isEmpty() || options.Tee);

    auto cycle = std::make_unique<TClientCycle>(&module);
    cycle->Module = task.Name;
    StopRequests[size_t(place)].store(&cycle->Terminated);
    if (Signalled.load())
        cycle->Terminated = true;

    if (!cycle->Stopping() && StartRun(*cycle, choice.Config)) {
        if (!options.Quiet)
            PrintStart(device, *cycle);
        QElapsedTimer clock;
        clock.start();
        TBlockClock stamps;
        for (long long block = 1; !cycle->Stopping(); ++block) {
            if (!MeasureBlock(*cycle, choice.Config.Channels.Active))
                break;
            TBlockValues values = TakeBlock(cycle->Reading, columns);
            values.Time = stamps.After(values.Time);
            if (sharedTerminal)
                progress.Clear();
            if (output.Write(columns, values, identity) != TRunOutput::TResult::Written)
                break;
            summary.Add(values);
            const double seconds = double(clock.elapsed()) / 1000.0;
            progress.Block(block, seconds);
            if ((options.Blocks > 0 && block >= options.Blocks) ||
                (options.Duration > 0.0 && seconds >= options.Duration))
                break;
        }
    }
    EndRun(*cycle);
    cycle->FreeBuffers();
    StopRequests[size_t(place)].store(nullptr);
    CloseModuleIfOpen(device);

    progress.Clear();
    if (!options.Quiet)
        PrintError((task.Name.isEmpty() ? QString()
                                        : QStringLiteral("km808-measure: %1, module %2:\n")
                                              .arg(task.Name, Printable(identity.Serial))) +
                   summary.Text().chopped(1));
    return !cycle->MessageShown;
}

// Opens the modules of --module, each in a device record of its own. A
// module that cannot be opened is named and left out; the exit status on a
// usage error or when the crate server cannot be asked, else ExitDone.
int OpenListedModules(const TMeasureOptions& options, const TRunChoice& choice,
                      std::vector<TModuleTask>& tasks) {
    char listed[16][16] = {};
    TCrateListing listing;
    if (!ReadListing(listed, listing))
        return ExitFailed;
    std::vector<std::pair<int, int>> named;
    for (const TModuleOption& wanted : options.Modules) {
        TMeasureOptions one = options;
        one.CrateSerial = wanted.CrateSerial;
        one.CrateNumber = wanted.CrateNumber;
        one.Slot = wanted.Slot;
        const TNamedModule module = NameModule(one, choice, listing);
        if (!module.Missing.isEmpty())
            return Usage(QStringLiteral("--module: ") + module.Missing);
        // A crate by number and by serial may be the same crate.
        if (std::find(named.begin(), named.end(), std::pair(module.CrateIndex, module.Slot)) != named.end())
            return Usage(QStringLiteral("--module: crate '%1' slot %2 is named twice")
                             .arg(Printable(module.Crate))
                             .arg(module.Slot));
        named.emplace_back(module.CrateIndex, module.Slot);
        TModuleTask& task = tasks.emplace_back();
        task.Choice = choice;
        task.Name = QStringLiteral("crate %1 slot %2").arg(Printable(module.Crate)).arg(module.Slot);
    }
    for (size_t i = 0; i < tasks.size(); ++i) {
        const int32_t code = OpenNamedModule(*tasks[i].Device, listed[named[i].first], named[i].second);
        if (code != 0) {
            PrintDeviceFailure(
                QStringLiteral("km808-measure: %1: %2").arg(tasks[i].Name, OpenFailureReason(code)));
            tasks[i].Failed = true;
        }
    }
    return ExitDone;
}

// Measures the open modules, one thread each, and prints the output's
// failure and what stays in the spool. The exit status.
int MeasureModules(std::vector<TModuleTask>& tasks, const TMeasureOptions& options,
                   const std::vector<TRecordColumn>& columns, TRecordSink& sink, TStoreOutput& store) {
    // The csv header goes out with the first block, so that a run that
    // measures nothing writes nothing.
    TRunOutput output(sink, store, options.Format,
                      sink.Empty() ? HeaderLine(options.Format, columns, RunIdentity(options))
                                   : QByteArray());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < tasks.size(); ++i)
        if (!tasks[i].Failed) {
            auto measure = [&, i] {
                tasks[i].Failed = !MeasureOpenedModule(tasks[i], options, columns, output, int(i));
            };
            if (tasks.size() == 1)
                measure();
            else
                threads.emplace_back(measure);
        }
    for (std::thread& thread : threads)
        thread.join();

    const QString writeError = output.Error();
    if (!writeError.isEmpty())
        PrintError(QStringLiteral("km808-measure: ") + writeError);
    // The store gets a few seconds for what is still unsent; the spool keeps the rest.
    if (const QString left = store.Finish(5000); !left.isEmpty())
        PrintError(QStringLiteral("km808-measure: ") + left);
    QStringList failed;
    for (const TModuleTask& task : tasks)
        if (task.Failed)
            failed << task.Name;
    if (tasks.size() > 1 && !failed.isEmpty())
        PrintError(QStringLiteral("km808-measure: %1 of %2 modules failed: %3")
                       .arg(failed.size())
                       .arg(tasks.size())
                       .arg(failed.join(", ")));
    return !writeError.isEmpty() || !failed.isEmpty() ? ExitFailed : ExitDone;
}

} // namespace

int main(int argc, char* argv[]) {
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const TParseResult parsed = ParseArguments(args);
    if (!parsed.Error.isEmpty())
        return Usage(parsed.Error);
    const TMeasureOptions& options = parsed.Options;
    if (options.Help || options.Version) {
        const QByteArray text =
            options.Help ? HelpText().toUtf8() : QByteArray("km808-measure " KM808_MEASURE_VERSION "\n");
        std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
        return ExitDone;
    }

    TRunChoice choice;
    if (!options.SettingsPath.isEmpty()) {
        // A missing file would read as all defaults: refused, it is a typo.
        if (!QFileInfo(options.SettingsPath).isFile())
            return Usage(QStringLiteral("--settings: no settings file %1").arg(options.SettingsPath));
        TSettingsFile::OpenFailure why = TSettingsFile::OpenFailure::None;
        const std::unique_ptr<TSettingsFile> file = TSettingsFile::Open(options.SettingsPath, &why);
        if (!file)
            return Usage(QStringLiteral("--settings: %1 is not a settings file the window can read%2")
                             .arg(options.SettingsPath,
                                  why == TSettingsFile::OpenFailure::NotCp1251  ? " (not Windows-1251 text)"
                                  : why == TSettingsFile::OpenFailure::TooLarge ? " (too large)"
                                                                                : ""));
        choice = ReadRunChoice(*file);
    } else {
        choice = FreshRunChoice();
    }

    TRecordSink sink;
    TStoreOutput store;
    std::vector<TRecordColumn> columns;
    if (!options.List) {
        const QString error = ApplyOptions(options, choice);
        if (!error.isEmpty())
            return Usage(error);
        columns = RecordColumns(choice.Config);
        QString openError;
        bool exists = false;
        const auto existing = options.Append  ? TRecordSink::TExisting::Append
                              : options.Force ? TRecordSink::TExisting::Replace
                                              : TRecordSink::TExisting::Refuse;
        if (!sink.Open(options.OutputPath, existing, options.Tee, openError, exists))
            return Usage(openError);
        if (options.Append && !sink.Empty()) {
            const QString mismatch =
                AppendMismatch(options.Format, columns, RunIdentity(options), sink.FirstLine());
            if (!mismatch.isEmpty())
                return Usage(QStringLiteral("--append: %1 does not take this run's lines: %2")
                                 .arg(options.OutputPath, mismatch));
        }
        if (!store.Open(options, openError))
            return Usage(openError);
        if (sink.UnfinishedBytes() > 0)
            PrintError(QStringLiteral("km808-measure: %1 ends in an unfinished line (%2 bytes after its last "
                                      "line end); they are cut off before the first new line")
                           .arg(options.OutputPath)
                           .arg(sink.UnfinishedBytes()));
    }

    InstallSignalHandlers();
    auto device = std::make_unique<TDeviceState>();
    if (options.List) {
        const bool listed = ListModules(*device, [](const QString& text) { PrintDeviceFailure(text); });
        PrintDetectionNotes(*device);
        if (!listed)
            return ExitFailed;
        PrintList(*device);
        return ExitDone;
    }
    std::vector<TModuleTask> tasks;
    if (options.Modules.empty()) {
        TModuleTask& task = tasks.emplace_back();
        task.Choice = choice;
        task.Device = std::move(device);
        if (const int status = OpenWantedModule(*task.Device, options, choice); status != ExitDone)
            return status;
    } else if (const int status = OpenListedModules(options, choice, tasks); status != ExitDone) {
        return status;
    }
    return MeasureModules(tasks, options, columns, sink, store);
}
