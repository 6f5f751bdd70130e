// km808-measure: measures with a KM808 module from the command line on the
// window's measurement engine, and records one line per block.
#include "acquisition/MeasurementCycle.h"
#include "device/CrateQueries.h"
#include "device/DetectionTables.h"
#include "device/DeviceRecords.h"
#include "measure/BlockClock.h"
#include "measure/BlockRecord.h"
#include "measure/MeasureOptions.h"
#include "measure/RecordSink.h"
#include "measure/RunChoice.h"
#include "measure/StoreOutput.h"
#include "settings/TSettingsFile.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSysInfo>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
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

class TClientCycle final : public TMeasurementCycle {
public:
    using TMeasurementCycle::TMeasurementCycle;
    // Only the first failure of a run is shown, as in the window.
    void Report(const QString& text) override {
        if (MessageShown.exchange(true))
            return;
        PrintError(text);
    }
};

// Crate checks that need only the crate server: a crate the command line
// names that does not exist is refused before any module is opened.
int CheckWantedCrate(const TMeasureOptions& options) {
    char listed[16][16] = {};
    if (!ListCrates(listed)) {
        PrintError(QStringLiteral("Не могу найти ни одного QIRA крейта!"));
        return ExitFailed;
    }
    uint16_t count = 0;
    while (count < 16 && listed[count][0] != 0)
        ++count;
    QStringList serials;
    int wanted = -1;
    for (uint16_t i = 0; i < count; ++i) {
        serials << FixedText(listed[i], 16);
        if (serials.back() == options.CrateSerial)
            wanted = i;
    }
    if (!options.CrateSerial.isEmpty() && wanted < 0)
        return Usage(QStringLiteral("--crate: the crate server has no crate '%1' (it has: %2)")
                         .arg(options.CrateSerial, serials.isEmpty() ? "none" : serials.join(", ")));
    uint16_t types[16][16] = {};
    if (!ReadSlotTypes(listed, count, types))
        return ExitDone; // the listing that follows reports it as the window does
    int withKm808 = 0;
    for (uint16_t i = 0; i < count; ++i)
        withKm808 += std::count(std::begin(types[i]), std::end(types[i]), Km808TypeCode) > 0;
    if (options.CrateNumber > withKm808)
        return Usage(QStringLiteral("--crate: %1, but the crate server has %2 crate(s) with a KM808")
                         .arg(options.CrateNumber)
                         .arg(withKm808));
    if (wanted >= 0 && options.Slot > 0 && types[wanted][options.Slot - 1] != Km808TypeCode)
        return Usage(QStringLiteral("--slot: slot %1 of crate '%2' holds no KM808")
                         .arg(options.Slot)
                         .arg(options.CrateSerial));
    return ExitDone;
}

void PrintList(const TDeviceState& device) {
    QString text;
    for (uint16_t c = 0; c < device.CrateCount; ++c) {
        text += CrateItemText(c, device.CrateSerials[c]) + "\n";
        for (uint16_t m = 0; m < device.ModuleCount[c]; ++m)
            text += "  " + ModuleItemText(device.ModuleSlots[c][m]) + "  " +
                    FixedText(device.ModuleSerials[c][m], 16) + "\n";
    }
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}

// Chooses the crate and module as the command line or the settings file ask.
// False after the failure's text.
bool ChooseModule(TDeviceState& device, const TMeasureOptions& options, const TRunChoice& choice) {
    const int16_t slot = options.Slot > 0 ? int16_t(options.Slot) : choice.WantedSlot;
    if (options.CrateNumber > 0) {
        if (options.CrateNumber > device.CrateCount) {
            PrintError(
                QStringLiteral("Не могу проинициализировать QIRA крейт с модулями в указанном слоте!"));
            return false;
        }
        PreselectWanted(device, FixedText(device.CrateSerials[options.CrateNumber - 1], 16), slot);
    } else {
        const QString serial = options.CrateSerial.isEmpty() ? choice.WantedCrateSerial : options.CrateSerial;
        PreselectWanted(device, serial, slot);
        // A crate whose modules all failed to answer is not listed.
        if (!options.CrateSerial.isEmpty() &&
            FixedText(device.CrateSerials[device.SelectedCrateIndex], 16) != options.CrateSerial) {
            PrintError(
                QStringLiteral("Не могу проинициализировать QIRA крейт с модулями в указанном слоте!"));
            return false;
        }
    }
    // The stored slot counts only in the stored crate; a slot on the command
    // line counts in whichever crate was chosen.
    if (options.Slot > 0) {
        const uint16_t c = device.SelectedCrateIndex;
        const uint16_t* begin = device.ModuleSlots[c];
        const uint16_t* found = std::find(begin, begin + device.ModuleCount[c], uint16_t(options.Slot));
        if (found == begin + device.ModuleCount[c]) {
            PrintError(QStringLiteral("Не могу проинициализировать модуль в указанном слоте!"));
            return false;
        }
        device.SelectedModuleIndex[c] = uint16_t(found - begin);
    }
    return true;
}

class TProgress {
public:
    explicit TProgress(bool shown) : Shown(shown) {}
    void Block(long long block, double seconds) {
        if (!Shown)
            return;
        std::fprintf(stderr, "\r\033[Kblock %lld, %.1f s", block, seconds);
        std::fflush(stderr);
        Used = true;
    }
    void Clear() {
        if (Used)
            std::fputs("\r\033[K", stderr);
        Used = false;
    }

private:
    bool Shown;
    bool Used = false;
};

} // namespace

int main(int argc, char* argv[]) {
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const TParseResult parsed = ParseArguments(args);
    if (!parsed.Error.isEmpty())
        return Usage(parsed.Error);
    const TMeasureOptions& options = parsed.Options;
    if (options.Help) {
        const QByteArray help = HelpText().toUtf8();
        std::fwrite(help.constData(), 1, size_t(help.size()), stdout);
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
    if (!options.List) {
        const QString error = ApplyOptions(options, choice);
        if (!error.isEmpty())
            return Usage(error);
        QString openError;
        bool exists = false;
        const auto existing = options.Append  ? TRecordSink::TExisting::Append
                              : options.Force ? TRecordSink::TExisting::Replace
                                              : TRecordSink::TExisting::Refuse;
        if (!sink.Open(options.OutputPath, existing, options.Tee, openError, exists))
            return Usage(openError);
        if (!store.Open(options, openError))
            return Usage(openError);
    }

    InstallSignalHandlers();
    if (const int status = CheckWantedCrate(options); status != ExitDone)
        return status;

    auto device = std::make_unique<TDeviceState>();
    bool listed = ListModules(*device, [](const QString& text) { PrintError(text); });
    if (!listed)
        return ExitFailed;
    if (options.List) {
        PrintList(*device);
        return ExitDone;
    }
    if (!ChooseModule(*device, options, choice))
        return ExitFailed;
    if (!OpenChosenModule(*device)) {
        CloseModuleIfOpen(*device);
        PrintError(QStringLiteral("Не могу проинициализировать модуль в указанном слоте!"));
        return ExitFailed;
    }
    // The window loads the module's own coefficients after each opening.
    KM808_CONTROL& module = device->ModuleControl;
    UseModuleCoefficients(module, choice.Config.Settings.LoadedCoefs);

    const std::vector<TRecordColumn> columns = RecordColumns(choice.Config);
    const QString crate = FixedText(device->CrateSerials[device->SelectedCrateIndex], 16);
    const int slot = device->ModuleSlots[device->SelectedCrateIndex]
                                        [device->SelectedModuleIndex[device->SelectedCrateIndex]];
    TPointIdentity identity;
    identity.Measurement = options.Measurement;
    identity.Crate = crate;
    identity.Slot = slot;
    identity.Serial = FixedText(module.SerialNumber, 16);
    identity.Host = QSysInfo::machineHostName();
    identity.Tags = options.Tags;
    TRunSummary summary(columns);
    TProgress progress(isatty(STDERR_FILENO) == 1);
    bool writeFailed = false;
    QString writeError;

    auto cycle = std::make_unique<TClientCycle>(&module);
    StopRequest.store(&cycle->Terminated);
    if (Signalled)
        cycle->Terminated = true;
    if (sink.Empty() && !sink.Write(HeaderLine(options.Format, columns, identity), writeError))
        writeFailed = true;

    if (!writeFailed && !cycle->Stopping() && StartRun(*cycle, choice.Config)) {
        QElapsedTimer clock;
        clock.start();
        TBlockClock stamps;
        for (long long block = 1; !cycle->Stopping(); ++block) {
            if (!MeasureBlock(*cycle, choice.Config.Channels.Active))
                break;
            const TBlockValues values =
                TakeBlock(*cycle, choice.Config.Settings.ValueFormats, columns, block, stamps.Next());
            // The spool first: after a kill between the two, the store has the
            // block and the file not, rather than a block the store never gets.
            if ((store.Active() &&
                 !store.Write(BlockLine(TOutputFormat::Influx, columns, values, identity), writeError)) ||
                !sink.Write(BlockLine(options.Format, columns, values, identity), writeError)) {
                writeFailed = true;
                break;
            }
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
    CloseModuleIfOpen(*device);

    progress.Clear();
    if (writeFailed)
        PrintError(QStringLiteral("km808-measure: ") + writeError);
    // The store gets a few seconds for what is still unsent; the spool keeps the rest.
    if (const QString left = store.Finish(5000); !left.isEmpty())
        PrintError(QStringLiteral("km808-measure: ") + left);
    if (!options.Quiet)
        PrintError(summary.Text().chopped(1));
    return writeFailed || cycle->MessageShown ? ExitFailed : ExitDone;
}
