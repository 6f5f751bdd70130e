#include "measure/MeasureOptions.h"
#include "measure/AppendCheck.h"
#include "measure/ModuleChoice.h"
#include "measure/RunChoice.h"
#include "record/BlockRecord.h"
#include "record/RecordSink.h"
#include "settings/Cp1251Codec.h"
#include "settings/TSettingsFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>

#include <sys/resource.h>

namespace {

TParseResult Parse(const QString& line) {
    return ParseArguments(line.split(' ', Qt::SkipEmptyParts));
}

// The choice a command line makes from a fresh settings file; the error text
// when it is refused.
QString Choose(const QString& line, TRunChoice& choice) {
    const TParseResult parsed = Parse(line);
    if (!parsed.Error.isEmpty())
        return parsed.Error;
    choice = FreshRunChoice();
    return ApplyOptions(parsed.Options, choice);
}

QString ActiveList(const TRunChoice& choice) {
    QStringList list;
    for (int c = 0; c < 16; ++c)
        if (choice.Config.Channels.Active[c])
            list << QString::number(c + 1) + (choice.Config.ChannelQuantity[c] == 1 ? "R" : "V") +
                        QString::number(choice.Config.ChannelQuantity[c] == 1
                                            ? choice.Config.Channels.RangeR[c]
                                            : choice.Config.Channels.RangeU[c]);
    return list.join(' ');
}

} // namespace

TEST(MeasureOptions, AcceptedChoices) {
    struct Case {
        QString Line;
        QString Active; // channel, V or R, range index
        int Mode;
    };
    const Case cases[] = {
        // A fresh file: every channel, 10 V.
        {"", "1V0 2V0 3V0 4V0 5V0 6V0 7V0 8V0 9V0 10V0 11V0 12V0 13V0 14V0 15V0 16V0", 0},
        {"--channels 1-2,16 --range 0.4V --range 16:2V", "1V2 2V2 16V1", 0},
        {"--channels=3 --range 3:2V --range 3:0.4v", "3V2", 0},
        {"--channels 1-8 --range 1200R --range 2:4000R", "1R1 2R2 3R1 4R1 5R1 6R1 7R1 8R1", 1},
        // A later voltage range for every channel undoes the resistance mode.
        {"--range 400R --range 10V", "1V0 2V0 3V0 4V0 5V0 6V0 7V0 8V0 9V0 10V0 11V0 12V0 13V0 14V0 15V0 16V0",
         0},
        // Resistance for every channel: channels 9..16 of the file stay out.
        {"--range 4000R", "1R2 2R2 3R2 4R2 5R2 6R2 7R2 8R2", 1},
        // A list of channels before the colon.
        {"--channels 3,5-8 --range 5-8:4000R --range 3,8:400R", "3R0 5R2 6R2 7R2 8R0", 1},
    };
    for (const Case& c : cases) {
        TRunChoice choice;
        EXPECT_EQ(Choose(c.Line, choice), QString()) << c.Line.toStdString();
        EXPECT_EQ(ActiveList(choice), c.Active) << c.Line.toStdString();
        EXPECT_EQ(choice.Config.Channels.CommonMode, c.Mode) << c.Line.toStdString();
    }
}

TEST(MeasureOptions, RefusedChoicesNameTheOption) {
    const std::pair<QString, QString> cases[] = {
        {"--range 12:400R",
         "--range: '12:400R' is not accepted; resistance is measured on channels 1..8 only"},
        {"--range 7-9:400R",
         "--range: '7-9:400R' is not accepted; resistance is measured on channels 1..8 only"},
        {"--range 3-:2V", "--range: '3-:2V' is not accepted"},
        {"--channels 8-9 --range 400R",
         "--range: 400R is a resistance range; channel 9 measures voltage only"},
        {"--channels 8-9 --range 8:400R", "--channels: channel 9 does not measure"},
        {"--range 3:400R",
         "--range: channel 1 has the voltage range 10V while channel 3 has a resistance range"},
        {"--rate 4001",
         "--rate: '4001' is not accepted; one of the rates 5, 100, 200, 500, 1000, 2000, 4000 (Hz)"},
        {"--crate 17", "--crate: '17' is not accepted"},
        {"--channels 4-2", "--channels: '4-2' is not accepted"},
        {"--time nan", "--time: 'nan' is not accepted"},
        {"--duration 1 --blocks 2", "--blocks and --duration exclude each other"},
        {"--append", "--append, --force and --tee need --output FILE"},
        {"--list=yes", "unknown option '--list=yes'"},
        {"--slot", "--slot needs a value"},
        {"--influx-url http://127.0.0.1:8086", "--influx-url and --influx-db go together"},
        {"--influx-url http://u:p@127.0.0.1:8086 --influx-db lab",
         "--influx-url: 'http://u:p@127.0.0.1:8086' is not"},
        {"--influx-url https://store --influx-db lab", "--influx-url: 'https://store' is not"},
        // Blocks within one second would overwrite each other.
        {"--influx-precision s", "--influx-precision: 's' is not accepted"},
        {"--module QR1", "--module: 'QR1' is not accepted; CRATE:SLOT"},
        {"--module QR1:17", "--module: 'QR1:17' is not accepted; CRATE:SLOT"},
        {"--module 17:1", "--module: '17:1' is not accepted; CRATE:SLOT"},
        {"--module 1:3 --module 1:3", "--module: '1:3' is not accepted; each module once"},
        {"--module 1:3 --slot 3", "--module names crate and slot itself"},
        {"--tag room", "--tag: 'room' is not accepted"},
        {"--tag slot=4", "--tag: 'slot=4' is not accepted; KEY 'slot' names a column"},
        {"--tag ch3_mV=1", "--tag: 'ch3_mV=1' is not accepted; KEY 'ch3_mV' names a column"},
        {"--tag a=1 --tag a=2", "--tag: 'a=2' is not accepted; KEY 'a' is given twice"},
        {"--measurement a,b", "--measurement: 'a,b' is not accepted"},
        {"--spool-max 0", "--spool-max: '0' is not accepted"},
        {"--spool-max 9000000G", "--spool-max: '9000000G' is not accepted"},
    };
    for (const auto& [line, text] : cases) {
        TRunChoice choice;
        EXPECT_TRUE(Choose(line, choice).startsWith(text))
            << line.toStdString() << " -> " << Choose(line, choice).toStdString();
    }
}

TEST(MeasureOptions, RatesAcceptedAsTheSelectorListsThem) {
    EXPECT_EQ(Parse("--rate 4000").Options.RateIndex, 6);
    EXPECT_EQ(Parse("--rate 4000.0").Options.RateIndex, 6);
    EXPECT_EQ(Parse("--rate 5").Options.RateIndex, 0);
}

// A settings file in resistance mode with all channels checked: channels
// 9..16 stay out as in the window, unless the command line names them.
TEST(MeasureOptions, SettingsFileResistanceModeLeavesChannelsNineToSixteenOut) {
    const QString text = QStringLiteral("[Модуль KM808]\r\nАЦП. Групповое управление режимом измерения=1\r\n"
                                        "АЦП. Групповое управление входным диапазоном для измерения R=2\r\n"
                                        "АЦП. Индекс частоты работы АЦП=3\r\n"
                                        "АЦП. Входной диапазон R 4000.00 Ом. R precision=-3\r\n");
    const auto file = TSettingsFile::FromBytes(Cp1251::Encode(text));
    TRunChoice choice = ReadRunChoice(*file);
    EXPECT_EQ(ApplyOptions(TMeasureOptions{}, choice), QString());
    EXPECT_EQ(ActiveList(choice), "1R2 2R2 3R2 4R2 5R2 6R2 7R2 8R2");
    EXPECT_EQ(choice.Config.Channels.RateIndex, 3);
    // A negative precision reads as the cap of 10 decimals.
    EXPECT_EQ(choice.Config.Settings.ValueFormats[5], "0.0000000000");

    choice = ReadRunChoice(*file);
    EXPECT_TRUE(ApplyOptions(Parse("--channels 1-9").Options, choice).startsWith("--channels: channel 9"));
}

// Every format names the module, the host and the operator's tags; the
// line protocol also gives each channel's range and a numeric over flag.
TEST(MeasureRecord, EveryFormatCarriesTheIdentityEscaped) {
    TMeasurementConfig config;
    config.Channels.Active[0] = config.Channels.Active[9] = true;
    config.ChannelQuantity[0] = 1;
    config.Channels.RangeR[0] = 1;
    config.Settings.ValueFormats[4] = "0.0";
    const std::vector<TRecordColumn> columns = RecordColumns(config);
    ASSERT_EQ(columns.size(), 2u);
    TPointIdentity identity;
    identity.Crate = "QR 1,a";
    identity.Slot = 3;
    identity.Serial = "KM\"5=";
    identity.Host = "bench7";
    identity.Tags = {{"room", "B 12"}};
    EXPECT_EQ(HeaderLine(TOutputFormat::Csv, columns, identity),
              "time,block,period_s,ch1_Ohm,ch10_mV,over,crate,slot,serial,host,room\n");
    TBlockValues values;
    values.Block = 7;
    values.Time = QDateTime::fromMSecsSinceEpoch(1700000000123, Qt::UTC);
    values.Period = 2.048;
    values.Texts = {"1000.5", "-0.2500"};
    values.OverChannels = {1};
    EXPECT_EQ(BlockLine(TOutputFormat::Csv, columns, values, identity),
              "2023-11-14T22:13:20.123Z,7,2.048,1000.5,-0.2500,1,\"QR 1,a\",3,\"KM\"\"5=\",bench7,B 12\n");
    EXPECT_EQ(BlockLine(TOutputFormat::Jsonl, columns, values, identity),
              "{\"time\":\"2023-11-14T22:13:20.123Z\",\"block\":7,\"period_s\":2.048,\"ch1_Ohm\":1000.5,"
              "\"ch10_mV\":-0.2500,\"over\":[1],\"crate\":\"QR 1,a\",\"slot\":3,\"serial\":\"KM\\\"5=\","
              "\"host\":\"bench7\",\"room\":\"B 12\"}\n");
    // A tag escapes comma, equals sign and blank; a backslash and control
    // characters become \xNN, so no tag ends in a backslash or breaks a line.
    const std::pair<QString, QString> crates[] = {
        {"QR 1,a=b", "QR\\ 1\\,a\\=b"},
        {"QR\\", "QR\\x5c"},
        {"A\\ B", "A\\x5c\\ B"},
        {"QR\n01\x1b", "QR\\x0a01\\x1b"},
    };
    for (const auto& [crate, tag] : crates) {
        identity.Crate = crate;
        EXPECT_EQ(BlockLine(TOutputFormat::Influx, columns, values, identity),
                  "km808,crate=" + tag.toUtf8() +
                      ",slot=3,serial=KM\"5\\=,host=bench7,room=B\\ 12 "
                      "ch1_Ohm=1000.5,ch1_range=\"1200R\",ch1_over=1i,ch10_mV=-0.2500,ch10_range=\"10V\","
                      "ch10_over=0i,block=7i,period_s=2.048,over=\"1\" 1700000000123000000\n")
            << crate.toStdString();
    }
}

TEST(MeasureRecord, AppendTakesOnlyLinesOfTheSameFormatChannelsAndUnits) {
    TMeasurementConfig config;
    config.Channels.Active[0] = config.Channels.Active[1] = true;
    const std::vector<TRecordColumn> volts = RecordColumns(config);
    TPointIdentity identity;
    identity.Tags = {{"chamber", "3"}};
    struct Case {
        TOutputFormat Format;
        QByteArray FirstLine;
        bool Accepted;
    };
    const Case cases[] = {
        {TOutputFormat::Csv, "time,block,period_s,ch1_mV,ch2_mV,over,crate,slot,serial,host,chamber", true},
        {TOutputFormat::Csv, "time,block,period_s,ch1_mV,ch2_mV,over,crate,slot,serial,host", false},
        {TOutputFormat::Csv, "time,block,period_s,ch1_Ohm,ch2_Ohm,over,crate,slot,serial,host,chamber",
         false},
        {TOutputFormat::Csv, "time,block,period_s,ch1_mV,over,crate,slot,serial,host,chamber", false},
        {TOutputFormat::Csv, "time,block,ch1_mV,ch2_mV,over", false},
        {TOutputFormat::Csv, "{\"time\":\"x\",\"ch1_mV\":1,\"ch2_mV\":2}", false},
        {TOutputFormat::Jsonl,
         "{\"time\":\"x\",\"block\":1,\"ch2_mV\":null,\"ch1_mV\":1.5,\"over\":[],\"chamber\":\"3\"}", true},
        {TOutputFormat::Jsonl, "{\"time\":\"x\",\"block\":1,\"ch1_mV\":1.5,\"over\":[]}", false},
        {TOutputFormat::Jsonl, "time,block,period_s,ch1_mV,ch2_mV,over", false},
        {TOutputFormat::Influx, "km808,crate=QR,slot=3 ch1_mV=1.5,ch2_mV=2,block=1i 1", true},
        {TOutputFormat::Influx, "km808,crate=QR,slot=3 ch1_Ohm=1.5,ch2_Ohm=2,block=1i 1", false},
        {TOutputFormat::Influx, "garbage", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AppendMismatch(c.Format, volts, identity, c.FirstLine).isEmpty(), c.Accepted)
            << c.FirstLine.toStdString();
}

TEST(MeasureRecord, SummaryOfTheRun) {
    TMeasurementConfig config;
    config.Channels.Active[2] = true;
    config.Settings.ValueFormats[0] = "0.00";
    TRunSummary summary(RecordColumns(config));
    for (const char* v : {"1.00", "2.00", "6.00"}) {
        TBlockValues values;
        values.Texts = {v};
        values.Values = {QString(v).toDouble()};
        summary.Add(values);
    }
    const QStringList row = summary.Text().split('\n')[1].split(' ', Qt::SkipEmptyParts);
    EXPECT_EQ(row, QStringList({"ch3", "mV", "3", "3.00", "1.00", "6.00", "2.65", "6.00", "0"}));
}

// A write that fails (here: the file size limit, as a full disk would) cuts
// the file back to its last whole line.
TEST(MeasureRecord, FailedWriteLeavesOnlyWholeLines) {
    QTemporaryDir dir;
    const QString path = dir.filePath("out.csv");
    TRecordSink sink;
    QString error;
    bool exists = false;
    ASSERT_TRUE(sink.Open(path, TRecordSink::TExisting::Refuse, false, error, exists)) << error.toStdString();
    ASSERT_TRUE(sink.Write("header\n", error));

    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 10;
    setrlimit(RLIMIT_FSIZE, &small);
    const bool written = sink.Write("a line longer than the limit\n", error);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, SIG_DFL);

    EXPECT_FALSE(written);
    EXPECT_TRUE(error.startsWith("cannot write " + path + ": File too large")) << error.toStdString();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "header\n");

    TRecordSink again;
    EXPECT_FALSE(again.Open(path, TRecordSink::TExisting::Refuse, false, error, exists));
    EXPECT_TRUE(exists);
    EXPECT_TRUE(again.Open(path, TRecordSink::TExisting::Append, false, error, exists));
    EXPECT_FALSE(again.Empty());
}

// An appended file loses an unfinished last line, a replaced file its
// content, only with the first line written; a file the run created and
// never wrote to is removed.
TEST(MeasureRecord, FileChangesOnlyWithTheFirstLine) {
    QTemporaryDir dir;
    const QString path = dir.filePath("out.csv");
    auto content = [&] {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
    };
    auto put = [&](const QByteArray& bytes) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    };
    QString error;
    bool exists = false;
    {
        TRecordSink sink;
        ASSERT_TRUE(sink.Open(path, TRecordSink::TExisting::Refuse, false, error, exists));
    }
    EXPECT_FALSE(QFile::exists(path));

    put("h\nline 1\nline");
    {
        TRecordSink sink;
        ASSERT_TRUE(sink.Open(path, TRecordSink::TExisting::Append, false, error, exists));
        EXPECT_EQ(sink.FirstLine(), "h");
        EXPECT_EQ(sink.UnfinishedBytes(), 4);
        EXPECT_EQ(content(), "h\nline 1\nline");
        ASSERT_TRUE(sink.Write("line 2\n", error));
    }
    EXPECT_EQ(content(), "h\nline 1\nline 2\n");

    for (const bool writes : {false, true}) {
        TRecordSink sink;
        ASSERT_TRUE(sink.Open(path, TRecordSink::TExisting::Replace, false, error, exists));
        EXPECT_TRUE(sink.Empty());
        if (writes) {
            ASSERT_TRUE(sink.Write("new\n", error));
        }
        EXPECT_EQ(content(), writes ? "new\n" : "h\nline 1\nline 2\n");
    }
}

namespace {

// Crate QR1 with KM808 modules in slots 3 and 5, crate QR2 with none,
// crate QR3 with one in slot 1.
TCrateListing Listing() {
    TCrateListing listing;
    listing.Serials = {"QR1", "QR2", "QR3"};
    listing.Types.resize(3);
    listing.Types[0][2] = listing.Types[0][4] = 0x7272;
    listing.Types[1][0] = 0x1234;
    listing.Types[2][0] = 0x7272;
    return listing;
}

} // namespace

TEST(ModuleChoice, NamedModuleIsThereOrToldMissing) {
    struct Case {
        QString Line;
        QString StoredCrate;
        int StoredSlot;
        QString Found;   // "crate/slot", "" when nothing is named
        QString Missing; // the start of the refusal
    };
    const Case cases[] = {
        {"", "", -1, "", ""},
        {"--slot 5", "", -1, "QR1/5", ""},
        {"--crate QR3", "", -1, "QR3/1", ""},
        {"--crate 2", "", -1, "QR3/1", ""},
        {"", "QR1", 5, "QR1/5", ""},
        {"", "QR1", -1, "QR1/3", ""},
        {"--slot 1", "QR3", 5, "QR3/1", ""},
        {"--crate QR1", "QR3", 1, "QR1/3", ""},
        {"--crate QR1", "QR1", 5, "QR1/5", ""},
        {"--crate 1", "QR1", 5, "QR1/5", ""},
        {"--slot 4", "", -1, "", "--slot: slot 4 of crate 'QR1' holds no KM808 (KM808 in slots: 3, 5)"},
        {"--crate 1 --slot 1", "", -1, "", "--slot: slot 1 of crate 'QR1' holds no KM808"},
        {"--crate QR1 --slot 1", "", -1, "", "--slot: slot 1 of crate 'QR1' holds no KM808"},
        {"--crate 3", "", -1, "", "--crate: 3, but the crate server has 2 crate(s) with a KM808"},
        {"--crate QR2", "", -1, "", "--crate: crate 'QR2' holds no KM808"},
        {"--crate QR9", "", -1, "", "--crate: the crate server has no crate 'QR9' (it has: QR1, QR2, QR3)"},
        {"", "QR9", 3, "", "--settings: the crate server has no crate 'QR9'"},
        {"", "QR3", 5, "", "--settings: slot 5 of crate 'QR3' holds no KM808"},
    };
    for (const Case& c : cases) {
        const TParseResult parsed = Parse(c.Line);
        ASSERT_EQ(parsed.Error, QString()) << c.Line.toStdString();
        TRunChoice choice;
        choice.WantedCrateSerial = c.StoredCrate;
        choice.WantedSlot = int16_t(c.StoredSlot);
        const TNamedModule named = NameModule(parsed.Options, choice, Listing());
        const std::string what = (c.Line + " / stored " + c.StoredCrate).toStdString();
        EXPECT_EQ(named.Named, !c.Found.isEmpty() || !c.Missing.isEmpty()) << what;
        EXPECT_TRUE(c.Missing.isEmpty() ? named.Missing.isEmpty() : named.Missing.startsWith(c.Missing))
            << what << " -> " << named.Missing.toStdString();
        if (!c.Found.isEmpty()) {
            EXPECT_EQ(named.Crate + "/" + QString::number(named.Slot), c.Found) << what;
        }
    }
}
