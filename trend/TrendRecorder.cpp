#include "trend/TrendRecorder.h"

#include "acquisition/BlockReading.h"
#include "record/RecordSink.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>

TTrendRecorder::TTrendRecorder() = default;
TTrendRecorder::~TTrendRecorder() = default;

QString TTrendRecorder::FileNameFor(const QString& basePath, TOutputFormat format, const QDateTime& time) {
    const QFileInfo base(basePath);
    QString suffix = base.suffix();
    if (suffix.isEmpty())
        suffix = format == TOutputFormat::Csv ? "csv" : format == TOutputFormat::Jsonl ? "jsonl" : "lp";
    return base.dir().filePath(base.completeBaseName() + "-" + time.toUTC().toString("yyyyMMdd'T'HHmmss'Z'") +
                               "." + suffix);
}

void TTrendRecorder::Start(TOutputFormat format, const QString& basePath, qint64 sizeLimit) {
    Stop();
    Format = format;
    BasePath = basePath;
    SizeLimit = sizeLimit;
    BlockCount = ByteCount = 0;
    FileCount = 0;
    LastError.clear();
    Active = true;
}

void TTrendRecorder::Stop() {
    Active = false;
    Sink.reset();
    Columns.clear();
}

bool TTrendRecorder::Fail(const QString& text) {
    LastError = text;
    Stop();
    return false;
}

bool TTrendRecorder::Begin(const TBlockReading& reading, const std::vector<TRecordColumn>& columns,
                           const TRecordOrigin& origin) {
    Sink.reset();
    const QDateTime time = reading.Time.toUTC();
    QString path = FileNameFor(BasePath, Format, time);
    // Two files begun within one second (a size limit below a block's line).
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = FileNameFor(BasePath, Format, time)
                   .replace(QRegularExpression("(\\.[^./]*)$"), QString("-%1\\1").arg(n));
    auto sink = std::make_unique<TRecordSink>();
    QString error;
    bool exists = false;
    if (!sink->Open(path, TRecordSink::TExisting::Refuse, false, error, exists))
        return Fail("Не могу открыть файл " + path);

    QJsonArray channels;
    for (const TRecordColumn& column : columns) {
        const TChannelEntry& entry = reading.Channels[size_t(column.Channel)];
        channels.append(QJsonObject{{"channel", column.Channel + 1},
                                    {"unit", column.Unit()},
                                    {"range", entry.Range},
                                    {"format", column.Format}});
    }
    const QJsonObject about{{"crate", origin.Crate},
                            {"slot", origin.Slot},
                            {"module_serial", origin.Serial},
                            {"channels", channels},
                            {"rate_hz", origin.RateHz},
                            {"correction", origin.Correction},
                            {"block_period_s", reading.Period},
                            {"first_block_utc", time.toString(Qt::ISODateWithMs)},
                            {"program", origin.Program},
                            {"data", QFileInfo(path).fileName()}};
    QSaveFile side(path + ".json");
    if (!side.open(QIODevice::WriteOnly) || side.write(QJsonDocument(about).toJson()) < 0 || !side.commit())
        return Fail("Не могу записать файл " + path + ".json");

    Sink = std::move(sink);
    Columns = columns;
    FileDay = time.date();
    Path = path;
    ByteCount = 0;
    ++FileCount;
    const QByteArray header =
        HeaderLine(Format, Columns, ModuleIdentity(origin.Crate, origin.Slot, origin.Serial));
    if (!header.isEmpty()) {
        if (!Sink->Write(header, error))
            return Fail("Ошибка записи в файл " + path);
        ByteCount += header.size();
    }
    return true;
}

bool TTrendRecorder::Take(const TBlockReading& reading, const QString formats[6],
                          const TRecordOrigin& origin) {
    if (!Active)
        return true;
    std::vector<TRecordColumn> columns;
    for (int c = 0; c < 16; ++c) {
        const TChannelEntry& entry = reading.Channels[size_t(c)];
        const int format = ValueFormatIndex(entry.Quantity, entry.Range);
        if (entry.Active && format >= 0)
            columns.push_back({c, entry.Quantity == TQuantity::Resistance, formats[format], entry.Range});
    }
    const bool sameColumns =
        std::equal(columns.begin(), columns.end(), Columns.begin(), Columns.end(),
                   [](const TRecordColumn& a, const TRecordColumn& b) {
                       return a.Channel == b.Channel && a.Resistance == b.Resistance && a.Format == b.Format;
                   });
    if (!Sink || !sameColumns || reading.Time.toUTC().date() != FileDay ||
        (SizeLimit > 0 && ByteCount >= SizeLimit)) {
        if (!Begin(reading, columns, origin))
            return false;
    }
    const QByteArray line = BlockLine(Format, Columns, TakeBlock(reading, Columns),
                                      ModuleIdentity(origin.Crate, origin.Slot, origin.Serial));
    QString error;
    if (!Sink->Write(line, error))
        return Fail("Ошибка записи в файл " + Path);
    ByteCount += line.size();
    ++BlockCount;
    return true;
}
