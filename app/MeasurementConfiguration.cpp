#include "app/MeasurementConfiguration.h"

#include "acquisition/DisplayFormat.h"
#include "acquisition/MeasurementCycle.h"
#include "app/ChannelDisplay.h"
#include "app/HandlerGuard.h"
#include "app/ModuleStatus.h"
#include "app/TMainForm.h"
#include "discovery/DetectionTables.h"
#include "ui/DesignLook.h"
#include "ui/TKm808AdcChannelFrame.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

void CaptureConfiguration(TMainForm& window, TMeasurementCycle& cycle) {
    TMainForm* form = &window;
    TGuardHeld guard(form->HandlersBusy);
    form->StartMultimeterLMDSpeedButton->setText("С   Т   О   П");
    DesignLook::SetTextColor(form->StartMultimeterLMDSpeedButton, DesignLook::Red);

    TMeasurementConfig config;
    const int limit = form->CommonMeasuringModeLMDComboBox->currentIndex() == 0 ? 16 : 8;
    for (int c = 0; c < 16; ++c) {
        TKm808AdcChannelFrame* frame = form->ChannelFrames[c];
        config.ChannelQuantity[c] = frame->MeasuringModeLMDLabel->text() == "R" ? 1 : 0;
        if (config.ChannelQuantity[c] == 0 || c < limit)
            frame->Value1LMDEdit->setText(QString());
        frame->SetUpdateLamp(2);
        config.Channels.RangeU[c] = frame->InputRangeULMDComboBox->currentIndex();
    }
    config.Channels.CommonMode = form->CommonMeasuringModeLMDComboBox->currentIndex();
    config.CorrectionMode = form->CorrectionModeLMDComboBox->currentIndex();
    config.Settings = form->Settings;
    ApplyConfiguration(cycle, config);
}

void ConfigureModule(TMainForm& window, TMeasurementCycle& cycle) {
    TMainForm* form = &window;
    TGuardHeld guard(form->HandlersBusy);

    // The last run lost the module's link, or the crate server closed it
    // since (a restart): open it afresh, so that a server that is back is
    // simply used again and one that is not says so plainly.
    if (form->Device.ModuleLinkLost || KM808_CheckLink(&form->Device.ModuleControl) != 0) {
        if (!ReopenChosenModule(*form)) {
            cycle.Report(form->Device.ModuleState == 2
                             ? "Нет связи с модулем!!!\nПроверьте сервер крейтов и нажмите \"Обнаружить\"."
                             : "В слоте теперь другой модуль!!!\nНажмите \"Обнаружить\".");
            return;
        }
    }

    // The channel table is read from the frames now, not at the capture.
    TChannelChoice choice;
    choice.CommonMode = form->CommonMeasuringModeLMDComboBox->currentIndex();
    for (int c = 0; c < 16; ++c) {
        const TKm808AdcChannelFrame* frame = form->ChannelFrames[c];
        choice.Active[c] = frame->ChannelNumberLMDCheckBox->isEnabledTo(frame) &&
                           frame->ChannelNumberLMDCheckBox->isChecked();
        choice.RangeU[c] = frame->InputRangeULMDComboBox->currentIndex();
        choice.RangeR[c] = frame->InputRangeRLMDComboBox->currentIndex();
    }
    choice.RateIndex = form->AdcRateComboBox->currentIndex();
    if (!SetUpModule(cycle, choice))
        return;
    ChooseValueFaces(window, cycle);

    form->AcquisitionTimeLMDLabel->setText(
        FormatFloat("0.0", cycle.SamplesPerChannel * 1000.0 / cycle.FrameRate));
    form->KadrRateLMDLabel->setText(FormatFloat("0.000", cycle.FrameRate));
}

namespace {

// The last values stay for the operator to read but no longer look live, and
// the module lamp follows what the stop phase found.
void ShowRunFailed(TMainForm* form, const TMeasurementCycle& cycle) {
    for (TKm808AdcChannelFrame* frame : form->ChannelFrames) {
        if (!frame->ChannelNumberLMDCheckBox->isEnabledTo(frame))
            continue;
        frame->SetUpdateLamp(2);
        if (frame->ChannelNumberLMDCheckBox->isChecked())
            frame->SetValueLook(TKm808AdcChannelFrame::TValueLook::Stale);
    }
    if (cycle.LinkLost) {
        form->DeviceState().ModuleLinkLost = true;
        ShowModuleLink(*form, false);
    }
}

} // namespace

void FinishMeasurement(TMainForm& window, TMeasurementCycle& cycle) {
    TMainForm* form = &window;
    TGuardHeld guard(form->HandlersBusy);
    QPushButton* button = form->StartMultimeterLMDSpeedButton;
    button->setText("С   Т   А   Р   Т");
    DesignLook::SetTextColor(button, DesignLook::Green);
    button->setChecked(false);
    form->AcquisitionTimeLMDLabel->setText("-----");
    form->KadrRateLMDLabel->setText("-----");
    for (QLabel* label : {form->VoltmeterValueLMDLabel, form->AmperemeterValueLMDLabel})
        label->setToolTip(QString());
    cycle.FreeBuffers();
    if (cycle.MessageShown)
        ShowRunFailed(form, cycle);
    form->Flags.MeasurementIdle = true;
}
