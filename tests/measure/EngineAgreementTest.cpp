// The shared case: for one configuration, the client writes the text the
// window would show, i.e. FormatFloat(ValueFormats[...]) of the engine's
// reading of the same module.
#include "acquisition/DisplayFormat.h"
#include "acquisition/MeasurementCycle.h"
#include "discovery/DetectionTables.h"
#include "settings/Cp1251Codec.h"

#include "ReportedCycle.h"
#include "emulator_process.h"

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// No noise, gain or offset error: every block reads the same.
const char* const Config = R"({"pace": "fast", "seed": 3, "crates": [{"serial": "QR000010", "slots": [
  {"slot": 4, "type": "KM808", "channels": [
    {"channel": 1, "volts": 0.1234567}, {"channel": 2, "volts": -1.2345678},
    {"channel": 3, "volts": 6.54321}, {"channel": 5, "volts": 11.0}]}]}]})";

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

} // namespace

TEST(MeasureEngineAgreement, ClientTextsAreTheWindowsFormatOfTheEngineReading) {
    QTemporaryDir dir;
    WriteFile(dir.filePath("emulator.json"), Config);
    EmulatorProcess emulator(dir.filePath("emulator.json").toStdString());
    ASSERT_TRUE(emulator.started()) << emulator.error();
    emulator.select();

    // The window's configuration: channels 1, 2, 3, 5 on 0.4 V, 2 V, 10 V,
    // 10 V at 1000 Hz, precisions 5, 3 and 1 decimals.
    TMeasurementConfig config;
    const int ranges[16] = {2, 1, 0, 0, 0};
    for (int c : {0, 1, 2, 4}) {
        config.Channels.Active[c] = true;
        config.Channels.RangeU[c] = ranges[c];
    }
    config.Channels.RateIndex = 4;
    const int precisions[6] = {1, 3, 5, 4, 4, 4};
    for (int i = 0; i < 6; ++i) {
        config.Settings.ValuePrecisions[i] = uint16_t(precisions[i]);
        config.Settings.ValueFormats[i] = "0." + QString(precisions[i], '0');
    }

    // The client, from a settings file that says the same.
    QString ini = "[Модуль KM808]\r\nАЦП. Индекс частоты работы АЦП=4\r\n"
                  "АЦП. Групповое управление каналами=0\r\n"
                  "АЦП. Групповое управление входным диапазоном для измерения U=-1\r\n"
                  "АЦП. Входной диапазон U 10.00 В. U precision=1\r\n"
                  "АЦП. Входной диапазон U  2.00 В. U precision=3\r\n"
                  "АЦП. Входной диапазон U  0.40 В. U precision=5\r\n";
    for (int n = 1; n <= 16; ++n) {
        const bool active = n == 1 || n == 2 || n == 3 || n == 5;
        ini += QStringLiteral("АЦП. Управление каналом %1=%2\r\n").arg(n).arg(active ? 1 : 0);
        ini +=
            QStringLiteral("АЦП. Управление входным диапазоном U канала %1=%2\r\n").arg(n).arg(ranges[n - 1]);
    }
    WriteFile(dir.filePath("Km808_Viza.ini"), Cp1251::Encode(ini));
    std::string output;
    const int status = EmulatorProcess::run({EmulatorProcess::binary("km808-measure"), "--settings",
                                             dir.filePath("Km808_Viza.ini").toStdString(), "--blocks", "2",
                                             "--quiet", "--output", dir.filePath("out.csv").toStdString()},
                                            output);
    ASSERT_EQ(status, 0) << output;
    QFile csv(dir.filePath("out.csv"));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(csv.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], "time,block,period_s,ch1_mV,ch2_mV,ch3_mV,ch5_mV,over,crate,slot,serial,host");
    const QStringList client = lines[2].split(',');

    // The engine in this process, on the same module.
    TDeviceState device;
    ASSERT_TRUE(ListModules(device, [](const QString&) {}));
    PreselectWanted(device, "QR000010", 4);
    ASSERT_TRUE(OpenChosenModule(device));
    TReportedCycle cycle(&device.ModuleControl);
    ASSERT_TRUE(StartRun(cycle, config)) << cycle.Reports.join('\n').toStdString();
    ASSERT_TRUE(MeasureBlock(cycle, config.Channels.Active));
    ASSERT_TRUE(MeasureBlock(cycle, config.Channels.Active));
    QStringList engine;
    for (int c : {0, 1, 2, 4}) {
        const TChannelReading reading = ChannelReading(cycle, c);
        ASSERT_TRUE(reading.Shown) << c;
        engine << FormatFloat(config.Settings.ValueFormats[reading.FormatIndex], reading.Value);
    }
    EndRun(cycle);
    cycle.FreeBuffers();
    CloseModuleIfOpen(device);

    EXPECT_EQ(client.mid(3, 4), engine);
    // The precision per range, and the over-range mark of 11 V on 10 V.
    EXPECT_EQ(engine[0].section('.', 1).size(), 5);
    EXPECT_EQ(engine[1].section('.', 1).size(), 3);
    EXPECT_EQ(engine[2].section('.', 1).size(), 1);
    EXPECT_EQ(client.value(7), "5");
}
