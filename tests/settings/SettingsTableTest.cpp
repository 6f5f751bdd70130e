// The table of settings keys: one row per key, and the keys whose read
// default differs from a fresh file's value.
#include "settings/SettingsTable.h"
#include "settings/Cp1251Codec.h"
#include "settings/MeasurementSettingsFile.h"
#include "settings/SettingsKeys.h"
#include "settings/TSettingsFile.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>

namespace {

const double RangesU[3] = {0.1, 1.0, 10.0};
const double RangesR[3] = {100.0, 1000.0, 10000.0};

TEST(SettingsTable, EachKeyOnceInItsSectionAndPart) {
    const auto table = SettingsTable(RangesU, RangesR);
    std::set<std::pair<QString, QString>> seen;
    for (const TSettingRow& row : table) {
        EXPECT_TRUE(seen.insert({row.Section, row.Key}).second) << row.Key.toStdString();
        const bool application = row.Section != SettingsKeys::ModuleSection;
        EXPECT_EQ(row.Part == TSettingPart::Application, application) << row.Key.toStdString();
        EXPECT_TRUE(row.ReadDefault.isValid() && row.FreshValue.isValid()) << row.Key.toStdString();
    }
    EXPECT_EQ(table.size(), 6u + 3u + 4u + 3u + 16u + 1u + 16u + 1u + 16u + 1u + 6u);
}

TEST(SettingsTable, ReadDefaultsWhereTheyDifferFromAFreshFile) {
    using namespace SettingsKeys;
    const auto table = SettingsTable(RangesU, RangesR);
    auto fresh = [&](const QString& section, const QString& key) {
        for (const TSettingRow& row : table)
            if (row.Section == section && row.Key == key)
                return row.FreshValue;
        return QVariant();
    };
    struct Case {
        QString Section, Key;
        QVariant Read, Fresh;
    };
    const Case cases[] = {
        {ApplicationSection, CoefSource, 1, 0},        {ModuleSection, Channel(6), true, true},
        {ModuleSection, Channel(7), true, false},      {ModuleSection, AdcRateIndex, 6, 6},
        {ModuleSection, PrecisionR(RangesR[2]), 4, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Key.toStdString());
        EXPECT_EQ(ReadDefault(table, c.Section, c.Key), c.Read);
        EXPECT_EQ(fresh(c.Section, c.Key), c.Fresh);
    }
    EXPECT_FALSE(ReadDefault(table, ModuleSection, QStringLiteral("no such key")).isValid());
}

// A record nobody loaded holds what a file without the keys reads as.
TEST(SettingsTable, TheMeasurementRecordStartsAtTheReadDefaults) {
    const auto table = SettingsTable(RangesU, RangesR);
    TMeasurementSettings read;
    read.ComputationMethod = "fft";
    read.AmplitudeType = "rms";
    read.AcquisitionTime = 7.0;
    std::fill(std::begin(read.MinSamplesPerChannel), std::end(read.MinSamplesPerChannel), 1);
    std::fill(std::begin(read.ValuePrecisions), std::end(read.ValuePrecisions), uint16_t(9));
    ReadMeasurementSettings(*TSettingsFile::FromBytes({}), table, RangesU, RangesR, read);
    const TMeasurementSettings initial;
    EXPECT_EQ(initial.ComputationMethod, read.ComputationMethod);
    EXPECT_EQ(initial.AmplitudeType, read.AmplitudeType);
    EXPECT_EQ(initial.AcquisitionTime, read.AcquisitionTime);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(initial.MinSamplesPerChannel[i], read.MinSamplesPerChannel[i]) << i;
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(initial.ValuePrecisions[i], read.ValuePrecisions[i]) << i;
        EXPECT_EQ(initial.ValueFormats[i], read.ValueFormats[i]) << i;
    }
}

// Keys new to a file land in table order whatever order the writer gives
// them; reads are typed by the row and fall back to its read default; a key
// without a row writes nothing at all.
TEST(SettingsTable, WritesInTableOrderAndReadsByTheRowsType) {
    using namespace SettingsKeys;
    const auto table = SettingsTable(RangesU, RangesR);
    auto file = TSettingsFile::FromBytes("[" + ModuleSection.toUtf8() + "]\r\n");
    ASSERT_TRUE(file);
    ASSERT_TRUE(WriteSettings(*file, table, ModuleSection,
                              {{CommonMeasuringMode, 1}, {Channel(2), false}, {AdcRateIndex, 3}}));
    EXPECT_EQ(ReadSetting(*file, table, ModuleSection, AdcRateIndex), QVariant(3));
    EXPECT_EQ(ReadSetting(*file, table, ModuleSection, Channel(2)), QVariant(false));
    EXPECT_EQ(ReadSetting(*file, table, ModuleSection, Channel(3)), QVariant(true)) << "read default";
    EXPECT_EQ(ReadSetting(*file, table, ModuleSection, AcquisitionTime), QVariant(1.0));
    const QString text = Cp1251::Decode(file->ToBytes());
    const qsizetype rate = text.indexOf(AdcRateIndex), channel = text.indexOf(Channel(2) + "="),
                    mode = text.indexOf(CommonMeasuringMode);
    EXPECT_TRUE(rate >= 0 && rate < channel && channel < mode) << text.toStdString();

    EXPECT_FALSE(
        WriteSettings(*file, table, ModuleSection, {{AdcRateIndex, 5}, {QStringLiteral("stray"), 1}}));
    EXPECT_EQ(ReadSetting(*file, table, ModuleSection, AdcRateIndex), QVariant(3));
}

} // namespace
