#include "settings/SettingsTable.h"

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
        {Mod, ModuleSection, ComputationMethod, T::String, QStringLiteral("sum"), QStringLiteral("sum")},
        {Mod, ModuleSection, AmplitudeType, T::String, QStringLiteral("amp"), QStringLiteral("amp")},
        {Mod, ModuleSection, AcquisitionTime, T::Float, 1.0, 1.0},
    };
    const int minSamples[4] = {6, 32, 64, 128};
    for (int i = 0; i < 4; ++i)
        t.push_back({Mod, ModuleSection, MinSamples[i], T::Integer, minSamples[i], minSamples[i]});
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
        t.push_back({Mod, ModuleSection, PrecisionU(rangesU[i]), T::Integer, 4, 4});
    for (int i = 0; i < 3; ++i)
        t.push_back({Mod, ModuleSection, PrecisionR(rangesR[i]), T::Integer, 4, 4});
    return t;
}

QVariant ReadDefault(const std::vector<TSettingRow>& table, const QString& section, const QString& key) {
    for (const TSettingRow& row : table)
        if (row.Section == section && row.Key == key)
            return row.ReadDefault;
    return {};
}

void WriteFreshPart(TSettingsFile& file, const std::vector<TSettingRow>& table, TSettingPart part) {
    for (const TSettingRow& row : table) {
        if (row.Part != part)
            continue;
        switch (row.Type) {
        case TSettingType::Bool:
            file.WriteBool(row.Section, row.Key, row.FreshValue.toBool());
            break;
        case TSettingType::Integer:
            file.WriteInteger(row.Section, row.Key, row.FreshValue.toInt());
            break;
        case TSettingType::Float:
            file.WriteFloat(row.Section, row.Key, row.FreshValue.toDouble());
            break;
        case TSettingType::String:
            file.WriteString(row.Section, row.Key, row.FreshValue.toString());
            break;
        }
    }
}
