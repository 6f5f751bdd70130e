#include "scpi/ScpiInstrument.h"

#include "acquisition/ModuleTables.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

using namespace ScpiError;

namespace {

constexpr unsigned AllChannels = 0xFFFF;
constexpr unsigned ResistanceChannelSet = (1u << ModuleTables::ResistanceChannels) - 1;
// What SCPI instruments answer for a reading that is not one.
constexpr double OverRangeValue = 9.9e37;
constexpr double NotANumber = 9.91e37;
constexpr double MinAperture = 0.01;
constexpr double MaxAperture = 3600.0;

QByteArray Number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%+.9E", v);
    return text;
}

int Count(const TScpiUnit& u, size_t least, size_t most) {
    if (u.Params.size() < least)
        return MissingParameter;
    if (u.Params.size() > most)
        return ParameterNotAllowed;
    return 0;
}

int Integer(const QByteArray& text, int least, int most, int& value) {
    TScpiNumber n;
    if (const int e = ParseNumber(text, n, false))
        return e;
    if (n.Value < least || n.Value > most)
        return DataOutOfRange;
    value = int(std::lround(n.Value));
    return 0;
}

// A keyword parameter: the index of the long form it matches, or -1.
int Keyword(const QByteArray& text, std::initializer_list<const char*> forms) {
    QByteArray t = text.toUpper();
    if (t.size() >= 2 && (t.front() == '"' || t.front() == '\'') && t.back() == t.front())
        t = t.mid(1, t.size() - 2);
    int i = 0;
    for (const char* f : forms) {
        if (MatchMnemonic(f, t))
            return i;
        ++i;
    }
    return -1;
}

int RateIndexOf(double hz) {
    for (int i = 0; i < ModuleTables::RateCount; ++i)
        if (std::fabs(hz - ModuleTables::AdcRate(i)) <= 1e-6 * ModuleTables::AdcRate(i))
            return i;
    return -1;
}

} // namespace

TScpiInstrument::TScpiInstrument(TScpiAcquisition& acquisition, TScpiIdentity identity,
                                 const TMeasurementConfig& fresh)
    : Acquisition(acquisition), Identity(std::move(identity)), Fresh(fresh), Config(fresh) {
    for (int n = 0; n < 16; ++n)
        if (fresh.Channels.Active[n])
            Scan |= 1u << n;
    if (Scan == 0)
        Scan = AllChannels;
    Define();
}

void TScpiInstrument::Attach(TScpiSession& session) {
    Sessions.push_back(&session);
}

void TScpiInstrument::Detach(TScpiSession& session) {
    Sessions.erase(std::remove(Sessions.begin(), Sessions.end(), &session), Sessions.end());
    if (ControllingSession == &session)
        ControllingSession = nullptr;
}

QByteArray TScpiInstrument::Execute(TScpiSession& s, const QByteArray& line) {
    s.Units.clear();
    s.Next = 0;
    s.Path.clear();
    s.Responses.clear();
    s.WaitFor = 0;
    const TScpiSplit split = SplitMessage(line);
    if (split.Error) {
        s.Status.PushError(split.Error, "unbalanced quotes or parentheses");
        return {};
    }
    s.Units = split.Units;
    return Continue(s);
}

QByteArray TScpiInstrument::Resume(TScpiSession& s) {
    if (!s.Waiting())
        return {};
    QByteArray response;
    const int e = Answer(s, response);
    if (e == Wait)
        return {};
    if (e && e != Reported)
        s.Status.PushError(e);
    else if (!e)
        s.Responses << response;
    ++s.Next;
    return Continue(s);
}

QByteArray TScpiInstrument::Continue(TScpiSession& s) {
    while (s.Next < s.Units.size()) {
        const int e = RunUnit(s, s.Units[s.Next]);
        if (e == Wait)
            return {};
        ++s.Next;
    }
    if (s.Responses.isEmpty())
        return {};
    QByteArray out = s.Responses.join(';') + "\n";
    s.Responses.clear();
    return out;
}

int TScpiInstrument::RunUnit(TScpiSession& s, const QByteArray& text) {
    TScpiUnit u;
    if (const int e = ParseUnit(text, u)) {
        s.Status.PushError(e, text.left(40));
        return e;
    }
    QByteArray response;
    int e = 0;
    if (u.Common) {
        const QByteArray name = u.Nodes.front() + (u.Query ? "?" : "");
        const auto found = CommonCommands.find(name);
        if (found == CommonCommands.end()) {
            s.Status.PushError(UndefinedHeader, "*" + name);
            return UndefinedHeader;
        }
        e = found->second(s, u, response);
    } else {
        // Relative to the previous header's path first, then from the root,
        // as instruments commonly accept.
        QList<QByteArray> nodes = u.Rooted ? u.Nodes : s.Path + u.Nodes;
        const TCommand* command = Find(nodes, u.Query);
        if (!command && !u.Rooted && !s.Path.isEmpty()) {
            nodes = u.Nodes;
            command = Find(nodes, u.Query);
        }
        if (!command) {
            s.Status.PushError(UndefinedHeader, text.left(40));
            return UndefinedHeader;
        }
        s.Path = nodes.mid(0, nodes.size() - 1);
        e = command->Handler(s, u, response);
    }
    if (e == Wait)
        return Wait;
    if (e) {
        if (e != Reported)
            s.Status.PushError(e);
        return e;
    }
    if (u.Query)
        s.Responses << response;
    return 0;
}

const TScpiInstrument::TCommand* TScpiInstrument::Find(const QList<QByteArray>& nodes, bool query) const {
    for (const TCommand& c : Commands)
        if (c.Query == query && MatchHeader(c.Pattern, nodes))
            return &c;
    return nullptr;
}

bool TScpiInstrument::Claim(TScpiSession& s) {
    if (ControllingSession && ControllingSession != &s)
        return false;
    ControllingSession = &s;
    return true;
}

int TScpiInstrument::Control(TScpiSession& s) {
    if (!Claim(s)) {
        s.Status.PushError(CommandProtected, "another client controls the module");
        return Reported;
    }
    return 0;
}

void TScpiInstrument::SettingsChanged() {
    Abort();
    HaveBlock = false;
}

void TScpiInstrument::Abort() {
    if (IsRunning)
        Acquisition.Stop();
    IsRunning = false;
    // Queries that wait are answered: the run they waited for is gone.
    for (TScpiSession* s : Sessions)
        if (s->WaitFor > BlockNumber)
            s->WaitFor = -s->WaitFor; // marked; Resume answers with an error
}

int TScpiInstrument::StartRun(TScpiSession& s) {
    if (!Claim(s)) {
        s.Status.PushError(CommandProtected, "another client controls the module");
        return Reported;
    }
    if (Scan == 0)
        return SettingsConflict;
    const bool resistance = (Scan & ResistanceSet) != 0;
    if (resistance && (Scan & ~ResistanceSet) != 0) {
        s.Status.PushError(SettingsConflict, "voltage and resistance channels in one scan");
        return Reported;
    }
    TMeasurementConfig run = Config;
    run.Channels.CommonMode = resistance ? 1 : 0;
    for (int n = 0; n < 16; ++n) {
        run.Channels.Active[n] = (Scan >> n) & 1u;
        run.ChannelQuantity[n] = resistance && run.Channels.Active[n] ? 1 : 0;
    }
    ++Run;
    IsRunning = true;
    HaveBlock = false;
    Period = 0.0;
    Acquisition.Start(run, Run);
    return 0;
}

void TScpiInstrument::BlockDone(const TScpiBlock& block, long long run) {
    if (run != Run || !IsRunning)
        return;
    LastBlock = block;
    HaveBlock = true;
    ++BlockNumber;
    if (block.Period > 0.0)
        Period = block.Period;
}

void TScpiInstrument::RunFailed(const QByteArray& text, long long run) {
    if (run != Run || !IsRunning)
        return;
    for (TScpiSession* s : Sessions)
        s->Status.PushError(HardwareError, text);
    Abort();
}

int TScpiInstrument::WaitForBlock(TScpiSession& s, long long number, unsigned channels, bool overRange) {
    s.WaitFor = number;
    s.WaitChannels = channels;
    s.WaitOverRange = overRange;
    return Wait;
}

// FETCh? and FETCh:OVER?: the last complete block, or the first one of a
// run that has none yet.
int TScpiInstrument::Fetch(TScpiSession& s, const TScpiUnit& u, QByteArray& response, bool overRange) {
    unsigned channels = 0;
    if (const int e = Count(u, 0, 1) ? Count(u, 0, 1) : ChannelsParam(u, 0, channels, false))
        return e;
    if (!HaveBlock && !IsRunning)
        return DataStale;
    WaitForBlock(s, HaveBlock ? BlockNumber : BlockNumber + 1, channels, overRange);
    return Answer(s, response);
}

// The answer of a waiting FETCh?/READ? once its block is there, or once
// the run it waited for has stopped.
int TScpiInstrument::Answer(TScpiSession& s, QByteArray& response) {
    const unsigned channels = s.WaitChannels ? s.WaitChannels : HaveBlock ? LastBlock.Channels : Scan;
    if (s.WaitFor < 0 || (!HaveBlock && !IsRunning)) {
        // Not a hang: the client gets a reading that is none, and the reason
        // in its queue.
        s.WaitFor = 0;
        QList<QByteArray> values;
        for (int n = 0; n < 16; ++n)
            if ((channels >> n) & 1u)
                values << Number(NotANumber);
        response = values.join(',');
        s.Status.PushError(DataStale, "the run stopped before the block");
        return 0;
    }
    if (!HaveBlock || BlockNumber < s.WaitFor)
        return Wait;
    s.WaitFor = 0;
    if ((channels & ~LastBlock.Channels) != 0)
        return SettingsConflict;
    QList<QByteArray> values;
    for (int n = 0; n < 16; ++n) {
        if (!((channels >> n) & 1u))
            continue;
        if (s.WaitOverRange)
            values << (LastBlock.OverRange[n] ? "1" : "0");
        else
            values << Number(LastBlock.OverRange[n] ? OverRangeValue : LastBlock.Values[n]);
    }
    response = values.join(',');
    return 0;
}

int TScpiInstrument::ChannelsParam(const TScpiUnit& u, size_t index, unsigned& channels, bool required) {
    channels = 0;
    if (index >= u.Params.size())
        return required ? MissingParameter : 0;
    return ParseChannelList(u.Params[index], channels);
}

int TScpiInstrument::RangeIndex(const TScpiNumber& n, bool resistance, int& index) {
    const double* ranges = resistance ? ModuleTables::RangesR : ModuleTables::RangesU;
    // Index 0 is the widest range.
    if (n.Is == TScpiNumber::Kind::Min) {
        index = resistance ? 0 : 2;
        return 0;
    }
    if (n.Is != TScpiNumber::Kind::Value) {
        index = resistance ? 2 : 0;
        return 0;
    }
    // The smallest range that holds the value, as multimeters choose.
    const double wanted = std::fabs(n.Value);
    index = -1;
    for (int i = 0; i < 3; ++i)
        if (wanted <= ranges[i] * (1 + 1e-9) && (index < 0 || ranges[i] < ranges[index]))
            index = i;
    return index < 0 ? DataOutOfRange : 0;
}

// [SENSe:]<function>:RANGe <range>,(@list), or CONFigure:<function>
// [<range>,](@list), which also sets the scan list to the channels.
int TScpiInstrument::RangeCommand(TScpiSession& s, const TScpiUnit& u, bool resistance, bool configure) {
    if (const int e = Count(u, configure ? 1 : 2, 2))
        return e;
    const bool withRange = u.Params.size() == 2;
    unsigned channels = 0;
    if (const int e = ChannelsParam(u, withRange ? 1 : 0, channels, true))
        return e;
    TScpiNumber n;
    n.Is = TScpiNumber::Kind::Def;
    if (withRange)
        if (const int e = ParseNumber(u.Params[0], n, true))
            return e;
    int index = 0;
    if (const int e = RangeIndex(n, resistance, index))
        return e;
    if (resistance && (channels & ~ResistanceChannelSet)) {
        s.Status.PushError(DataOutOfRange, "resistance on channels 1..8 only");
        return Reported;
    }
    if (const int e = Control(s))
        return e;
    SettingsChanged();
    for (int c = 0; c < 16; ++c) {
        if (!((channels >> c) & 1u))
            continue;
        (resistance ? Config.Channels.RangeR : Config.Channels.RangeU)[c] = index;
        if (configure) {
            if (resistance)
                ResistanceSet |= 1u << c;
            else
                ResistanceSet &= ~(1u << c);
        }
    }
    if (configure)
        Scan = channels;
    return 0;
}

void TScpiInstrument::Define() {
    auto numberQuery = [](const TScpiUnit& u, double value, double least, double most, double def,
                          QByteArray& r) {
        if (const int e = Count(u, 0, 1))
            return e;
        TScpiNumber n;
        if (!u.Params.empty()) {
            if (const int e = ParseNumber(u.Params[0], n, true))
                return e;
            if (n.Is == TScpiNumber::Kind::Value)
                return DataTypeError;
        }
        r = Number(n.Is == TScpiNumber::Kind::Min   ? least
                   : n.Is == TScpiNumber::Kind::Max ? most
                   : n.Is == TScpiNumber::Kind::Def ? def
                                                    : value);
        return 0;
    };
    auto noParams = [](const TScpiUnit& u) { return Count(u, 0, 0); };
    auto integerSetting = [](const TScpiUnit& u, int& target) {
        if (const int e = Count(u, 1, 1))
            return e;
        return Integer(u.Params[0], 0, 255, target);
    };

    CommonCommands = {
        {"IDN?",
         [this, noParams](TScpiSession&, const TScpiUnit& u, QByteArray& r) {
             r = "KM808_Viza,KM808," + Identity.Serial + "," + Identity.Firmware;
             return noParams(u);
         }},
        {"RST",
         [this, noParams](TScpiSession& s, const TScpiUnit& u, QByteArray&) {
             if (const int e = noParams(u))
                 return e;
             if (const int e = Control(s))
                 return e;
             SettingsChanged();
             Config = Fresh;
             ResistanceSet = 0;
             Scan = 0;
             for (int n = 0; n < 16; ++n)
                 if (Fresh.Channels.Active[n])
                     Scan |= 1u << n;
             if (Scan == 0)
                 Scan = AllChannels;
             return 0;
         }},
        {"CLS",
         [noParams](TScpiSession& s, const TScpiUnit& u, QByteArray&) {
             if (const int e = noParams(u))
                 return e;
             s.Status.Clear();
             return 0;
         }},
        {"OPC",
         [noParams](TScpiSession& s, const TScpiUnit& u, QByteArray&) {
             if (const int e = noParams(u))
                 return e;
             s.Status.SetOperationComplete();
             return 0;
         }},
        // Commands run in order and a run is free running, not pending:
        // everything before *OPC? is done when it is reached.
        {"OPC?",
         [noParams](TScpiSession&, const TScpiUnit& u, QByteArray& r) {
             r = "1";
             return noParams(u);
         }},
        {"WAI", [noParams](TScpiSession&, const TScpiUnit& u, QByteArray&) { return noParams(u); }},
        {"ESR?",
         [noParams](TScpiSession& s, const TScpiUnit& u, QByteArray& r) {
             if (const int e = noParams(u))
                 return e;
             r = QByteArray::number(s.Status.TakeEventStatus());
             return 0;
         }},
        {"ESE", [integerSetting](TScpiSession& s, const TScpiUnit& u,
                                 QByteArray&) { return integerSetting(u, s.Status.EventEnable); }},
        {"ESE?",
         [noParams](TScpiSession& s, const TScpiUnit& u, QByteArray& r) {
             r = QByteArray::number(s.Status.EventEnable);
             return noParams(u);
         }},
        {"SRE", [integerSetting](TScpiSession& s, const TScpiUnit& u,
                                 QByteArray&) { return integerSetting(u, s.Status.ServiceEnable); }},
        {"SRE?",
         [noParams](TScpiSession& s, const TScpiUnit& u, QByteArray& r) {
             r = QByteArray::number(s.Status.ServiceEnable);
             return noParams(u);
         }},
        {"STB?",
         [noParams](TScpiSession& s, const TScpiUnit& u, QByteArray& r) {
             r = QByteArray::number(s.Status.StatusByte());
             return noParams(u);
         }},
        {"TST?",
         [noParams](TScpiSession&, const TScpiUnit& u, QByteArray& r) {
             r = "0";
             return noParams(u);
         }},
    };

    Commands = {
        {"SYSTem:ERRor[:NEXT]", true,
         [noParams](TScpiSession& s, const TScpiUnit& u, QByteArray& r) {
             if (const int e = noParams(u))
                 return e;
             r = s.Status.PopError();
             return 0;
         }},
        {"SYSTem:ERRor:COUNt", true,
         [noParams](TScpiSession& s, const TScpiUnit& u, QByteArray& r) {
             r = QByteArray::number(s.Status.ErrorCount());
             return noParams(u);
         }},
        {"SYSTem:VERSion", true,
         [noParams](TScpiSession&, const TScpiUnit& u, QByteArray& r) {
             r = "1999.0";
             return noParams(u);
         }},
        {"SYSTem:LOCK[:REQuest]", true,
         [this, noParams](TScpiSession& s, const TScpiUnit& u, QByteArray& r) {
             if (const int e = noParams(u))
                 return e;
             r = Claim(s) ? "1" : "0";
             return 0;
         }},
        {"SYSTem:LOCK:RELease", false,
         [this, noParams](TScpiSession& s, const TScpiUnit& u, QByteArray&) {
             if (const int e = noParams(u))
                 return e;
             if (ControllingSession == &s)
                 ControllingSession = nullptr;
             return 0;
         }},
        {"SYSTem:LOCK:OWNer", true,
         [this, noParams](TScpiSession& s, const TScpiUnit& u, QByteArray& r) {
             r = !ControllingSession ? "NONE" : ControllingSession == &s ? "SELF" : "OTHER";
             return noParams(u);
         }},
        {"SYSTem:MODule", true,
         [this, noParams](TScpiSession&, const TScpiUnit& u, QByteArray& r) {
             r = "\"" + Identity.Crate + "\"," + QByteArray::number(Identity.Slot) + ",\"" + Identity.Serial +
                 "\"";
             return noParams(u);
         }},
        {"CONFigure:VOLTage[:DC]", false,
         [this](TScpiSession& s, const TScpiUnit& u, QByteArray&) {
             return RangeCommand(s, u, false, true);
         }},
        {"CONFigure:RESistance", false,
         [this](TScpiSession& s, const TScpiUnit& u, QByteArray&) { return RangeCommand(s, u, true, true); }},
        {"[SENSe:]VOLTage[:DC]:RANGe", false,
         [this](TScpiSession& s, const TScpiUnit& u, QByteArray&) {
             return RangeCommand(s, u, false, false);
         }},
        {"[SENSe:]RESistance:RANGe", false,
         [this](TScpiSession& s, const TScpiUnit& u, QByteArray&) {
             return RangeCommand(s, u, true, false);
         }},
        {"[SENSe:]VOLTage[:DC]:RANGe", true,
         [this](TScpiSession&, const TScpiUnit& u, QByteArray& r) {
             unsigned channels = 0;
             if (const int e = Count(u, 1, 1) ? Count(u, 1, 1) : ChannelsParam(u, 0, channels, true))
                 return e;
             QList<QByteArray> values;
             for (int c = 0; c < 16; ++c)
                 if ((channels >> c) & 1u)
                     values << Number(ModuleTables::RangesU[std::clamp(Config.Channels.RangeU[c], 0, 2)]);
             r = values.join(',');
             return 0;
         }},
        {"[SENSe:]RESistance:RANGe", true,
         [this](TScpiSession&, const TScpiUnit& u, QByteArray& r) {
             unsigned channels = 0;
             if (const int e = Count(u, 1, 1) ? Count(u, 1, 1) : ChannelsParam(u, 0, channels, true))
                 return e;
             if (channels & ~ResistanceChannelSet)
                 return DataOutOfRange;
             QList<QByteArray> values;
             for (int c = 0; c < 16; ++c)
                 if ((channels >> c) & 1u)
                     values << Number(ModuleTables::RangesR[std::clamp(Config.Channels.RangeR[c], 0, 2)]);
             r = values.join(',');
             return 0;
         }},
        {"[SENSe:]FUNCtion", true,
         [this](TScpiSession&, const TScpiUnit& u, QByteArray& r) {
             unsigned channels = 0;
             if (const int e = Count(u, 1, 1) ? Count(u, 1, 1) : ChannelsParam(u, 0, channels, true))
                 return e;
             QList<QByteArray> values;
             for (int c = 0; c < 16; ++c)
                 if ((channels >> c) & 1u)
                     values << (((ResistanceSet >> c) & 1u) ? "\"RES\"" : "\"VOLT:DC\"");
             r = values.join(',');
             return 0;
         }},
        {"ROUTe:SCAN", false,
         [this](TScpiSession& s, const TScpiUnit& u, QByteArray&) {
             unsigned channels = 0;
             if (const int e = Count(u, 1, 1) ? Count(u, 1, 1) : ChannelsParam(u, 0, channels, true))
                 return e;
             if (const int e = Control(s))
                 return e;
             SettingsChanged();
             Scan = channels;
             return 0;
         }},
        {"ROUTe:SCAN", true,
         [this, noParams](TScpiSession&, const TScpiUnit& u, QByteArray& r) {
             r = ChannelListText(Scan);
             return noParams(u);
         }},
        {"[SENSe:]ADC:RATE", false,
         [this](TScpiSession& s, const TScpiUnit& u, QByteArray&) {
             if (const int e = Count(u, 1, 1))
                 return e;
             TScpiNumber n;
             if (const int e = ParseNumber(u.Params[0], n, true))
                 return e;
             int index = n.Is == TScpiNumber::Kind::Min   ? 0
                         : n.Is == TScpiNumber::Kind::Max ? ModuleTables::RateCount - 1
                         : n.Is == TScpiNumber::Kind::Def ? Fresh.Channels.RateIndex
                                                          : RateIndexOf(n.Value);
             if (index < 0)
                 return n.Value < ModuleTables::AdcRate(0) ||
                                n.Value > ModuleTables::AdcRate(ModuleTables::RateCount - 1)
                            ? DataOutOfRange
                            : IllegalParameterValue;
             if (const int e = Control(s))
                 return e;
             SettingsChanged();
             Config.Channels.RateIndex = index;
             return 0;
         }},
        {"[SENSe:]ADC:RATE", true,
         [this, numberQuery](TScpiSession&, const TScpiUnit& u, QByteArray& r) {
             using namespace ModuleTables;
             return numberQuery(u, AdcRate(std::clamp(Config.Channels.RateIndex, 0, RateCount - 1)),
                                AdcRate(0), AdcRate(RateCount - 1),
                                AdcRate(std::clamp(Fresh.Channels.RateIndex, 0, RateCount - 1)), r);
         }},
        {"[SENSe:]APERture", false,
         [this](TScpiSession& s, const TScpiUnit& u, QByteArray&) {
             if (const int e = Count(u, 1, 1))
                 return e;
             TScpiNumber n;
             if (const int e = ParseNumber(u.Params[0], n, true))
                 return e;
             const double seconds = n.Is == TScpiNumber::Kind::Min   ? MinAperture
                                    : n.Is == TScpiNumber::Kind::Max ? MaxAperture
                                    : n.Is == TScpiNumber::Kind::Def ? Fresh.Settings.AcquisitionTime
                                                                     : n.Value;
             if (seconds < MinAperture || seconds > MaxAperture)
                 return DataOutOfRange;
             if (const int e = Control(s))
                 return e;
             SettingsChanged();
             Config.Settings.AcquisitionTime = seconds;
             return 0;
         }},
        {"[SENSe:]APERture", true,
         [this, numberQuery](TScpiSession&, const TScpiUnit& u, QByteArray& r) {
             return numberQuery(u, Config.Settings.AcquisitionTime, MinAperture, MaxAperture,
                                Fresh.Settings.AcquisitionTime, r);
         }},
        {"[SENSe:]CORRection:MODE", false,
         [this](TScpiSession& s, const TScpiUnit& u, QByteArray&) {
             if (const int e = Count(u, 1, 1))
                 return e;
             const int mode = Keyword(u.Params[0], {"INITial", "CONTinuous"});
             if (mode < 0)
                 return IllegalParameterValue;
             if (const int e = Control(s))
                 return e;
             SettingsChanged();
             Config.CorrectionMode = mode;
             return 0;
         }},
        {"[SENSe:]CORRection:MODE", true,
         [this, noParams](TScpiSession&, const TScpiUnit& u, QByteArray& r) {
             r = Config.CorrectionMode == 1 ? "CONT" : "INIT";
             return noParams(u);
         }},
        {"[SENSe:]METHod", false,
         [this](TScpiSession& s, const TScpiUnit& u, QByteArray&) {
             if (const int e = Count(u, 1, 1))
                 return e;
             const int method = Keyword(u.Params[0], {"SUM", "FFT"});
             if (method < 0)
                 return IllegalParameterValue;
             if (const int e = Control(s))
                 return e;
             SettingsChanged();
             Config.Settings.ComputationMethod = method == 1 ? QStringLiteral("fft") : QStringLiteral("sum");
             return 0;
         }},
        {"[SENSe:]METHod", true,
         [this, noParams](TScpiSession&, const TScpiUnit& u, QByteArray& r) {
             r = Config.Settings.ComputationMethod == QStringLiteral("fft") ? "FFT" : "SUM";
             return noParams(u);
         }},
        {"[SENSe:]BLOCk:PERiod", true,
         [this, noParams](TScpiSession&, const TScpiUnit& u, QByteArray& r) {
             r = Number(Period > 0.0 ? Period : NotANumber);
             return noParams(u);
         }},
        {"INITiate[:IMMediate]", false,
         [this, noParams](TScpiSession& s, const TScpiUnit& u, QByteArray&) {
             if (const int e = noParams(u))
                 return e;
             if (IsRunning) {
                 s.Status.PushError(InitIgnored, "the run is already going");
                 return Reported;
             }
             return StartRun(s);
         }},
        {"INITiate:STATe", true,
         [this, noParams](TScpiSession&, const TScpiUnit& u, QByteArray& r) {
             r = IsRunning ? "1" : "0";
             return noParams(u);
         }},
        {"ABORt", false,
         [this, noParams](TScpiSession& s, const TScpiUnit& u, QByteArray&) {
             if (const int e = noParams(u))
                 return e;
             if (const int e = Control(s))
                 return e;
             Abort();
             return 0;
         }},
        {"FETCh[:VOLTage][:DC]", true,
         [this](TScpiSession& s, const TScpiUnit& u, QByteArray& r) { return Fetch(s, u, r, false); }},
        {"FETCh:OVERrange", true,
         [this](TScpiSession& s, const TScpiUnit& u, QByteArray& r) { return Fetch(s, u, r, true); }},
        {"READ[:VOLTage][:DC]", true,
         [this](TScpiSession& s, const TScpiUnit& u, QByteArray& r) {
             unsigned channels = 0;
             if (const int e = Count(u, 0, 1) ? Count(u, 0, 1) : ChannelsParam(u, 0, channels, false))
                 return e;
             // The block in progress began before the request: the answer is
             // the one after it.
             long long wanted = BlockNumber + 2;
             if (!IsRunning) {
                 if (const int e = StartRun(s))
                     return e;
                 wanted = BlockNumber + 1;
             }
             WaitForBlock(s, wanted, channels, false);
             return Answer(s, r);
         }},
        {"MEASure:VOLTage[:DC]", true,
         [this](TScpiSession& s, const TScpiUnit& u, QByteArray& r) {
             if (const int e = RangeCommand(s, u, false, true))
                 return e;
             if (const int e = StartRun(s))
                 return e;
             WaitForBlock(s, BlockNumber + 1, 0, false);
             return Answer(s, r);
         }},
        {"MEASure:RESistance", true,
         [this](TScpiSession& s, const TScpiUnit& u, QByteArray& r) {
             if (const int e = RangeCommand(s, u, true, true))
                 return e;
             if (const int e = StartRun(s))
                 return e;
             WaitForBlock(s, BlockNumber + 1, 0, false);
             return Answer(s, r);
         }},
    };
}
