#include "settings/MeasurementSettingsFile.h"

#include "settings/SettingsKeys.h"
#include "settings/TSettingsFile.h"

using namespace SettingsKeys;

void ReadMeasurementSettings(const TSettingsFile& file, const std::vector<TSettingRow>& table,
                             const double rangesU[3], const double rangesR[3],
                             TMeasurementSettings& settings) {
    auto read = [&](const QString& key) { return ReadSetting(file, table, ModuleSection, key); };
    settings.ComputationMethod = read(ComputationMethod).toString();
    settings.AmplitudeType = read(AmplitudeType).toString();
    settings.AcquisitionTime = read(AcquisitionTime).toDouble();
    for (int i = 0; i < 4; ++i)
        settings.MinSamplesPerChannel[i] = read(MinSamples[i]).toInt();
    for (int i = 0; i < 6; ++i) {
        const QString key = i < 3 ? PrecisionU(rangesU[i]) : PrecisionR(rangesR[i - 3]);
        // Kept as 16 bits unsigned, so a negative value also ends at the cap.
        const uint16_t precision = static_cast<uint16_t>(read(key).toInt());
        settings.ValuePrecisions[i] = precision > 10 ? 10 : precision;
        settings.ValueFormats[i] = SettingsDefaults::PrecisionFormat(settings.ValuePrecisions[i]);
    }
}
