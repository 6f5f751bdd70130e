#include "measure/RunChoice.h"

#include "acquisition/ModuleTables.h"
#include "measure/MeasureOptions.h"
#include "record/BlockRecord.h"
#include "settings/MeasurementChoices.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsTable.h"
#include "settings/TSettingsFile.h"

#include <algorithm>
#include <vector>

TRunChoice ReadRunChoice(const TSettingsFile& file) {
    TSelectorSizes sizes;
    sizes.Rates = ModuleTables::RateCount;
    TRunChoice choice;
    const TMeasurementChoices stored = ReadMeasurementChoices(
        file, ModuleTables::RangesU, ModuleTables::RangesR, sizes, choice.Config.Settings);
    choice.Config.Settings.CoefSource =
        ReadSetting(file, SettingsTable(ModuleTables::RangesU, ModuleTables::RangesR),
                    SettingsKeys::ApplicationSection, SettingsKeys::CoefSource)
            .toInt();
    TChannelChoice& c = choice.Config.Channels;
    c.CommonMode = stored.CommonMode;
    std::copy(std::begin(stored.Checked), std::end(stored.Checked), choice.Checked);
    std::copy(std::begin(stored.RangeU), std::end(stored.RangeU), c.RangeU);
    std::copy(std::begin(stored.RangeR), std::end(stored.RangeR), c.RangeR);
    c.RateIndex = stored.RateIndex;
    choice.Config.CorrectionMode = stored.CorrectionMode;
    choice.WantedCrateSerial = stored.WantedCrateSerial;
    choice.WantedSlot = stored.WantedSlot;
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
