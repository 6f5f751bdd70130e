#include "acquisition/BlockPlan.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// The integer part of a non-negative count, clamped to 32 bits.
uint32_t WholeCount(double x) {
    if (!(x > 0.0))
        return 0;
    if (x >= 4294967295.0)
        return 4294967295u;
    return static_cast<uint32_t>(x);
}

} // namespace

double ConversionRate(int32_t divider) {
    return 15000000.0 / (1875.0 * divider);
}

TBlockPlan PlanBlock(const TBlockSettings& s) {
    TBlockPlan plan;
    const uint32_t L = s.LogicalChannelCount;
    if (L == 0 || s.FrequencyDivider <= 0)
        return plan;
    plan.AcquisitionTime = std::isfinite(s.AcquisitionTime) ? s.AcquisitionTime : 1.0;
    const double rate = ConversionRate(s.FrequencyDivider);
    plan.FrameRate = rate / (L + s.CalibrationSlotCount);

    if (s.NominalRate > 10.0) {
        plan.RecvChunk = WholeCount(plan.FrameRate * 0.1 * s.FrameLength + 0.4);
    } else if (s.CorrectionMode == 0) {
        plan.RecvChunk = WholeCount(0.1 * plan.FrameRate * s.FrameLength + 0.4);
        if (plan.AcquisitionTime < 1.0)
            plan.AcquisitionTime = 1.0;
    } else {
        plan.RecvChunk = WholeCount(0.2 * plan.FrameRate * s.FrameLength + 0.4);
        if (plan.AcquisitionTime < 2.0)
            plan.AcquisitionTime = 2.0;
    }

    uint32_t m = s.MinSamplesPerChannel[3];
    if (s.NominalRate < 10.0)
        m = s.MinSamplesPerChannel[0];
    else if (s.NominalRate < 150.0)
        m = s.MinSamplesPerChannel[1];
    else if (s.NominalRate < 300.0)
        m = s.MinSamplesPerChannel[2];
    if (m / plan.FrameRate > plan.AcquisitionTime)
        plan.AcquisitionTime = m / plan.FrameRate;

    const uint32_t cap = MaxBlockValues - MaxBlockValues % L;
    if (s.Fft) {
        plan.SamplesPerChannel = 1;
        for (int i = 0; i < 32; ++i) {
            if (L * plan.SamplesPerChannel >= cap ||
                plan.SamplesPerChannel / plan.FrameRate >= plan.AcquisitionTime)
                break;
            plan.SamplesPerChannel *= 2;
        }
    } else {
        const uint32_t wanted = std::min(WholeCount(plan.AcquisitionTime * plan.FrameRate * L + 0.5), cap);
        // A block holds at least one frame.
        plan.SamplesPerChannel = std::max(1u, WholeCount(static_cast<double>(wanted) / L + 0.5));
    }
    plan.DataCount = L * plan.SamplesPerChannel;

    plan.RecvWordCount = s.FrameLength * plan.SamplesPerChannel;
    // One word per second of frames at 5 Hz rounds to no word at all; every
    // receive call must ask for something.
    plan.RecvChunk = std::max(1u, plan.RecvChunk);
    if (plan.RecvWordCount < plan.RecvChunk)
        plan.RecvChunk = plan.RecvWordCount;
    return plan;
}
