// The command line of km808-measure: what it accepts and what it means. A bad
// option is refused here, before anything reaches a crate or a module.
#pragma once

#include <QString>
#include <QStringList>

#include <vector>

#include "record/OutputFormat.h"

// One --range: for every channel (Channel 0) or for channel 1..16.
struct TRangeOption {
    int Channel = 0;
    bool Resistance = false;
    int Index = 0; // into ModuleTables::RangesU or RangesR
};

// One --module CRATE:SLOT.
struct TModuleOption {
    QString CrateSerial;
    int CrateNumber = 0;
    int Slot = 0;
};

struct TMeasureOptions {
    bool Help = false;
    bool Version = false;
    bool List = false;

    QString CrateSerial; // --crate SERIAL
    int CrateNumber = 0; // --crate N, 1-based as the window lists them; 0: not given
    int Slot = 0;        // 0: not given
    // A named module that is not there or busy may be replaced by the first
    // KM808 found, as the window does.
    bool AnyModule = false;
    std::vector<TModuleOption> Modules; // --module, in command-line order
    bool ChannelsGiven = false;
    bool Channels[16] = {};
    std::vector<TRangeOption> Ranges; // in command-line order: the later wins
    int RateIndex = -1;               // -1: not given
    int CorrectionMode = -1;          // -1: not given
    double Time = 0.0;                // 0: not given
    QString Method;                   // empty: not given
    QString SettingsPath;

    long long Blocks = 0;  // 0: no limit
    double Duration = 0.0; // 0: no limit
    TOutputFormat Format = TOutputFormat::Csv;
    QString OutputPath;
    bool Append = false;
    bool Force = false;
    bool Tee = false;
    bool Quiet = false;
    QString Measurement = QStringLiteral("km808");
    std::vector<std::pair<QString, QString>> Tags; // --tag KEY=VALUE, in order

    // Delivery to an InfluxDB 1.x through a disk spool; off without a URL.
    QString InfluxUrl;
    QString InfluxDb;
    QString InfluxPrecision = QStringLiteral("ms");
    QString InfluxCredentials; // a file; empty: the environment
    QString SpoolDir;          // empty: DefaultSpoolDirectory()
    long long SpoolMax = 1LL << 30;
};

struct TParseResult {
    TMeasureOptions Options;
    QString Error; // empty when the command line is good
};

// args: the arguments without the program's name.
TParseResult ParseArguments(const QStringList& args);

QString HelpText();

// Exit codes, as --help gives them.
inline constexpr int ExitDone = 0;
inline constexpr int ExitFailed = 1;
inline constexpr int ExitUsage = 2;
