#include "acquisition/ChannelReduction.h"

#include "acquisition/DisplayFormat.h"
#include "acquisition/TMainThread.h"
#include "app/HandlerGuard.h"
#include "app/TMainForm.h"
#include "dsp/TREALFFT.h"
#include "dsp/WindowedMean.h"
#include "ui/DesignLook.h"
#include "ui/TKm808AdcChannelFrame.h"

#include <QCheckBox>
#include <QLineEdit>

#include <algorithm>
#include <cmath>

namespace {

constexpr uint16_t NoPosition = 65535;

bool Stopping(const TMainThread* worker) {
    return worker->Terminated || worker->MessageShown;
}

void ShowValueLook(TKm808AdcChannelFrame* frame, bool overRange) {
    frame->SetValueLook(overRange ? TKm808AdcChannelFrame::TValueLook::OverRange
                                  : TKm808AdcChannelFrame::TValueLook::Live);
}

void StoreValue(TMainThread* worker, int c, double v) {
    if (worker->ChannelQuantity[c] == 0)
        worker->VoltageValues[c] = v;
    else if (worker->ChannelQuantity[c] == 1)
        worker->ResistanceValues[c] = v;
}

void ExtractChannel(TMainThread* worker, int c) {
    const double* source = worker->Data.get() + worker->ChannelPosition[c];
    const uint32_t stride = worker->ResultChannelCount;
    double* samples = worker->DataPerChannel.get();
    for (uint32_t i = 0; i < worker->SamplesPerChannel; ++i)
        samples[i] = source[static_cast<size_t>(stride) * i];
}

// The value of a channel under "fft": the windowed samples are transformed, the
// amplitude spectrum kept, and the value is the signed DC term over the
// window's sum, the same window-weighted mean as under "sum". The analyser's
// rectangular window is all zeros, so unit weights stand in for it.
void SpectralValue(TMainThread* worker, int c) {
    const uint32_t n = worker->SamplesPerChannel;
    const double* samples = worker->DataPerChannel.get();
    double* windowed = worker->FftAdcDataPerChannel.get();
    if (worker->WindowDescriptor.WindowKind == 0) {
        std::copy(samples, samples + n, windowed);
    } else {
        const double* w = worker->Window.get();
        for (uint32_t i = 0; i < n; ++i)
            windowed[i] = samples[i] * w[i];
    }
    double dc = 0.0;
    if (worker->Analyser->Transform(windowed, worker->AmplitudeSpectr.get(), worker->WindowNorm, dc))
        StoreValue(worker, c, dc);
}

// Flags the channels whose block was clipped or whose value lies at or beyond
// the full scale of the range it was measured on.
void MarkOverRange(TMainThread* worker, const int* channels, uint32_t count) {
    const TMainForm* form = worker->Form;
    const KM808_CONTROL& module = form->Device.ModuleControl;
    // A copy first: the packed record's field may sit unaligned.
    const int32_t entries = module.LogicalChannelCount;
    const uint32_t tableLength = uint32_t(std::clamp<int32_t>(entries, 0, KM808_MAX_TABLE));
    bool clipped[KM808_MAX_TABLE] = {};
    if (worker->RcvBuffer)
        FindClippedEntries(worker->RcvBuffer.get(), worker->RecvWordCount, tableLength, clipped);
    for (uint32_t k = 0; k < tableLength; ++k)
        if (clipped[k] && module.LogicalChannelTable[k].PhysicalChannel < 16)
            worker->ChannelOverRange[module.LogicalChannelTable[k].PhysicalChannel] = true;
    for (uint32_t j = 0; j < count; ++j) {
        const int c = channels[j];
        if (worker->ChannelQuantity[c] == 0 && worker->ChannelRange[c] >= 0 && worker->ChannelRange[c] <= 2) {
            if (BeyondRangeLimit(worker->VoltageValues[c], form->InputRangesU[worker->ChannelRange[c]]))
                worker->ChannelOverRange[c] = true;
        } else if (worker->ChannelQuantity[c] == 1 && worker->ChannelRangeR[c] >= 0 &&
                   worker->ChannelRangeR[c] <= 2) {
            if (BeyondRangeLimit(worker->ResistanceValues[c], form->InputRangesR[worker->ChannelRangeR[c]]))
                worker->ChannelOverRange[c] = true;
        }
    }
}

} // namespace

void ReduceChannels(TMainThread* worker) {
    std::fill(std::begin(worker->VoltageValues), std::end(worker->VoltageValues), 0.0);
    std::fill(std::begin(worker->ResistanceValues), std::end(worker->ResistanceValues), 0.0);
    std::fill(std::begin(worker->ChannelOverRange), std::end(worker->ChannelOverRange), false);
    if (worker->Terminated)
        return;

    // The active state is read once per block; a channel counts only if it
    // also took part in the module set-up.
    int channels[16];
    uint32_t positions[16];
    uint32_t count = 0;
    for (int c = 0; c < 16; ++c) {
        if (worker->ChannelPosition[c] != NoPosition && worker->Form->ChannelActive(c)) {
            channels[count] = c;
            positions[count] = worker->ChannelPosition[c];
            ++count;
        }
    }
    if (count == 0 || Stopping(worker))
        return;

    if (worker->ComputationMethod == "fft") {
        for (uint32_t j = 0; j < count && !Stopping(worker); ++j) {
            ExtractChannel(worker, channels[j]);
            SpectralValue(worker, channels[j]);
        }
        MarkOverRange(worker, channels, count);
        return;
    }
    // All channels in one pass over the block, each bit for bit the windowed
    // mean of its extracted samples.
    double means[16];
    StridedWindowedMeans(worker->Data.get(), worker->ResultChannelCount, positions, count,
                         worker->Window.get(), worker->SamplesPerChannel, worker->WindowNorm, means);
    for (uint32_t j = 0; j < count; ++j)
        StoreValue(worker, channels[j], means[j]);
    MarkOverRange(worker, channels, count);
}

void ShowChannelValues(TMainThread* worker) {
    TMainForm* form = worker->Form;
    TGuardHeld guard(form->HandlersBusy);
    for (TKm808AdcChannelFrame* frame : form->ChannelFrames)
        frame->SetUpdateLamp(2);
    for (int c = 0; c < 16; ++c) {
        TKm808AdcChannelFrame* frame = form->ChannelFrames[c];
        const QCheckBox* box = frame->ChannelNumberLMDCheckBox;
        if (!box->isEnabledTo(frame))
            continue;
        QLineEdit* edit = frame->Value1LMDEdit;
        if (!box->isChecked()) {
            edit->setText("--------");
            continue;
        }
        // A range that was never chosen has no display format.
        if (worker->ChannelQuantity[c] == 0) {
            const int range = worker->ChannelRange[c];
            if (range < 0 || range > 2)
                continue;
            ShowValueLook(frame, worker->ChannelOverRange[c]);
            edit->setText(FormatFloat(form->Settings.ValueFormats[range], worker->VoltageValues[c] * 1000.0));
        } else if (worker->ChannelQuantity[c] == 1) {
            const int range = worker->ChannelRangeR[c];
            if (range < 0 || range > 2)
                continue;
            edit->setText(FormatFloat(form->Settings.ValueFormats[3 + range], worker->ResistanceValues[c]));
            ShowValueLook(frame, worker->ChannelOverRange[c]);
        }
    }
}

void ShowFrameLeds(TMainThread* worker) {
    TGuardHeld guard(worker->Form->HandlersBusy);
    for (int c = 0; c < 16; ++c) {
        TKm808AdcChannelFrame* frame = worker->Form->ChannelFrames[c];
        const QCheckBox* box = frame->ChannelNumberLMDCheckBox;
        if (box->isEnabledTo(frame))
            frame->SetUpdateLamp(!box->isChecked() ? 2 : worker->ChannelOverRange[c] ? 1 : 0);
    }
}
