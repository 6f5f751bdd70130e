#include "trend/TrendRecorder.h"

#include "acquisition/BlockReading.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

namespace {

const QString Formats[6] = {"0.0", "0.00", "0.000", "0.", "0.0", "0.00"};
const TRecordOrigin Origin{"QE000002", 3, "KM0000301", 1000.0, "Автокалибровка", "KM808_viza - 1.0.0"};
const QDateTime T0 = QDateTime::fromString("2026-12-11T23:59:58.000Z", Qt::ISODateWithMs);

TBlockReading Reading(long long block, const QDateTime& time, int channels = 2) {
    TBlockReading reading;
    reading.Block = block;
    reading.Time = time;
    reading.Period = 1.0;
    for (int c = 0; c < channels; ++c) {
        const double value = 1.25 * (c + 1) + 0.01 * double(block);
        reading.Channels[size_t(c)] = {true, TQuantity::Voltage, 1, value, ReadingText("0.00", value), false,
                                       false};
    }
    return reading;
}

QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every line as km808-measure writes it, and beside the file what it came from.
TEST(TrendRecorder, LinesOfTheClientAndTheirOrigin) {
    QTemporaryDir dir;
    TTrendRecorder recorder;
    recorder.Start(TOutputFormat::Csv, dir.filePath("bench.csv"), 0);
    const std::vector<TRecordColumn> columns = {{0, false, "0.00"}, {1, false, "0.00"}};
    QByteArray expected = HeaderLine(TOutputFormat::Csv, columns);
    for (int b = 1; b <= 3; ++b) {
        const TBlockReading reading = Reading(b, T0.addSecs(-100 + b));
        ASSERT_TRUE(recorder.Take(reading, Formats, Origin)) << recorder.Error().toStdString();
        expected +=
            BlockLine(TOutputFormat::Csv, columns, TakeBlock(reading, columns), Origin.Crate, Origin.Slot);
    }
    EXPECT_EQ(recorder.FileName(), dir.filePath("bench-20261211T235819Z.csv"));
    EXPECT_EQ(Read(recorder.FileName()), expected);
    EXPECT_EQ(recorder.Blocks(), 3);
    EXPECT_EQ(recorder.Bytes(), expected.size());

    const QJsonObject about = QJsonDocument::fromJson(Read(recorder.FileName() + ".json")).object();
    EXPECT_EQ(about["crate"].toString(), "QE000002");
    EXPECT_EQ(about["slot"].toInt(), 3);
    EXPECT_EQ(about["module_serial"].toString(), "KM0000301");
    EXPECT_EQ(about["rate_hz"].toDouble(), 1000.0);
    EXPECT_EQ(about["correction"].toString(), "Автокалибровка");
    EXPECT_EQ(about["block_period_s"].toDouble(), 1.0);
    EXPECT_EQ(about["program"].toString(), "KM808_viza - 1.0.0");
    EXPECT_EQ(about["channels"].toArray().size(), 2);
}

TEST(TrendRecorder, NewFileAtMidnightAtTheLimitAndWhenChannelsChange) {
    struct Case {
        const char* Name;
        qint64 Limit;
        int SecondsApart; // between the two blocks, from 23:59:58
        int ChannelsAfter;
        int Files;
    };
    const Case cases[] = {
        {"same day, no limit", 0, 1, 2, 1},
        {"past midnight UTC", 0, 3, 2, 2},
        {"size limit reached", 10, 1, 2, 2},
        {"a channel more", 0, 1, 3, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        QTemporaryDir dir;
        TTrendRecorder recorder;
        recorder.Start(TOutputFormat::Jsonl, dir.filePath("run"), c.Limit);
        ASSERT_TRUE(recorder.Take(Reading(1, T0), Formats, Origin));
        ASSERT_TRUE(recorder.Take(Reading(2, T0.addSecs(c.SecondsApart), c.ChannelsAfter), Formats, Origin));
        EXPECT_EQ(recorder.Files(), c.Files);
        EXPECT_EQ(QDir(dir.path()).entryList({"run-*.jsonl"}).size(), c.Files);
        EXPECT_EQ(recorder.Blocks(), 2);
    }
}

// A file already there under the name a new file would take, of another
// format here, is never written to: the record goes beside it.
TEST(TrendRecorder, ExistingFileIsLeftAlone) {
    QTemporaryDir dir;
    const QString taken = TTrendRecorder::FileNameFor(dir.filePath("bench.csv"), TOutputFormat::Csv, T0);
    const QByteArray other = "{\"time\": \"earlier\"}\n";
    {
        QFile file(taken);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(other);
    }
    TTrendRecorder recorder;
    recorder.Start(TOutputFormat::Csv, dir.filePath("bench.csv"), 0);
    ASSERT_TRUE(recorder.Take(Reading(1, T0), Formats, Origin)) << recorder.Error().toStdString();
    EXPECT_EQ(Read(taken), other);
    EXPECT_FALSE(QFile::exists(taken + ".json"));
    EXPECT_EQ(recorder.FileName(), dir.filePath("bench-20261211T235958Z-2.csv"));
    EXPECT_EQ(Read(recorder.FileName()).count('\n'), 2); // the header and the block
}

// A full disk (here the file size limit): told once, recording stops, only
// whole lines stay.
TEST(TrendRecorder, FailedWriteStopsRecording) {
    QTemporaryDir dir;
    TTrendRecorder recorder;
    recorder.Start(TOutputFormat::Csv, dir.filePath("full.csv"), 0);
    ASSERT_TRUE(recorder.Take(Reading(1, T0), Formats, Origin));
    const QByteArray before = Read(recorder.FileName());

    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = rlim_t(before.size() + 5);
    setrlimit(RLIMIT_FSIZE, &small);
    const bool written = recorder.Take(Reading(2, T0.addSecs(1)), Formats, Origin);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, SIG_DFL);

    EXPECT_FALSE(written);
    EXPECT_FALSE(recorder.Recording());
    EXPECT_EQ(recorder.Error(), "Ошибка записи в файл " + recorder.FileName());
    EXPECT_EQ(Read(recorder.FileName()), before);
    EXPECT_TRUE(recorder.Take(Reading(3, T0.addSecs(2)), Formats, Origin)); // stopped: nothing more
    EXPECT_EQ(recorder.Blocks(), 1);
}

} // namespace
