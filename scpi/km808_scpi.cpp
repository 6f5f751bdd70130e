// km808-scpi: a KM808 module as an SCPI instrument on a TCP socket, on the
// window's measurement engine.
#include "discovery/DetectionTables.h"
#include "measure/MeasureOptions.h"
#include "measure/ModuleChoice.h"
#include "measure/RunChoice.h"
#include "scpi/AcquisitionWorker.h"
#include "scpi/ScpiOptions.h"
#include "scpi/ScpiServer.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <memory>

#include <sys/socket.h>
#include <unistd.h>

namespace {

int SignalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(SignalPipe[1], &byte, 1);
}

void InstallSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // the libraries retry an interrupted wait
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A client gone mid-write must not end the server.
    std::signal(SIGPIPE, SIG_IGN);
}

void PrintError(const QString& text) {
    const QByteArray bytes = (QStringLiteral("km808-scpi: ") + text + "\n").toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

// The module the command line names, by km808-measure's rules, opened from
// the detection tables; the first KM808 found when none is named. False after
// the failure's text.
bool OpenWantedModule(TDeviceState& device, const TScpiOptions& options) {
    char listed[16][16] = {};
    TCrateListing listing;
    switch (ReadCrateListing(listed, listing)) {
    case TListingFailure::None:
        break;
    case TListingFailure::NoCrates:
        PrintError(QStringLiteral("Не могу найти ни одного QIRA крейта!"));
        return false;
    case TListingFailure::NoSlotTypes:
        PrintError(QStringLiteral("the crate server did not tell the slot types of its crates"));
        return false;
    }
    TMeasureOptions asked;
    asked.CrateSerial = options.CrateSerial;
    asked.CrateNumber = options.CrateNumber;
    asked.Slot = options.Slot;
    const TNamedModule named = NameModule(asked, TRunChoice(), listing);
    if (!named.Missing.isEmpty()) {
        PrintError(named.Missing);
        return false;
    }

    if (!ListModules(device, [](const QString& text) { PrintError(text); }))
        return false;
    PreselectWanted(device, named.Crate, named.Named ? int16_t(named.Slot) : int16_t(-1));
    const uint16_t c = device.SelectedCrateIndex;
    // A named module that did not answer the detection is not replaced by
    // another: a client would take that one's readings for the named one's.
    if (named.Named && (c >= device.CrateCount || FixedText(device.CrateSerials[c], 16) != named.Crate ||
                        device.ModuleSlots[c][device.SelectedModuleIndex[c]] != named.Slot)) {
        PrintError(QStringLiteral("crate '%1' slot %2: the module does not answer")
                       .arg(named.Crate)
                       .arg(named.Slot));
        return false;
    }
    if (device.CrateCount == 0 || !OpenChosenModule(device)) {
        CloseModuleIfOpen(device);
        PrintError(QStringLiteral("Не могу проинициализировать модуль в указанном слоте!"));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const TScpiParse parsed = ParseScpiArguments(app.arguments().mid(1));
    if (!parsed.Error.isEmpty()) {
        PrintError(parsed.Error);
        return 2;
    }
    const TScpiOptions& options = parsed.Options;
    if (options.Help) {
        std::fputs(ScpiHelpText().toUtf8().constData(), stdout);
        return 0;
    }
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, SignalPipe) != 0) {
        PrintError(QStringLiteral("no signal pipe"));
        return 1;
    }
    InstallSignalHandlers();

    auto device = std::make_unique<TDeviceState>();
    if (!OpenWantedModule(*device, options))
        return 1;
    // The set-up of a fresh settings file, as the window's first start.
    TRunChoice fresh = FreshRunChoice();
    UseModuleCoefficients(device->ModuleControl, fresh.Config.Settings.LoadedCoefs);
    for (int n = 0; n < 16; ++n)
        fresh.Config.Channels.Active[n] = fresh.Checked[n];

    const uint16_t crate = device->SelectedCrateIndex;
    TScpiIdentity identity;
    identity.Crate = FixedText(device->CrateSerials[crate], 16).toLatin1();
    identity.Slot = device->ModuleSlots[crate][device->SelectedModuleIndex[crate]];
    identity.Serial = FixedText(device->ModuleControl.SerialNumber, 16).toLatin1();
    const uint16_t firmware = device->ModuleControl.FirmwareVersion;
    identity.Firmware = QByteArray::number(firmware >> 8) + "." + QByteArray::number(firmware & 0xFF);

    // Declared before the instrument: the thread ends (the module stopped)
    // before anything it reports to goes away.
    std::unique_ptr<TScpiInstrument> instrument;
    std::unique_ptr<TScpiServer> server;
    TAcquisitionWorker worker(
        *device,
        [&](const TScpiBlock& block, long long run) {
            instrument->BlockDone(block, run);
            server->ResumeAll();
        },
        [&](const QByteArray& text, long long run) {
            instrument->RunFailed(text, run);
            server->ResumeAll();
        });
    instrument = std::make_unique<TScpiInstrument>(worker, identity, fresh.Config);
    server = std::make_unique<TScpiServer>(*instrument);
    const QHostAddress address =
        options.Host == "localhost" ? QHostAddress(QHostAddress::LocalHost) : QHostAddress(options.Host);
    int status = 0;
    if (!worker.Usable()) {
        PrintError(QStringLiteral("no event descriptor for the acquisition thread"));
        status = 1;
    } else if (!server->Listen(address, quint16(options.Port))) {
        PrintError(QStringLiteral("--listen: cannot listen on %1:%2").arg(options.Host).arg(options.Port));
        status = 1;
    } else {
        worker.start();
        QSocketNotifier stop(SignalPipe[0], QSocketNotifier::Read);
        QObject::connect(&stop, &QSocketNotifier::activated, &app, [&] { app.quit(); });
        std::printf("listening on %s:%u\n", qPrintable(options.Host), unsigned(server->Port()));
        std::fflush(stdout);
        app.exec();
    }
    worker.Quit();
    server.reset();
    instrument.reset();
    CloseModuleIfOpen(*device);
    return status;
}
