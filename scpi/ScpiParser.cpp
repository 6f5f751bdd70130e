#include "scpi/ScpiParser.h"

#include "scpi/ScpiStatus.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace {

// Mnemonics longer than this are refused as IEEE 488.2 asks.
constexpr int MnemonicLimit = 12;

bool IsHeaderChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

QByteArray ShortForm(const QByteArray& longForm) {
    QByteArray s;
    for (char c : longForm)
        if (std::isupper(static_cast<unsigned char>(c)) || std::isdigit(static_cast<unsigned char>(c)))
            s += c;
    return s;
}

struct TPatternNode {
    QByteArray Name;
    bool Optional = false;
};

std::vector<TPatternNode> PatternNodes(const char* pattern) {
    std::vector<TPatternNode> nodes;
    TPatternNode node;
    auto flush = [&] {
        if (!node.Name.isEmpty())
            nodes.push_back(node);
        node.Name.clear();
    };
    for (const char* p = pattern;; ++p) {
        if (*p == '[') {
            flush();
            node.Optional = true;
        } else if (*p == ':' || *p == ']' || *p == 0) {
            flush();
            if (*p == ']')
                node.Optional = false;
            if (*p == 0)
                break;
        } else {
            node.Name += *p;
        }
    }
    return nodes;
}

bool MatchFrom(const std::vector<TPatternNode>& pattern, size_t p, const QList<QByteArray>& nodes,
               qsizetype n) {
    if (p == pattern.size())
        return n == nodes.size();
    if (pattern[p].Optional && MatchFrom(pattern, p + 1, nodes, n))
        return true;
    return n < nodes.size() && MatchMnemonic(pattern[p].Name.constData(), nodes[n]) &&
           MatchFrom(pattern, p + 1, nodes, n + 1);
}

} // namespace

TScpiSplit SplitMessage(const QByteArray& line) {
    TScpiSplit split;
    QByteArray unit;
    char quote = 0;
    int depth = 0;
    for (char c : line) {
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')') {
            --depth;
            if (depth < 0) {
                split.Error = ScpiError::SyntaxError;
                return split;
            }
        } else if (c == ';' && depth == 0) {
            if (!unit.trimmed().isEmpty())
                split.Units.push_back(unit.trimmed());
            unit.clear();
            continue;
        }
        unit += c;
    }
    if (quote || depth != 0) {
        split.Error = ScpiError::SyntaxError;
        return split;
    }
    if (!unit.trimmed().isEmpty())
        split.Units.push_back(unit.trimmed());
    return split;
}

int ParseUnit(const QByteArray& text, TScpiUnit& unit) {
    unit = {};
    qsizetype i = 0;
    const qsizetype size = text.size();
    if (i < size && text[i] == '*') {
        unit.Common = true;
        ++i;
    } else if (i < size && text[i] == ':') {
        unit.Rooted = true;
        ++i;
    }
    QByteArray node;
    for (; i < size && !std::isspace(static_cast<unsigned char>(text[i])); ++i) {
        const char c = text[i];
        if (unit.Query) // nothing may follow the '?' but the parameters
            return ScpiError::InvalidCharacter;
        if (c == '?') {
            unit.Query = true;
        } else if (c == ':' && !unit.Common) {
            if (node.isEmpty())
                return ScpiError::SyntaxError;
            unit.Nodes << node;
            node.clear();
            continue;
        } else if (IsHeaderChar(c)) {
            node += char(std::toupper(static_cast<unsigned char>(c)));
            continue;
        } else {
            return ScpiError::InvalidCharacter;
        }
        if (node.isEmpty())
            return ScpiError::SyntaxError;
    }
    if (node.isEmpty())
        return ScpiError::SyntaxError;
    unit.Nodes << node;
    for (const QByteArray& n : unit.Nodes)
        if (n.size() > MnemonicLimit)
            return ScpiError::MnemonicTooLong;

    const QByteArray rest = text.mid(i).trimmed();
    if (rest.isEmpty())
        return 0;
    // Parameters: split at commas outside quotes and parentheses.
    QByteArray param;
    char quote = 0;
    int depth = 0;
    for (char c : rest) {
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')') {
            --depth;
        } else if (c == ',' && depth == 0) {
            if (param.trimmed().isEmpty())
                return ScpiError::SyntaxError;
            unit.Params.push_back(param.trimmed());
            param.clear();
            continue;
        }
        param += c;
    }
    if (param.trimmed().isEmpty())
        return ScpiError::SyntaxError;
    unit.Params.push_back(param.trimmed());
    return 0;
}

bool MatchMnemonic(const char* longForm, const QByteArray& typed) {
    const QByteArray full(longForm);
    return typed == full.toUpper() || typed == ShortForm(full);
}

bool MatchHeader(const char* pattern, const QList<QByteArray>& nodes) {
    return MatchFrom(PatternNodes(pattern), 0, nodes, 0);
}

int ParseNumber(const QByteArray& text, TScpiNumber& number, bool keywords) {
    number = {};
    const QByteArray upper = text.toUpper();
    if (std::isalpha(static_cast<unsigned char>(text.isEmpty() ? '0' : text[0]))) {
        if (!keywords)
            return ScpiError::DataTypeError;
        if (MatchMnemonic("MINimum", upper))
            number.Is = TScpiNumber::Kind::Min;
        else if (MatchMnemonic("MAXimum", upper))
            number.Is = TScpiNumber::Kind::Max;
        else if (MatchMnemonic("DEFault", upper))
            number.Is = TScpiNumber::Kind::Def;
        else
            return ScpiError::IllegalParameterValue;
        return 0;
    }
    // [+-]digits[.digits][E[+-]digits]: no hexadecimal, no inf or nan.
    qsizetype i = 0;
    auto digits = [&] {
        const qsizetype start = i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])))
            ++i;
        return i - start;
    };
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    qsizetype mantissa = digits();
    if (i < text.size() && text[i] == '.') {
        ++i;
        mantissa += digits();
    }
    if (mantissa == 0)
        return ScpiError::DataTypeError;
    if (i < text.size() && (text[i] == 'E' || text[i] == 'e')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            ++i;
        if (digits() == 0)
            return ScpiError::NumericDataError;
    }
    if (i != text.size())
        return ScpiError::DataTypeError;
    bool ok = false;
    number.Value = text.toDouble(&ok);
    if (!ok || !std::isfinite(number.Value))
        return ScpiError::DataOutOfRange;
    return 0;
}

int ParseChannelList(const QByteArray& text, unsigned& channels) {
    channels = 0;
    QByteArray t;
    for (char c : text)
        if (!std::isspace(static_cast<unsigned char>(c)))
            t += c;
    if (!t.startsWith("(@") || !t.endsWith(')'))
        return ScpiError::DataTypeError;
    const QByteArray body = t.mid(2, t.size() - 3);
    if (body.isEmpty())
        return ScpiError::SyntaxError;
    for (const QByteArray& item : body.split(',')) {
        const QList<QByteArray> ends = item.split(':');
        if (ends.isEmpty() || ends.size() > 2)
            return ScpiError::SyntaxError;
        int value[2] = {0, 0};
        for (qsizetype e = 0; e < ends.size(); ++e) {
            const QByteArray& n = ends[e];
            if (n.isEmpty() || n.size() > 6)
                return n.isEmpty() ? ScpiError::SyntaxError : ScpiError::DataOutOfRange;
            for (char c : n)
                if (!std::isdigit(static_cast<unsigned char>(c)))
                    return ScpiError::SyntaxError;
            value[e] = n.toInt();
            if (value[e] < 1 || value[e] > 16)
                return ScpiError::DataOutOfRange;
        }
        const int first = value[0];
        const int last = ends.size() == 2 ? value[1] : first;
        // A range may run downwards, as SCPI allows; the set is the same.
        for (int c = 1; c <= 16; ++c)
            if (c >= std::min(first, last) && c <= std::max(first, last))
                channels |= 1u << (c - 1);
    }
    return 0;
}

QByteArray ChannelListText(unsigned channels) {
    QList<QByteArray> items;
    for (int c = 1; c <= 16; ++c) {
        if (!(channels & (1u << (c - 1))))
            continue;
        int last = c;
        while (last < 16 && (channels & (1u << last)))
            ++last;
        items << (last > c ? QByteArray::number(c) + ":" + QByteArray::number(last) : QByteArray::number(c));
        c = last;
    }
    return "(@" + items.join(',') + ")";
}
