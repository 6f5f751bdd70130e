// The SCPI program message grammar: units separated by ';', compound headers
// matched against patterns with long and short forms and optional nodes,
// numeric parameters with MIN/MAX/DEF, channel lists "(@1:4,7)". Every
// refusal is an SCPI error number; nothing here throws.
#pragma once

#include <QByteArray>
#include <QList>

#include <vector>

// One program message unit as typed.
struct TScpiUnit {
    bool Common = false; // "*IDN?"
    bool Rooted = false; // a leading ':'
    bool Query = false;
    QList<QByteArray> Nodes; // upper case, without ':' and '?'
    std::vector<QByteArray> Params;
};

// The units of one line (without its terminator). Empty units are dropped.
// Error: 0, or the error number of a line that cannot be split.
struct TScpiSplit {
    std::vector<QByteArray> Units;
    int Error = 0;
};
TScpiSplit SplitMessage(const QByteArray& line);

// 0, or the error number.
int ParseUnit(const QByteArray& text, TScpiUnit& unit);

// pattern: "[SENSe:]VOLTage[:DC]:RANGe"; a node matches its short form (the
// capitals) or its long form, in any case.
bool MatchHeader(const char* pattern, const QList<QByteArray>& nodes);
bool MatchMnemonic(const char* longForm, const QByteArray& typed);

struct TScpiNumber {
    enum class Kind { Value, Min, Max, Def };
    Kind Is = Kind::Value;
    double Value = 0.0;
};
// A decimal number, or MINimum/MAXimum/DEFault when keywords is set.
int ParseNumber(const QByteArray& text, TScpiNumber& number, bool keywords);

// "(@1:4,7)" as a set of channels 1..16 (bit n-1 for channel n).
int ParseChannelList(const QByteArray& text, unsigned& channels);
// The shortest list text of a set: "(@1:4,7)".
QByteArray ChannelListText(unsigned channels);
