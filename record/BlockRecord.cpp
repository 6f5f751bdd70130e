#include "record/BlockRecord.h"

#include "acquisition/DisplayFormat.h"
#include "acquisition/ModuleTables.h"
#include "record/Printable.h"

#include <algorithm>
#include <cmath>

QString TRecordColumn::Name() const {
    return QStringLiteral("ch") + QString::number(Channel + 1);
}

QString TRecordColumn::Unit() const {
    return Resistance ? QStringLiteral("Ohm") : QStringLiteral("mV");
}

QString TRecordColumn::Heading() const {
    return Name() + "_" + Unit();
}

QString RangeName(bool resistance, int index) {
    return resistance ? QString::number(ModuleTables::RangesR[index]) + "R"
                      : QString::number(ModuleTables::RangesU[index]) + "V";
}

std::vector<TRecordColumn> RecordColumns(const TMeasurementConfig& config) {
    std::vector<TRecordColumn> columns;
    for (int c = 0; c < 16; ++c) {
        if (!config.Channels.Active[c])
            continue;
        TRecordColumn column;
        column.Channel = c;
        column.Resistance = config.ChannelQuantity[c] == 1;
        const int range = column.Resistance ? config.Channels.RangeR[c] : config.Channels.RangeU[c];
        column.Range = std::clamp(range, 0, 2);
        column.Format = config.Settings.ValueFormats[ValueFormatIndex(
            column.Resistance ? TQuantity::Resistance : TQuantity::Voltage, column.Range)];
        columns.push_back(column);
    }
    return columns;
}

TBlockValues TakeBlock(const TBlockReading& reading, const std::vector<TRecordColumn>& columns) {
    TBlockValues values;
    values.Block = reading.Block;
    values.Time = reading.Time;
    values.Period = reading.Period;
    for (const TRecordColumn& column : columns) {
        const TChannelEntry& entry = reading.Channels[size_t(column.Channel)];
        values.Texts.push_back(entry.Text);
        values.Values.push_back(entry.Text.isEmpty() ? std::nan("") : entry.Value);
        if (entry.OverRange)
            values.OverChannels.push_back(column.Channel + 1);
    }
    return values;
}

namespace {

QString Stamp(const QDateTime& time) {
    return time.toUTC().toString(Qt::ISODateWithMs);
}

QString OverList(const std::vector<int>& channels, const QString& separator) {
    QStringList list;
    for (int c : channels)
        list << QString::number(c);
    return list.join(separator);
}

// Line protocol escapes only comma, equals sign and blank in a tag; readers
// differ on a backslash before anything else, and no tag may end in one. So
// a backslash is written as \x5c, like a control character: every other
// backslash escapes the character after it.
QString InfluxTag(const QString& text) {
    QString out;
    for (QChar ch : Printable(QString(text).replace('\\', QStringLiteral("\\x5c")))) {
        if (ch == ',' || ch == '=' || ch == ' ')
            out += '\\';
        out += ch;
    }
    return out;
}

QString CsvField(const QString& text) {
    if (!text.contains(',') && !text.contains('"') && !text.contains('\n') && !text.contains('\r'))
        return text;
    return '"' + QString(text).replace('"', "\"\"") + '"';
}

QString JsonString(const QString& text) {
    QString out = "\"";
    for (QChar ch : text) {
        if (ch == '"' || ch == '\\')
            out += '\\';
        if (ch.unicode() < 0x20)
            out += QStringLiteral("\\u%1").arg(ch.unicode(), 4, 16, QChar('0'));
        else
            out += ch;
    }
    return out + '"';
}

// Line protocol escapes only comma and blank in a measurement name.
QString InfluxMeasurement(const QString& text) {
    return QString(text).replace(',', "\\,").replace(' ', "\\ ");
}

QString PeriodText(double seconds) {
    return QString::number(seconds, 'f', 3);
}

} // namespace

QByteArray HeaderLine(TOutputFormat format, const std::vector<TRecordColumn>& columns,
                      const TPointIdentity& identity) {
    if (format != TOutputFormat::Csv)
        return {};
    QStringList fields = {"time", "block", "period_s"};
    for (const TRecordColumn& column : columns)
        fields << column.Heading();
    fields << "over" << identity.Keys();
    return (fields.join(',') + "\n").toUtf8();
}

QByteArray BlockLine(TOutputFormat format, const std::vector<TRecordColumn>& columns,
                     const TBlockValues& values, const TPointIdentity& identity) {
    QString line;
    switch (format) {
    case TOutputFormat::Csv: {
        QStringList fields = {Stamp(values.Time), QString::number(values.Block), PeriodText(values.Period)};
        for (const QString& text : values.Texts)
            fields << text;
        // Channel numbers with blanks between them: no quoting needed.
        fields << OverList(values.OverChannels, " ");
        for (const QString& value : identity.Values())
            fields << CsvField(Printable(value));
        line = fields.join(',');
        break;
    }
    case TOutputFormat::Jsonl: {
        QStringList fields = {QStringLiteral("\"time\":\"%1\"").arg(Stamp(values.Time)),
                              QStringLiteral("\"block\":%1").arg(values.Block),
                              QStringLiteral("\"period_s\":%1").arg(PeriodText(values.Period))};
        for (size_t i = 0; i < columns.size(); ++i)
            fields << QStringLiteral("\"%1\":%2")
                          .arg(columns[i].Heading(), values.Texts[i].isEmpty() ? "null" : values.Texts[i]);
        fields << QStringLiteral("\"over\":[%1]").arg(OverList(values.OverChannels, ","));
        const QStringList keys = identity.Keys();
        const QStringList texts = identity.Values();
        for (qsizetype i = 0; i < keys.size(); ++i)
            fields << QStringLiteral("\"%1\":%2")
                          .arg(keys[i], keys[i] == "slot" ? texts[i] : JsonString(texts[i]));
        line = "{" + fields.join(',') + "}";
        break;
    }
    case TOutputFormat::Influx: {
        QStringList fields;
        for (size_t i = 0; i < columns.size(); ++i) {
            const TRecordColumn& column = columns[i];
            if (!values.Texts[i].isEmpty())
                fields << column.Heading() + "=" + values.Texts[i];
            const bool over = std::find(values.OverChannels.begin(), values.OverChannels.end(),
                                        column.Channel + 1) != values.OverChannels.end();
            fields << QStringLiteral("%1_range=\"%2\"")
                          .arg(column.Name(), RangeName(column.Resistance, column.Range));
            fields << QStringLiteral("%1_over=%2i").arg(column.Name()).arg(over ? 1 : 0);
        }
        fields << QStringLiteral("block=%1i").arg(values.Block);
        fields << QStringLiteral("period_s=%1").arg(PeriodText(values.Period));
        fields << QStringLiteral("over=\"%1\"").arg(OverList(values.OverChannels, ","));
        QStringList tags;
        const QStringList keys = identity.Keys();
        const QStringList texts = identity.Values();
        for (qsizetype i = 0; i < keys.size(); ++i)
            if (!texts[i].isEmpty()) // the store refuses an empty tag
                tags << keys[i] + "=" + InfluxTag(texts[i]);
        const qint64 ns = values.Time.toMSecsSinceEpoch() * 1000000;
        line = QStringLiteral("%1,%2 %3 %4")
                   .arg(InfluxMeasurement(identity.Measurement), tags.join(','), fields.join(','))
                   .arg(ns);
        break;
    }
    }
    return (line + "\n").toUtf8();
}

TRunSummary::TRunSummary(std::vector<TRecordColumn> columns)
    : Columns(std::move(columns)), Channels(Columns.size()) {}

void TRunSummary::Add(const TBlockValues& values) {
    for (size_t i = 0; i < Channels.size() && i < values.Values.size(); ++i) {
        const double v = values.Values[i];
        if (std::isnan(v))
            continue;
        Stats& s = Channels[i];
        ++s.Blocks;
        const double delta = v - s.Mean;
        s.Mean += delta / double(s.Blocks);
        s.M2 += delta * (v - s.Mean);
        s.Min = s.Blocks == 1 ? v : std::min(s.Min, v);
        s.Max = s.Blocks == 1 ? v : std::max(s.Max, v);
        s.Last = values.Texts[i];
    }
    for (int c : values.OverChannels)
        for (size_t i = 0; i < Columns.size(); ++i)
            if (Columns[i].Channel + 1 == c)
                ++Channels[i].Over;
}

QString TRunSummary::Text() const {
    QStringList rows = {QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9")
                            .arg("channel", -8)
                            .arg("unit", -4)
                            .arg("blocks", 7)
                            .arg("mean", 14)
                            .arg("min", 14)
                            .arg("max", 14)
                            .arg("stddev", 14)
                            .arg("last", 14)
                            .arg("over", 5)};
    for (size_t i = 0; i < Columns.size(); ++i) {
        const Stats& s = Channels[i];
        const QString& f = Columns[i].Format;
        // Sample standard deviation; one block has no spread.
        const double spread = s.Blocks > 1 ? std::sqrt(s.M2 / double(s.Blocks - 1)) : 0.0;
        auto number = [&](double v) { return s.Blocks > 0 ? FormatFloat(f, v) : QStringLiteral("-"); };
        rows << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9")
                    .arg(Columns[i].Name(), -8)
                    .arg(Columns[i].Unit(), -4)
                    .arg(s.Blocks, 7)
                    .arg(number(s.Mean), 14)
                    .arg(number(s.Min), 14)
                    .arg(number(s.Max), 14)
                    .arg(number(spread), 14)
                    .arg(s.Blocks > 0 ? s.Last : QStringLiteral("-"), 14)
                    .arg(s.Over, 5);
    }
    return rows.join('\n') + '\n';
}
