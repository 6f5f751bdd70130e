#include "settings/SettingsTable.h"

#include "settings/SettingsDefaults.h"
#include "settings/SettingsKeys.h"
#include "settings/TSettingsFile.h"

using namespace SettingsKeys;

std::vector<TSettingRow> SettingsTable(const double rangesU[3], const double rangesR[3]) {
    constexpr TSettingPart App = TSettingPart::Application;
    constexpr TSettingPart Mod = TSettingPart::Module;
    using T = TSettingType;
    std::vector<TSettingRow> t = {
        {App, ApplicationSection, AutoSave, T::Bool, false, false},
        {App, ApplicationSection, WindowTop, T::Integer, -1, -1},
        {App, ApplicationSection, WindowLeft, T::Integer, -1, -1},
        // A file without the key loads the module's own coefficients.
        {App, ApplicationSection, CoefSource, T::Integer, 1, 0},
        {App, DiscoverySection, CrateSerial, T::String, QString(), QString()},
        {App, DiscoverySection, ModuleSlot, T::Integer, -1, -1},
        {Mod, ModuleSection, ComputationMethod, T::String, SettingsDefaults::ComputationMethod,
         SettingsDefaults::ComputationMethod},
        {Mod, ModuleSection, AmplitudeType, T::String, SettingsDefaults::AmplitudeType,
         SettingsDefaults::AmplitudeType},
        {Mod, ModuleSection, AcquisitionTime, T::Float, SettingsDefaults::AcquisitionTime,
         SettingsDefaults::AcquisitionTime},
    };
    for (int i = 0; i < 4; ++i)
        t.push_back({Mod, ModuleSection, MinSamples[i], T::Integer, SettingsDefaults::MinSamples[i],
                     SettingsDefaults::MinSamples[i]});
    t.push_back({Mod, ModuleSection, AdcRateIndex, T::Integer, 6, 6});
    t.push_back({Mod, ModuleSection, CorrectionMode, T::Integer, 0, 0});
    t.push_back({Mod, ModuleSection, AllChannels, T::Bool, true, true});
    // A missing channel key reads as active; a fresh file activates 1 to 6.
    for (int n = 1; n <= 16; ++n)
        t.push_back({Mod, ModuleSection, Channel(n), T::Bool, true, n <= 6});
    t.push_back({Mod, ModuleSection, CommonRangeU, T::Integer, 0, 0});
    for (int n = 1; n <= 16; ++n)
        t.push_back({Mod, ModuleSection, ChannelRangeU(n), T::Integer, 0, 0});
    t.push_back({Mod, ModuleSection, CommonRangeR, T::Integer, 0, 0});
    for (int n = 1; n <= 16; ++n)
        t.push_back({Mod, ModuleSection, ChannelRangeR(n), T::Integer, 0, 0});
    t.push_back({Mod, ModuleSection, CommonMeasuringMode, T::Integer, 0, 0});
    for (int i = 0; i < 3; ++i)
        t.push_back({Mod, ModuleSection, PrecisionU(rangesU[i]), T::Integer, int(SettingsDefaults::Precision),
                     int(SettingsDefaults::Precision)});
    for (int i = 0; i < 3; ++i)
        t.push_back({Mod, ModuleSection, PrecisionR(rangesR[i]), T::Integer, int(SettingsDefaults::Precision),
                     int(SettingsDefaults::Precision)});
    return t;
}

namespace {

const TSettingRow* FindRow(const std::vector<TSettingRow>& table, const QString& section,
                           const QString& key) {
    for (const TSettingRow& row : table)
        if (row.Section == section && row.Key == key)
            return &row;
    return nullptr;
}

void WriteTyped(TSettingsFile& file, const TSettingRow& row, const QVariant& value) {
    switch (row.Type) {
    case TSettingType::Bool:
        file.WriteBool(row.Section, row.Key, value.toBool());
        break;
    case TSettingType::Integer:
        file.WriteInteger(row.Section, row.Key, value.toInt());
        break;
    case TSettingType::Float:
        file.WriteFloat(row.Section, row.Key, value.toDouble());
        break;
    case TSettingType::String:
        file.WriteString(row.Section, row.Key, value.toString());
        break;
    }
}

} // namespace

QVariant ReadDefault(const std::vector<TSettingRow>& table, const QString& section, const QString& key) {
    const TSettingRow* row = FindRow(table, section, key);
    return row ? row->ReadDefault : QVariant();
}

void WriteFreshPart(TSettingsFile& file, const std::vector<TSettingRow>& table, TSettingPart part) {
    for (const TSettingRow& row : table)
        if (row.Part == part)
            WriteTyped(file, row, row.FreshValue);
}

QVariant ReadSetting(const TSettingsFile& file, const std::vector<TSettingRow>& table, const QString& section,
                     const QString& key) {
    const TSettingRow* row = FindRow(table, section, key);
    if (!row)
        return {};
    switch (row->Type) {
    case TSettingType::Bool:
        return file.ReadBool(section, key, row->ReadDefault.toBool());
    case TSettingType::Integer:
        return file.ReadInteger(section, key, row->ReadDefault.toInt());
    case TSettingType::Float:
        return file.ReadFloat(section, key, row->ReadDefault.toDouble());
    case TSettingType::String:
        return file.ReadString(section, key, row->ReadDefault.toString());
    }
    return {};
}

bool WriteSettings(TSettingsFile& file, const std::vector<TSettingRow>& table, const QString& section,
                   const QVariantMap& values) {
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        if (!FindRow(table, section, it.key()))
            return false;
    for (const TSettingRow& row : table)
        if (row.Section == section && values.contains(row.Key))
            WriteTyped(file, row, values.value(row.Key));
    return true;
}
