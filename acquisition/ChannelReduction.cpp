#include "acquisition/ChannelReduction.h"

#include "acquisition/ModuleTables.h"
#include "acquisition/ReadingLimits.h"
#include "acquisition/TMeasurementCycle.h"
#include "dsp/TREALFFT.h"
#include "dsp/WindowedMean.h"

#include <algorithm>
#include <cmath>

namespace {

void StoreValue(TMeasurementCycle& cycle, int c, double v) {
    if (cycle.ChannelQuantity[c] == 0)
        cycle.VoltageValues[c] = v;
    else if (cycle.ChannelQuantity[c] == 1)
        cycle.ResistanceValues[c] = v;
}

void ExtractChannel(TMeasurementCycle& cycle, int c) {
    const double* source = cycle.Data.get() + cycle.ChannelPosition[c];
    const uint32_t stride = cycle.ResultChannelCount;
    double* samples = cycle.DataPerChannel.get();
    for (uint32_t i = 0; i < cycle.SamplesPerChannel; ++i)
        samples[i] = source[static_cast<size_t>(stride) * i];
}

// The value of a channel under "fft": the windowed samples are transformed, the
// amplitude spectrum kept, and the value is the signed DC term over the
// window's sum, the same window-weighted mean as under "sum". The analyser's
// rectangular window is all zeros, so unit weights stand in for it.
void SpectralValue(TMeasurementCycle& cycle, int c) {
    const uint32_t n = cycle.SamplesPerChannel;
    const double* samples = cycle.DataPerChannel.get();
    double* windowed = cycle.FftAdcDataPerChannel.get();
    if (cycle.WindowDescriptor.WindowKind == 0) {
        std::copy(samples, samples + n, windowed);
    } else {
        const double* w = cycle.Window.get();
        for (uint32_t i = 0; i < n; ++i)
            windowed[i] = samples[i] * w[i];
    }
    double dc = 0.0;
    if (cycle.Analyser->Transform(windowed, cycle.AmplitudeSpectr.get(), cycle.WindowNorm, dc))
        StoreValue(cycle, c, dc);
}

// Flags the channels whose block was clipped or whose value lies at or beyond
// the full scale of the range it was measured on.
void MarkOverRange(TMeasurementCycle& cycle, const int* channels, uint32_t count) {
    const KM808_CONTROL& module = *cycle.Module;
    // A copy first: the packed record's field may sit unaligned.
    const int32_t entries = module.LogicalChannelCount;
    const uint32_t tableLength = uint32_t(std::clamp<int32_t>(entries, 0, KM808_MAX_TABLE));
    bool clipped[KM808_MAX_TABLE] = {};
    if (cycle.RcvBuffer)
        FindClippedEntries(cycle.RcvBuffer.get(), cycle.RecvWordCount, tableLength, clipped);
    for (uint32_t k = 0; k < tableLength; ++k)
        if (clipped[k] && module.LogicalChannelTable[k].PhysicalChannel < 16)
            cycle.ChannelOverRange[module.LogicalChannelTable[k].PhysicalChannel] = true;
    for (uint32_t j = 0; j < count; ++j) {
        const int c = channels[j];
        if (cycle.ChannelQuantity[c] == 0 && cycle.ChannelRange[c] >= 0 && cycle.ChannelRange[c] <= 2) {
            if (BeyondRangeLimit(cycle.VoltageValues[c], ModuleTables::RangesU[cycle.ChannelRange[c]]))
                cycle.ChannelOverRange[c] = true;
        } else if (cycle.ChannelQuantity[c] == 1 && cycle.ChannelRangeR[c] >= 0 &&
                   cycle.ChannelRangeR[c] <= 2) {
            if (BeyondRangeLimit(cycle.ResistanceValues[c], ModuleTables::RangesR[cycle.ChannelRangeR[c]]))
                cycle.ChannelOverRange[c] = true;
        }
    }
}

} // namespace

void ReduceChannels(TMeasurementCycle& cycle, const bool active[16]) {
    std::fill(std::begin(cycle.VoltageValues), std::end(cycle.VoltageValues), 0.0);
    std::fill(std::begin(cycle.ResistanceValues), std::end(cycle.ResistanceValues), 0.0);
    std::fill(std::begin(cycle.ChannelOverRange), std::end(cycle.ChannelOverRange), false);
    if (cycle.Terminated)
        return;

    // The active state is read once per block; a channel counts only if it
    // also took part in the module set-up.
    int channels[16];
    uint32_t positions[16];
    uint32_t count = 0;
    for (int c = 0; c < 16; ++c) {
        if (cycle.ChannelPosition[c] != NoChannelPosition && active[c]) {
            channels[count] = c;
            positions[count] = cycle.ChannelPosition[c];
            ++count;
        }
    }
    if (count == 0 || cycle.Stopping())
        return;

    if (cycle.ComputationMethod == "fft") {
        for (uint32_t j = 0; j < count && !cycle.Stopping(); ++j) {
            ExtractChannel(cycle, channels[j]);
            SpectralValue(cycle, channels[j]);
        }
        MarkOverRange(cycle, channels, count);
        return;
    }
    // All channels in one pass over the block, each bit for bit the windowed
    // mean of its extracted samples.
    double means[16];
    StridedWindowedMeans(cycle.Data.get(), cycle.ResultChannelCount, positions, count, cycle.Window.get(),
                         cycle.SamplesPerChannel, cycle.WindowNorm, means);
    for (uint32_t j = 0; j < count; ++j)
        StoreValue(cycle, channels[j], means[j]);
    MarkOverRange(cycle, channels, count);
}
