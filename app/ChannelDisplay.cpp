#include "app/ChannelDisplay.h"

#include "acquisition/DisplayFormat.h"
#include "acquisition/MeasurementCycle.h"
#include "acquisition/ModuleTables.h"
#include "app/HandlerGuard.h"
#include "app/TMainForm.h"
#include "app/TrendHookup.h"
#include "ui/TKm808AdcChannelFrame.h"

#include <QCheckBox>
#include <QLineEdit>

void ChooseValueFaces(TMainForm& window, const TMeasurementCycle& cycle) {
    for (int c = 0; c < 16; ++c) {
        // A channel without readings keeps its box as it is.
        const TChannelReading reading = ChannelReading(cycle, c);
        if (!reading.Shown || cycle.ChannelPosition[c] == NoChannelPosition)
            continue;
        // A full-scale reading of the negative sign is the longest text a
        // range gives with its decimals.
        const double limit = reading.Resistance ? ModuleTables::RangesR[reading.FormatIndex - 3]
                                                : ModuleTables::RangesU[reading.FormatIndex] * 1000.0;
        window.ChannelFrames[c]->ChooseValueFace(
            FormatFloat(cycle.ValueFormats[reading.FormatIndex], -limit));
    }
}

void ShowChannelValues(TMainForm& window, const TBlockReading& reading) {
    TMainForm* form = &window;
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
        const TChannelEntry& entry = reading.Channels[size_t(c)];
        if (entry.Range < 0)
            continue;
        frame->SetValueLook(entry.OverRange ? TKm808AdcChannelFrame::TValueLook::OverRange
                                            : TKm808AdcChannelFrame::TValueLook::Live);
        edit->setText(entry.Text);
    }
    FeedTrend(*form, reading);
}

void ShowFrameLeds(TMainForm& window, const TBlockReading& reading) {
    TGuardHeld guard(window.HandlersBusy);
    for (int c = 0; c < 16; ++c) {
        TKm808AdcChannelFrame* frame = window.ChannelFrames[c];
        const QCheckBox* box = frame->ChannelNumberLMDCheckBox;
        if (box->isEnabledTo(frame))
            frame->SetUpdateLamp(!box->isChecked() ? 2 : reading.Channels[size_t(c)].OverRange ? 1 : 0);
    }
}
