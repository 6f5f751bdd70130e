#include "measure/AppendCheck.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace {

QString FormatName(TOutputFormat format) {
    switch (format) {
    case TOutputFormat::Csv:
        return QStringLiteral("csv");
    case TOutputFormat::Jsonl:
        return QStringLiteral("jsonl");
    case TOutputFormat::Influx:
        return QStringLiteral("influx");
    }
    return {};
}

// The format a line was written in, judged by its start.
bool LineFormat(const QByteArray& line, const QString& measurement, TOutputFormat& format) {
    if (line.startsWith("time,block,"))
        format = TOutputFormat::Csv;
    else if (line.startsWith('{'))
        format = TOutputFormat::Jsonl;
    else if (line.startsWith((measurement + ",").toUtf8()) || line.startsWith((measurement + " ").toUtf8()))
        format = TOutputFormat::Influx;
    else
        return false;
    return true;
}

// The channel columns a line names ("ch1_mV"), in their order.
QStringList ChannelKeys(TOutputFormat format, const QByteArray& line) {
    QStringList keys;
    if (format == TOutputFormat::Csv) {
        for (const QByteArray& field : line.split(','))
            if (field.startsWith("ch"))
                keys << QString::fromUtf8(field);
        return keys;
    }
    if (format == TOutputFormat::Jsonl) {
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        for (const QString& key : object.keys())
            if (ReservedRecordKey(key) && key.startsWith("ch"))
                keys << key;
        return keys;
    }
    static const QRegularExpression field(QStringLiteral("[ ,](ch\\d+_(?:mV|Ohm))="));
    for (auto it = field.globalMatch(QString::fromUtf8(line)); it.hasNext();)
        keys << it.next().captured(1);
    return keys;
}

} // namespace

QString AppendMismatch(TOutputFormat format, const std::vector<TRecordColumn>& columns,
                       const TPointIdentity& identity, const QByteArray& firstLine) {
    TOutputFormat found = TOutputFormat::Csv;
    if (!LineFormat(firstLine, identity.Measurement, found))
        return QStringLiteral("its first line is none of the lines this program writes");
    if (found != format)
        return QStringLiteral("it holds %1 lines, this run writes %2")
            .arg(FormatName(found), FormatName(format));
    if (format == TOutputFormat::Csv) {
        const QByteArray header = HeaderLine(format, columns, identity).chopped(1);
        if (firstLine != header)
            return QStringLiteral("its header is %1, this run's is %2")
                .arg(QString::fromUtf8(firstLine), QString::fromUtf8(header));
        return {};
    }
    QStringList wanted;
    for (const TRecordColumn& column : columns)
        wanted << column.Heading();
    QStringList have = ChannelKeys(format, firstLine);
    // JSON objects come back with their keys sorted.
    QStringList sortedWanted = wanted;
    std::sort(have.begin(), have.end());
    std::sort(sortedWanted.begin(), sortedWanted.end());
    if (have != sortedWanted)
        return QStringLiteral("its lines have the channels %1, this run writes %2")
            .arg(have.isEmpty() ? QStringLiteral("none") : have.join(','), wanted.join(','));
    return {};
}
