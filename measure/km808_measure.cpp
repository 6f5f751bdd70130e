// km808-measure: measures with a KM808 module from the command line on the
// window's measurement engine, and records one line per block.
#include "acquisition/MeasurementCycle.h"
#include "device/CrateQueries.h"
#include "device/DetectionTables.h"
#include "device/DeviceRecords.h"
#include "device/ModuleOpening.h"
#include "measure/AppendCheck.h"
#include "measure/BlockRecord.h"
#include "measure/MeasureOptions.h"
#include "measure/ModuleChoice.h"
#include "measure/Printable.h"
#include "measure/RecordSink.h"
#include "measure/RunChoice.h"
#include "settings/TSettingsFile.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>

#include <unistd.h>

namespace {

volatile std::sig_atomic_t Signalled = 0;
// The running cycle's stop request; lock-free, so the handler may set it.
std::atomic<std::atomic<bool>*> StopRequest{nullptr};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<std::atomic<bool>*>::is_always_lock_free);

void OnSignal(int) {
    Signalled = 1;
    if (std::atomic<bool>* stop = StopRequest.load())
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
    // Only the first failure of a run is shown, as in the window.
    void Report(const QString& text) override {
        if (MessageShown.exchange(true))
            return;
        PrintDeviceFailure(text);
    }
};

// The crate list and slot types, read before any module is opened. False
// after the failure's text.
bool ReadListing(char listed[16][16], TCrateListing& listing) {
    if (!ListCrates(listed)) {
        PrintDeviceFailure(QStringLiteral("Не могу найти ни одного QIRA крейта!"));
        return false;
    }
    uint16_t count = 0;
    while (count < 16 && listed[count][0] != 0)
        ++count;
    uint16_t types[16][16] = {};
    if (!ReadSlotTypes(listed, count, types)) {
        PrintDeviceFailure(
            QStringLiteral("km808-measure: the crate server did not tell the slot types of its crates"));
        return false;
    }
    for (uint16_t i = 0; i < count; ++i) {
        listing.Serials << FixedText(listed[i], 16);
        std::array<uint16_t, 16> row{};
        std::copy(std::begin(types[i]), std::end(types[i]), row.begin());
        listing.Types.push_back(row);
    }
    return true;
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
int MeasureOpenedModule(TDeviceState& device, const TMeasureOptions& options, TRunChoice& choice,
                        const std::vector<TRecordColumn>& columns, TRecordSink& sink) {
    // The window loads the module's own coefficients after each opening.
    KM808_CONTROL& module = device.ModuleControl;
    UseModuleCoefficients(module, choice.Config.Settings.LoadedCoefs);

    const QString crate = FixedText(device.CrateSerials[device.SelectedCrateIndex], 16);
    const int slot =
        device.ModuleSlots[device.SelectedCrateIndex][device.SelectedModuleIndex[device.SelectedCrateIndex]];
    TRunSummary summary(columns);
    const bool stderrTerminal = isatty(STDERR_FILENO) == 1;
    TProgress progress(stderrTerminal, options.Blocks);
    // A progress line on the terminal the data lines go to is cleared first.
    const bool sharedTerminal =
        stderrTerminal && isatty(STDOUT_FILENO) == 1 && (options.OutputPath.isEmpty() || options.Tee);
    bool writeFailed = false;
    QString writeError;
    // The csv header goes out with the first block, so that a run that
    // measures nothing writes nothing.
    QByteArray header = sink.Empty() ? HeaderLine(options.Format, columns) : QByteArray();

    auto cycle = std::make_unique<TClientCycle>(&module);
    StopRequest.store(&cycle->Terminated);
    if (Signalled)
        cycle->Terminated = true;

    if (!cycle->Stopping() && StartRun(*cycle, choice.Config)) {
        if (!options.Quiet)
            PrintStart(device, *cycle);
        QElapsedTimer clock;
        clock.start();
        for (long long block = 1; !cycle->Stopping(); ++block) {
            if (!MeasureBlock(*cycle, choice.Config.Channels.Active))
                break;
            const TBlockValues values = TakeBlock(cycle->Reading, columns);
            if (sharedTerminal)
                progress.Clear();
            if (!sink.Write(header + BlockLine(options.Format, columns, values, crate, slot), writeError)) {
                // A reader that goes away on purpose (| head) ends the run
                // without a failure; with a file the lines go on to it.
                if (!sink.ReaderGone()) {
                    writeFailed = true;
                    break;
                }
                sink.StopStdout();
                if (!sink.HasFile())
                    break;
            }
            header.clear();
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
    StopRequest.store(nullptr);
    CloseModuleIfOpen(device);

    progress.Clear();
    if (writeFailed)
        PrintError(QStringLiteral("km808-measure: ") + writeError);
    if (!options.Quiet)
        PrintError(summary.Text().chopped(1));
    return writeFailed || cycle->MessageShown ? ExitFailed : ExitDone;
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
            const QString mismatch = AppendMismatch(options.Format, columns, sink.FirstLine());
            if (!mismatch.isEmpty())
                return Usage(QStringLiteral("--append: %1 does not take this run's lines: %2")
                                 .arg(options.OutputPath, mismatch));
        }
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
    if (const int status = OpenWantedModule(*device, options, choice); status != ExitDone)
        return status;
    return MeasureOpenedModule(*device, options, choice, columns, sink);
}
