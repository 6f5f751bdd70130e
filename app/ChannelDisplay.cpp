#include "app/ChannelDisplay.h"

#include "acquisition/DisplayFormat.h"
#include "acquisition/MeasurementCycle.h"
#include "acquisition/ModuleTables.h"
#include "app/HandlerGuard.h"
#include "app/TMainForm.h"
#include "app/TrendHookup.h"
#include "trend/TrendRecorder.h"
#include "ui/TKm808AdcChannelFrame.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
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
    // Where a recorded block comes from, as the window shows it.
    FeedTrend(*form, reading, form->Settings.ValueFormats, [form] {
        TRecordOrigin origin;
        const TDeviceState& device = form->Device;
        const int crate = device.SelectedCrateIndex;
        if (crate < 16) {
            origin.Crate = QString::fromLatin1(device.CrateSerials[crate],
                                               int(qstrnlen(device.CrateSerials[crate], 16)));
            origin.Slot = device.ModuleSlots[crate][device.SelectedModuleIndex[crate] & 15];
        }
        origin.Serial = form->ModuleSerialNumberLMDLabel->text();
        const int rate = form->AdcRateComboBox->currentIndex();
        origin.RateHz = rate >= 0 && rate < ModuleTables::RateCount ? ModuleTables::AdcRate(rate) : 0.0;
        origin.Correction = form->CorrectionModeLMDComboBox->currentText();
        origin.Program = form->windowTitle();
        return origin;
    });
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
