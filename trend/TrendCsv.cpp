#include "trend/TrendCsv.h"

#include "acquisition/DisplayFormat.h"
#include "trend/TrendHistory.h"

#include <QDateTime>
#include <QIODevice>

#include <algorithm>
#include <cmath>

bool WriteTrendCsv(const TTrendHistory& history, qint64 first, qint64 end, const bool channels[16],
                   QIODevice& out) {
    QByteArray text = "time_utc,run";
    for (int c = 0; c < TrendChannels; ++c)
        if (channels[c])
            text += QByteArray(",ch") + QByteArray::number(c + 1) + ",ch" + QByteArray::number(c + 1) +
                    "_unit,ch" + QByteArray::number(c + 1) + "_over";
    text += '\n';
    first = std::max(first, history.FirstBlock());
    end = std::min(end, history.EndBlock());
    for (qint64 b = first; b < end; ++b) {
        const TTrendSegment& segment = history.SegmentAt(b);
        text +=
            QDateTime::fromMSecsSinceEpoch(history.TimeAt(b), Qt::UTC).toString(Qt::ISODateWithMs).toLatin1();
        text += ',' + QByteArray::number(segment.Run);
        for (int c = 0; c < TrendChannels; ++c) {
            if (!channels[c])
                continue;
            const TTrendSetup& setup = segment.Setup[c];
            const double v = history.ValueAt(c, b);
            if (!setup.Active || std::isnan(v)) {
                text += ",,,";
                continue;
            }
            text += ',' + FormatFloat(setup.Format, v).toLatin1();
            text += setup.Resistance ? ",Ohm," : ",mV,";
            text += history.OverRangeAt(c, b) ? '1' : '0';
        }
        text += '\n';
        // Written in pieces: a week of blocks would not fit a single buffer.
        if (text.size() > (1 << 20) || b + 1 == end) {
            if (out.write(text) != text.size())
                return false;
            text.clear();
        }
    }
    return text.isEmpty() || out.write(text) == text.size();
}
