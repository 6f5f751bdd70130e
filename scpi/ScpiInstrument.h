// The module as an SCPI instrument: the shared measurement set-up, the run
// and its last block, the one controlling session, and the command table that
// every session's lines go through. No sockets and no module here: the engine
// is reached through TScpiAcquisition, so the whole command set runs in unit
// tests without a crate.
#pragma once

#include <QByteArray>
#include <QList>

#include <functional>
#include <map>
#include <vector>

#include "acquisition/MeasurementCycle.h"
#include "scpi/ScpiParser.h"
#include "scpi/ScpiStatus.h"

// One complete block as the clients see it.
struct TScpiBlock {
    unsigned Channels = 0;  // the channels that measured (bit n-1: channel n)
    double Values[16] = {}; // volts or ohms
    bool OverRange[16] = {};
    double Period = 0.0; // seconds since the run's previous block; 0 for its first
};

// The engine as the instrument drives it. Start begins (or restarts) a free
// running run; blocks and failures come back through the instrument's
// BlockDone and RunFailed with the run's number.
class TScpiAcquisition {
public:
    virtual ~TScpiAcquisition() = default;
    virtual void Start(const TMeasurementConfig& config, long long run) = 0;
    virtual void Stop() = 0;
};

struct TScpiIdentity {
    QByteArray Crate;
    int Slot = 0;
    QByteArray Serial;
    QByteArray Firmware; // "1.2"
};

// One client's side: its status, its place in a line, a query that waits.
class TScpiSession {
public:
    TScpiStatus Status;
    bool Waiting() const { return WaitFor != 0; }

private:
    friend class TScpiInstrument;
    std::vector<QByteArray> Units;
    size_t Next = 0;
    QList<QByteArray> Path;
    QList<QByteArray> Responses;
    // The block number a query waits for; negative once its run stopped.
    long long WaitFor = 0;
    unsigned WaitChannels = 0;
    bool WaitOverRange = false;
};

class TScpiInstrument {
public:
    // fresh: the set-up *RST returns to.
    TScpiInstrument(TScpiAcquisition& acquisition, TScpiIdentity identity, const TMeasurementConfig& fresh);
    TScpiInstrument(const TScpiInstrument&) = delete;
    TScpiInstrument& operator=(const TScpiInstrument&) = delete;

    void Attach(TScpiSession& session);
    // Releases the session's control; a waiting query is dropped.
    void Detach(TScpiSession& session);

    // Runs one line (without its terminator) of a session that is not
    // waiting. The response with its '\n' once the line is complete; empty
    // while a query waits for a block, or when the line has no query.
    QByteArray Execute(TScpiSession& session, const QByteArray& line);
    // Goes on with a waiting session's line after a block or a stop.
    QByteArray Resume(TScpiSession& session);

    void BlockDone(const TScpiBlock& block, long long run);
    // The run ended on the engine's failure: -240 to every session.
    void RunFailed(const QByteArray& text, long long run);
    // Stops a run, as ABORt does (the server's end).
    void Abort();

    bool Running() const { return IsRunning; }
    const TScpiSession* Controller() const { return ControllingSession; }

private:
    using THandler = std::function<int(TScpiSession&, const TScpiUnit&, QByteArray&)>;
    struct TCommand {
        const char* Pattern;
        bool Query;
        THandler Handler;
    };
    static constexpr int Wait = 1;      // a handler's "the query waits for a block"
    static constexpr int Reported = -1; // a handler's "refused, the error is queued"

    void Define();
    QByteArray Continue(TScpiSession& s);
    int RunUnit(TScpiSession& s, const QByteArray& text);
    const TCommand* Find(const QList<QByteArray>& nodes, bool query) const;

    bool Claim(TScpiSession& s);
    int Control(TScpiSession& s); // 0 when s may change the set-up
    void SettingsChanged();
    int StartRun(TScpiSession& s);
    int Fetch(TScpiSession& s, const TScpiUnit& u, QByteArray& response, bool overRange);
    int Answer(TScpiSession& s, QByteArray& response);
    int WaitForBlock(TScpiSession& s, long long number, unsigned channels, bool overRange);
    int ChannelsParam(const TScpiUnit& u, size_t index, unsigned& channels, bool required);
    int RangeCommand(TScpiSession& s, const TScpiUnit& u, bool resistance, bool configure);
    int RangeIndex(const TScpiNumber& n, bool resistance, int& index);

    TScpiAcquisition& Acquisition;
    const TScpiIdentity Identity;
    const TMeasurementConfig Fresh;
    std::vector<TCommand> Commands;
    std::map<QByteArray, THandler> CommonCommands;
    std::vector<TScpiSession*> Sessions;
    TScpiSession* ControllingSession = nullptr;

    // The set-up: Config's ranges, rate, correction and settings; which
    // channels measure and which of them measure resistance.
    TMeasurementConfig Config;
    unsigned Scan = 0;
    unsigned ResistanceSet = 0;

    bool IsRunning = false;
    long long Run = 0;
    long long BlockNumber = 0; // blocks of the current set-up, counted on
    bool HaveBlock = false;
    TScpiBlock LastBlock;
    double Period = 0.0;
};
