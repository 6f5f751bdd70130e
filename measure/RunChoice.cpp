#include "measure/RunChoice.h"

#include "acquisition/ModuleTables.h"
#include "measure/MeasureOptions.h"
#include "settings/MeasurementSettingsFile.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsTable.h"
#include "settings/TSettingsFile.h"

#include <vector>

using namespace SettingsKeys;

namespace {

// An item index of a selector with count items, or -1.
int ItemIndex(int32_t value, int count) {
    return value >= 0 && value < count ? value : -1;
}

} // namespace

TRunChoice ReadRunChoice(const TSettingsFile& file) {
    TRunChoice choice;
    const std::vector<TSettingRow> table = SettingsTable(ModuleTables::RangesU, ModuleTables::RangesR);
    auto read = [&](const QString& section, const QString& key) {
        return ReadSetting(file, table, section, key);
    };
    auto readInt = [&](const QString& key) { return read(ModuleSection, key).toInt(); };
    auto readBool = [&](const QString& key) { return read(ModuleSection, key).toBool(); };

    TMeasurementSettings& m = choice.Config.Settings;
    ReadMeasurementSettings(file, table, ModuleTables::RangesU, ModuleTables::RangesR, m);
    m.CoefSource = read(ApplicationSection, CoefSource).toInt();

    TChannelChoice& c = choice.Config.Channels;
    const bool all = readBool(AllChannels);
    const int commonU = ItemIndex(readInt(CommonRangeU), 3);
    const int commonR = ItemIndex(readInt(CommonRangeR), 3);
    c.CommonMode = ItemIndex(readInt(CommonMeasuringMode), 2);
    for (int n = 0; n < 16; ++n) {
        choice.Checked[n] = all || readBool(Channel(n + 1));
        c.RangeU[n] = commonU >= 0 ? commonU : ItemIndex(readInt(ChannelRangeU(n + 1)), 3);
        c.RangeR[n] = commonR >= 0 ? commonR : ItemIndex(readInt(ChannelRangeR(n + 1)), 3);
    }
    c.RateIndex = ItemIndex(readInt(AdcRateIndex), ModuleTables::RateCount);
    choice.Config.CorrectionMode = ItemIndex(readInt(CorrectionMode), 2);

    choice.WantedCrateSerial = read(DiscoverySection, CrateSerial).toString();
    choice.WantedSlot = int16_t(read(DiscoverySection, ModuleSlot).toInt());
    return choice;
}

TRunChoice FreshRunChoice() {
    const std::unique_ptr<TSettingsFile> file = TSettingsFile::FromBytes({});
    const std::vector<TSettingRow> table = SettingsTable(ModuleTables::RangesU, ModuleTables::RangesR);
    WriteFreshPart(*file, table, TSettingPart::Application);
    WriteFreshPart(*file, table, TSettingPart::Module);
    return ReadRunChoice(*file);
}

QString ApplyOptions(const TMeasureOptions& options, TRunChoice& choice) {
    TMeasurementConfig& config = choice.Config;
    TChannelChoice& c = config.Channels;
    const int rChannels = ModuleTables::ResistanceChannels;

    if (options.ChannelsGiven)
        std::copy(std::begin(options.Channels), std::end(options.Channels), choice.Checked);
    if (options.RateIndex >= 0)
        c.RateIndex = options.RateIndex;
    if (options.CorrectionMode >= 0)
        config.CorrectionMode = options.CorrectionMode;
    if (options.Time > 0.0)
        config.Settings.AcquisitionTime = options.Time;
    if (!options.Method.isEmpty())
        config.Settings.ComputationMethod = options.Method;

    // What each channel measures: the stored mode, then every --range in order.
    bool resistance[16] = {};
    for (int n = 0; n < 16; ++n)
        resistance[n] = c.CommonMode == 1 && n < rChannels;
    for (const TRangeOption& range : options.Ranges) {
        for (int n = 0; n < 16; ++n) {
            if (range.Channel != 0 && range.Channel != n + 1)
                continue;
            // A resistance range for every channel: channels 9..16 that the
            // settings file checks stay out as in the window; channels the
            // command line names cannot take it.
            if (range.Resistance && n >= rChannels) {
                if (options.ChannelsGiven && choice.Checked[n])
                    return QStringLiteral(
                               "--range: %1 is a resistance range; channel %2 measures voltage only "
                               "(resistance on channels 1..%3)")
                        .arg(RangeName(true, range.Index))
                        .arg(n + 1)
                        .arg(rChannels);
                continue;
            }
            resistance[n] = range.Resistance;
            (range.Resistance ? c.RangeR : c.RangeU)[n] = range.Index;
        }
    }
    if (!options.Ranges.empty()) {
        c.CommonMode = 0;
        for (int n = 0; n < 16; ++n)
            if (choice.Checked[n] && resistance[n])
                c.CommonMode = 1;
    }
    if (c.CommonMode < 0)
        return QStringLiteral("the settings file chooses no measuring mode; choose one with --range");

    // The module measures either voltage on every channel or resistance on
    // channels 1..8 alone; a mix is refused rather than guessed.
    int firstR = -1;
    for (int n = 0; n < rChannels && firstR < 0; ++n)
        if (choice.Checked[n] && resistance[n])
            firstR = n;
    for (int n = 0; n < 16; ++n) {
        c.Active[n] = false;
        config.ChannelQuantity[n] = 0;
        if (!choice.Checked[n])
            continue;
        if (c.CommonMode == 1) {
            if (n >= rChannels) {
                // Channels the settings file checks stay out as the window
                // leaves them out; channels the command line names are refused.
                if (options.ChannelsGiven)
                    return QStringLiteral(
                               "--channels: channel %1 does not measure while channels 1..%2 measure "
                               "resistance (%3)")
                        .arg(n + 1)
                        .arg(rChannels)
                        .arg(firstR >= 0 ? QStringLiteral("channel %1 has a resistance range").arg(firstR + 1)
                                         : QStringLiteral("the settings file's resistance mode"));
                continue;
            }
            if (!resistance[n])
                return QStringLiteral("--range: channel %1 has the voltage range %2 while channel %3 has a "
                                      "resistance range; the module measures either voltage on all channels "
                                      "or resistance on channels 1..%4")
                    .arg(n + 1)
                    .arg(RangeName(false, c.RangeU[n] < 0 ? 0 : c.RangeU[n]))
                    .arg(firstR + 1)
                    .arg(rChannels);
            if (c.RangeR[n] < 0)
                return QStringLiteral("channel %1 has no resistance range; choose one with --range")
                    .arg(n + 1);
            config.ChannelQuantity[n] = 1;
        } else if (c.RangeU[n] < 0) {
            return QStringLiteral("channel %1 has no voltage range; choose one with --range").arg(n + 1);
        }
        c.Active[n] = true;
    }
    bool any = false;
    for (bool a : c.Active)
        any = any || a;
    if (!any)
        return QStringLiteral("--channels: no channel is chosen");
    if (c.RateIndex < 0)
        return QStringLiteral("the settings file chooses no converter rate; choose one with --rate");
    if (config.CorrectionMode < 0)
        return QStringLiteral("the settings file chooses no correction mode; choose one with --correction");
    return {};
}
