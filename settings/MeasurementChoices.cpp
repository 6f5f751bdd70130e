#include "settings/MeasurementChoices.h"

#include "settings/MeasurementSettingsFile.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsTable.h"

using namespace SettingsKeys;

namespace {

int ItemIndex(int32_t value, int count) {
    return value >= 0 && value < count ? value : -1;
}

} // namespace

TMeasurementChoices ReadMeasurementChoices(const TSettingsFile& file, const double rangesU[3],
                                           const double rangesR[3], const TSelectorSizes& sizes,
                                           TMeasurementSettings& settings) {
    TMeasurementChoices c;
    const std::vector<TSettingRow> table = SettingsTable(rangesU, rangesR);
    auto read = [&](const QString& section, const QString& key) {
        return ReadSetting(file, table, section, key);
    };
    auto readInt = [&](const QString& key) { return read(ModuleSection, key).toInt(); };

    ReadMeasurementSettings(file, table, rangesU, rangesR, settings);

    c.AllChannels = read(ModuleSection, AllChannels).toBool();
    c.CommonRangeU = ItemIndex(readInt(CommonRangeU), sizes.Ranges);
    c.CommonRangeR = ItemIndex(readInt(CommonRangeR), sizes.Ranges);
    c.CommonMode = ItemIndex(readInt(CommonMeasuringMode), sizes.Modes);
    for (int n = 0; n < 16; ++n) {
        c.Checked[n] = c.AllChannels || read(ModuleSection, Channel(n + 1)).toBool();
        c.RangeU[n] =
            c.CommonRangeU >= 0 ? c.CommonRangeU : ItemIndex(readInt(ChannelRangeU(n + 1)), sizes.Ranges);
        c.RangeR[n] =
            c.CommonRangeR >= 0 ? c.CommonRangeR : ItemIndex(readInt(ChannelRangeR(n + 1)), sizes.Ranges);
    }
    c.RateIndex = ItemIndex(readInt(AdcRateIndex), sizes.Rates);
    c.CorrectionMode = ItemIndex(readInt(CorrectionMode), sizes.CorrectionModes);

    c.WantedCrateSerial = read(DiscoverySection, CrateSerial).toString();
    c.WantedSlot = int16_t(read(DiscoverySection, ModuleSlot).toInt());
    return c;
}
