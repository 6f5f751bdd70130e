#include "acquisition/MeasurementCycle.h"

#include "acquisition/BlockPlan.h"
#include "acquisition/ChannelReduction.h"
#include "acquisition/FrameCycle.h"
#include "acquisition/ModuleTables.h"
#include "dsp/TREALFFT.h"
#include "dsp/WindowedMean.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <new>

namespace {

// Allocates without throwing; a failure is reported by the buffer's name.
template <typename T>
bool Allocate(TMeasurementCycle& cycle, std::unique_ptr<T[]>& buffer, size_t count, const char* name) {
    buffer.reset(new (std::nothrow) T[count]);
    if (!buffer) {
        cycle.Report(QString("Не могу выделить память под ") + name + "!");
        return false;
    }
    return true;
}

bool ValidRange(int32_t range) {
    return range >= 0 && range <= 2;
}

// The channel table from the choice; false after a report.
bool EnterChannelTable(TMeasurementCycle& cycle, const TChannelChoice& choice) {
    KM808_CONTROL& module = *cycle.Module;
    std::fill(std::begin(cycle.ChannelPosition), std::end(cycle.ChannelPosition), NoChannelPosition);
    std::fill(std::begin(cycle.ChannelRangeR), std::end(cycle.ChannelRangeR), -1);
    cycle.ResultChannelCount = 0;
    int k = 0;
    for (int c = 0; c < 16; ++c) {
        if (!choice.Active[c])
            continue;
        if (c >= ModuleTables::ResistanceChannels || choice.CommonMode == 0) {
            const int range = choice.RangeU[c];
            // The range indexes the display formats and goes to the module:
            // a channel without one cannot start a measurement.
            if (!ValidRange(range)) {
                cycle.Report("Не выбран входной диапазон канала " + QString::number(c + 1) + "!!!");
                return false;
            }
            module.LogicalChannelTable[k] = {KM808_MODE_VOLTAGE, uint8_t(c), uint8_t(range)};
            // The value's place in a converted frame, which a resistance
            // channel before it fills with one value for its two entries.
            cycle.ChannelPosition[c] = uint16_t(cycle.ResultChannelCount);
            k += 1;
            cycle.ResultChannelCount += 1;
        } else if (choice.CommonMode == 1) {
            const int range = choice.RangeR[c];
            if (!ValidRange(range)) {
                cycle.Report("Не выбран входной диапазон канала " + QString::number(c + 1) + "!!!");
                return false;
            }
            module.LogicalChannelTable[k] = {KM808_MODE_RESISTANCE_A, uint8_t(c), uint8_t(range)};
            module.LogicalChannelTable[k + 1] = {KM808_MODE_RESISTANCE_B, uint8_t(c), uint8_t(range)};
            cycle.ChannelPosition[c] = uint16_t(cycle.ResultChannelCount);
            cycle.ChannelRangeR[c] = range;
            cycle.ResultChannelCount += 1;
            k += 2;
        }
    }
    // The entries made: a resistance channel takes two.
    module.LogicalChannelCount = k;
    if (cycle.ResultChannelCount == 0) {
        cycle.Report("Необходимо выбрать не менне одного активного канала!");
        return false;
    }
    return true;
}

} // namespace

void ApplyConfiguration(TMeasurementCycle& cycle, const TMeasurementConfig& config) {
    std::copy(std::begin(config.ChannelQuantity), std::end(config.ChannelQuantity), cycle.ChannelQuantity);
    std::copy(std::begin(config.Channels.RangeU), std::end(config.Channels.RangeU), cycle.ChannelRange);
    cycle.CommonMeasuringMode = config.Channels.CommonMode;
    cycle.CorrectionMode = config.CorrectionMode;
    std::copy(std::begin(config.Settings.ValueFormats), std::end(config.Settings.ValueFormats),
              cycle.ValueFormats);
    cycle.Reading = TBlockReading{};
    cycle.ComputationMethod = config.Settings.ComputationMethod;
    cycle.AmplitudeType = config.Settings.AmplitudeType;
    cycle.AcquisitionTime = config.Settings.AcquisitionTime;
    for (int i = 0; i < 4; ++i)
        cycle.MinSamplesPerChannel[i] = static_cast<uint32_t>(config.Settings.MinSamplesPerChannel[i]);
}

bool SetUpModule(TMeasurementCycle& cycle, const TChannelChoice& choice) {
    KM808_CONTROL& module = *cycle.Module;
    if (module.AcquisitionRunning != 0 && KM808_Stop(&module) != 0) {
        cycle.Report("KM808_Stop() --> BAD!!!");
        return false;
    }
    if (!EnterChannelTable(cycle, choice))
        return false;

    const int rateIndex = choice.RateIndex;
    if (rateIndex < 0 || rateIndex >= ModuleTables::RateCount) {
        cycle.Report("Не выбрана частота работы АЦП!!!");
        return false;
    }
    module.CalibrationSlotCount = cycle.CorrectionMode == 0 ? 0 : 1;
    module.OptionByte1 = 0;
    module.OptionByte2 = 1;
    module.FrequencyDivider = static_cast<int32_t>(ModuleTables::AdcDividers[rateIndex]);
    if (KM808_SetADC(&module) != 0) {
        cycle.Report("KM808_SetADC() --> BAD!!!");
        return false;
    }
    const double rate = ConversionRate(module.FrequencyDivider);
    if (std::fabs(ModuleTables::AdcRate(rateIndex) - rate) > 0.0001) {
        cycle.Report("Ошибка вычисление частоты работы АЦП!!!");
        return false;
    }
    if (KM808_Calibrate(&module) != 0) {
        cycle.Report("Не могу выполнить функцию KM808_Calibrate()!!!");
        return false;
    }

    TBlockSettings settings;
    settings.NominalRate = ModuleTables::AdcRate(rateIndex);
    settings.FrequencyDivider = module.FrequencyDivider;
    settings.LogicalChannelCount = uint32_t(module.LogicalChannelCount);
    settings.CalibrationSlotCount = module.CalibrationSlotCount;
    settings.FrameLength = uint32_t(module.FrameLength);
    settings.CorrectionMode = cycle.CorrectionMode;
    settings.AcquisitionTime = cycle.AcquisitionTime;
    std::copy(std::begin(cycle.MinSamplesPerChannel), std::end(cycle.MinSamplesPerChannel),
              settings.MinSamplesPerChannel);
    if (cycle.ComputationMethod != "fft")
        cycle.ComputationMethod = "sum";
    settings.Fft = cycle.ComputationMethod == "fft";
    const TBlockPlan plan = PlanBlock(settings);
    cycle.FrameRate = plan.FrameRate;
    cycle.AcquisitionTime = plan.AcquisitionTime;
    cycle.RecvChunk = plan.RecvChunk;
    cycle.SamplesPerChannel = plan.SamplesPerChannel;
    cycle.DataCount = plan.DataCount;
    cycle.RecvWordCount = plan.RecvWordCount;
    return true;
}

bool PrepareBuffers(TMeasurementCycle& cycle) {
    const size_t samples = cycle.SamplesPerChannel;
    if (!Allocate(cycle, cycle.RcvBuffer, cycle.RecvWordCount, "RcvBuffer") ||
        !Allocate(cycle, cycle.Data, cycle.DataCount, "Data") ||
        !Allocate(cycle, cycle.ChannelsStatus, size_t(cycle.DataCount) + 16, "ChannelsStatus") ||
        !Allocate(cycle, cycle.DataPerChannel, samples + 16, "DataPerChannel") ||
        !Allocate(cycle, cycle.Window, samples + 16, "Window"))
        return false;
    std::fill(cycle.Window.get(), cycle.Window.get() + samples, 0.0);

    const double rate = ConversionRate(cycle.Module->FrequencyDivider);
    const int kind = rate < 10.0 ? 0 : 6;
    cycle.WindowDescriptor.WindowKind = int8_t(kind);
    cycle.Analyser.reset();
    cycle.FftAdcDataPerChannel.reset();

    if (cycle.ComputationMethod == "sum") {
        GenerateWorkerWindow(cycle.WindowDescriptor, &cycle.Terminated, cycle.Window.get(),
                             cycle.SamplesPerChannel, kind);
        if (cycle.Stopping())
            return false;
        cycle.WindowNorm = kind == 0 ? double(cycle.SamplesPerChannel)
                                     : WindowSum(cycle.Window.get(), cycle.SamplesPerChannel,
                                                 cycle.WindowDescriptor.WindowTermCount,
                                                 cycle.WindowDescriptor.WindowCoefs[0]);
        return true;
    }
    if (cycle.ComputationMethod == "fft") {
        if (!Allocate(cycle, cycle.FftAdcDataPerChannel, samples + 16, "FftAdcDataPerChannel") ||
            !Allocate(cycle, cycle.AmplitudeSpectr, samples / 2 + 16, "AmplitudeSpectr"))
            return false;
        cycle.Analyser.reset(new (std::nothrow) TREALFFT(cycle.SamplesPerChannel, &cycle.Terminated));
        if (!cycle.Analyser || !cycle.Analyser->HasTransform()) {
            cycle.Report("Не могу выделить память под Analyser!");
            return false;
        }
        cycle.Analyser->SetLength(cycle.SamplesPerChannel);
        cycle.Analyser->GenerateWindow(cycle.Window.get(), kind);
        if (cycle.Stopping())
            return false;
        const TREALFFT& analyser = *cycle.Analyser;
        double meanSquare = analyser.WindowCoefs[0] * analyser.WindowCoefs[0];
        double harmonics = 0.0;
        for (int i = 1; i < analyser.WindowTermCount; ++i)
            harmonics += analyser.WindowCoefs[i] * analyser.WindowCoefs[i];
        cycle.WindowMeanSquare = meanSquare + 0.5 * harmonics;
        // The rectangular window stays all zeros here; the spectral value uses
        // unit weights for it, whose sum is the block length.
        cycle.WindowNorm = kind == 0 ? double(cycle.SamplesPerChannel)
                                     : WindowSum(cycle.Window.get(), cycle.SamplesPerChannel,
                                                 analyser.WindowTermCount, analyser.WindowCoefs[0]);
    }
    return !cycle.Stopping();
}

bool StartRun(TMeasurementCycle& cycle, const TMeasurementConfig& config) {
    ApplyConfiguration(cycle, config);
    return SetUpModule(cycle, config.Channels) && PrepareBuffers(cycle);
}

namespace {

bool ReceiveAndReduce(TMeasurementCycle& cycle, const bool active[16]) {
    if (cycle.Stopping())
        return false;
    const TFrameRequest request{cycle.Module, cycle.RcvBuffer.get(), cycle.RecvWordCount};
    if (!AcquireFrame(cycle, request) || cycle.Terminated)
        return false;
    if (!ProcessFrame(cycle, cycle.Module, cycle.RcvBuffer.get(), cycle.Data.get(), cycle.RecvWordCount,
                      cycle.CorrectionMode)) {
        cycle.Report("Не могу обработать полученные данные с модуля!");
        return false;
    }
    if (cycle.Terminated)
        return false;
    ReduceChannels(cycle, active);
    return !cycle.Stopping();
}

} // namespace

bool MeasureBlock(TMeasurementCycle& cycle, const bool active[16]) {
    if (!ReceiveAndReduce(cycle, active))
        return false;
    RecordReading(cycle, active);
    return true;
}

void EndRun(TMeasurementCycle& cycle) {
    KM808_CONTROL* module = cycle.Module;
    if (module->AcquisitionRunning != 0 && KM808_Stop(module) != 0)
        cycle.Report("KM808_Stop() --> BAD!!!!");
    // After a failure the module is asked once whether it still answers, so
    // that its lamp tells the truth about the link.
    if (cycle.MessageShown && !cycle.Terminated)
        cycle.LinkLost = KM808_GetConfig(module) != 0;
    // Whoever keeps the last reading must not take it for a current one.
    if (cycle.MessageShown)
        for (TChannelEntry& entry : cycle.Reading.Channels)
            entry.Stale = entry.Active;
}

TChannelReading ChannelReading(const TMeasurementCycle& cycle, int c) {
    TChannelReading reading;
    if (c < 0 || c >= 16)
        return reading;
    reading.OverRange = cycle.ChannelOverRange[c];
    const int32_t quantity = cycle.ChannelQuantity[c];
    if (quantity != 0 && quantity != 1)
        return reading;
    reading.Resistance = quantity == 1;
    // A range that was never chosen has no display format.
    const int index = reading.Resistance ? ValueFormatIndex(TQuantity::Resistance, cycle.ChannelRangeR[c])
                                         : ValueFormatIndex(TQuantity::Voltage, cycle.ChannelRange[c]);
    if (index < 0) {
        reading.Resistance = false;
        return reading;
    }
    reading.Shown = true;
    reading.Value = reading.Resistance ? cycle.ResistanceValues[c] : cycle.VoltageValues[c] * 1000.0;
    reading.FormatIndex = index;
    return reading;
}

double PlannedPeriod(const TMeasurementCycle& cycle) {
    return cycle.FrameRate > 0.0 ? double(cycle.SamplesPerChannel) / cycle.FrameRate : 0.0;
}

void RecordReading(TMeasurementCycle& cycle, const bool active[16]) {
    TBlockReading& record = cycle.Reading;
    record.Block += 1;
    record.Time = QDateTime::currentDateTimeUtc();
    record.Period = PlannedPeriod(cycle);
    for (int c = 0; c < 16; ++c) {
        const TChannelReading reading = ChannelReading(cycle, c);
        TChannelEntry& entry = record.Channels[size_t(c)];
        entry = TChannelEntry{};
        entry.Active = cycle.ChannelPosition[c] != NoChannelPosition && active[c];
        entry.Quantity = cycle.ChannelQuantity[c] == 1 ? TQuantity::Resistance : TQuantity::Voltage;
        entry.OverRange = reading.OverRange;
        if (!reading.Shown)
            continue;
        entry.Range = reading.FormatIndex % 3;
        entry.Value = reading.Value;
        entry.Text = ReadingText(cycle.ValueFormats[reading.FormatIndex], reading.Value);
    }
}
