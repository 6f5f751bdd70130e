#include "acquisition/MeasurementConfiguration.h"

#include "acquisition/DisplayFormat.h"
#include "acquisition/TMainThread.h"
#include "app/HandlerGuard.h"
#include "app/TMainForm.h"
#include "discovery/ModuleEnumeration.h"
#include "discovery/ModuleStatus.h"
#include "ui/DesignLook.h"
#include "ui/TKm808AdcChannelFrame.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

bool CheckBoxEnabled(const TKm808AdcChannelFrame* frame) {
    return frame->ChannelNumberLMDCheckBox->isEnabledTo(frame);
}

bool CheckBoxActive(const TKm808AdcChannelFrame* frame) {
    return CheckBoxEnabled(frame) && frame->ChannelNumberLMDCheckBox->isChecked();
}

} // namespace

void CaptureConfiguration(TMainThread* worker) {
    TMainForm* form = worker->Form;
    TGuardHeld guard(form->HandlersBusy);
    form->StartMultimeterLMDSpeedButton->setText("С   Т   О   П");
    DesignLook::SetTextColor(form->StartMultimeterLMDSpeedButton, DesignLook::Red);

    const int limit = form->CommonMeasuringModeLMDComboBox->currentIndex() == 0 ? 16 : 8;
    for (int c = 0; c < 16; ++c) {
        TKm808AdcChannelFrame* frame = form->ChannelFrames[c];
        const QString mode = frame->MeasuringModeLMDLabel->text();
        worker->ChannelQuantity[c] = mode == "R" ? 1 : 0;
        if (worker->ChannelQuantity[c] == 0 || c < limit)
            frame->Value1LMDEdit->setText(QString());
        frame->SetUpdateLamp(2);
        worker->ChannelRange[c] = frame->InputRangeULMDComboBox->currentIndex();
    }
    worker->CommonMeasuringMode = form->CommonMeasuringModeLMDComboBox->currentIndex();
    worker->CorrectionMode = form->CorrectionModeLMDComboBox->currentIndex();
    worker->ComputationMethod = form->Settings.ComputationMethod;
    worker->AmplitudeType = form->Settings.AmplitudeType;
    worker->AcquisitionTime = form->Settings.AcquisitionTime;
}

void ConfigureModule(TMainThread* worker) {
    TMainForm* form = worker->Form;
    TGuardHeld guard(form->HandlersBusy);
    KM808_CONTROL& module = form->Device.ModuleControl;

    // The last run lost the module's link: open it afresh, so that a server
    // that is back is simply used again and one that is not says so plainly.
    if (form->Device.ModuleLinkLost) {
        if (!OpenChosenModule(form->Device)) {
            worker->Report("Нет связи с модулем!!!\nПроверьте сервер крейтов и нажмите \"Обнаружить\".");
            return;
        }
        form->Device.ModuleLinkLost = false;
        ShowModuleLink(*form, true);
    }

    if (module.AcquisitionRunning != 0 && KM808_Stop(&module) != 0) {
        worker->Report("KM808_Stop() --> BAD!!!");
        return;
    }

    std::fill(std::begin(worker->ChannelPosition), std::end(worker->ChannelPosition), uint16_t(65535));
    std::fill(std::begin(worker->ChannelRangeR), std::end(worker->ChannelRangeR), -1);
    worker->ResultChannelCount = 0;
    int k = 0;
    const int commonMode = form->CommonMeasuringModeLMDComboBox->currentIndex();
    for (int c = 0; c < 16; ++c) {
        const TKm808AdcChannelFrame* frame = form->ChannelFrames[c];
        if (!CheckBoxActive(frame))
            continue;
        if (c >= 8 || commonMode == 0) {
            const int range = frame->InputRangeULMDComboBox->currentIndex();
            // The range indexes the display formats and goes to the module:
            // a selector showing no item cannot start a measurement.
            if (range < 0 || range > 2) {
                worker->Report("Не выбран входной диапазон канала " + QString::number(c + 1) + "!!!");
                return;
            }
            module.LogicalChannelTable[k] = {KM808_MODE_VOLTAGE, uint8_t(c), uint8_t(range)};
            worker->ChannelPosition[c] = uint16_t(k);
            k += 1;
            worker->ResultChannelCount += 1;
        } else if (commonMode == 1) {
            const int range = frame->InputRangeRLMDComboBox->currentIndex();
            if (range < 0 || range > 2) {
                worker->Report("Не выбран входной диапазон канала " + QString::number(c + 1) + "!!!");
                return;
            }
            module.LogicalChannelTable[k] = {KM808_MODE_RESISTANCE_A, uint8_t(c), uint8_t(range)};
            module.LogicalChannelTable[k + 1] = {KM808_MODE_RESISTANCE_B, uint8_t(c), uint8_t(range)};
            worker->ChannelPosition[c] = uint16_t(worker->ResultChannelCount);
            worker->ChannelRangeR[c] = range;
            worker->ResultChannelCount += 1;
            k += 2;
        }
    }
    module.LogicalChannelCount = worker->CommonMeasuringMode == 1 ? int32_t(2 * worker->ResultChannelCount)
                                                                  : int32_t(worker->ResultChannelCount);
    if (worker->ResultChannelCount == 0) {
        worker->Report("Необходимо выбрать не менне одного активного канала!");
        return;
    }

    const int rateIndex = form->AdcRateComboBox->currentIndex();
    if (rateIndex < 0 || rateIndex >= int(std::size(form->AdcDividers))) {
        worker->Report("Не выбрана частота работы АЦП!!!");
        return;
    }
    module.CalibrationSlotCount = worker->CorrectionMode == 0 ? 0 : 1;
    module.OptionByte1 = 0;
    module.OptionByte2 = 1;
    module.FrequencyDivider = static_cast<int32_t>(form->AdcDividers[rateIndex]);
    if (KM808_SetADC(&module) != 0) {
        worker->Report("KM808_SetADC() --> BAD!!!");
        return;
    }
    const double rate = ConversionRate(module.FrequencyDivider);
    if (std::fabs(form->AdcRates[rateIndex] - rate) > 0.0001) {
        worker->Report("Ошибка вычисление частоты работы АЦП!!!");
        return;
    }
    if (KM808_Calibrate(&module) != 0) {
        worker->Report("Не могу выполнить функцию KM808_Calibrate()!!!");
        return;
    }

    TBlockSettings settings;
    settings.NominalRate = form->AdcRates[rateIndex];
    settings.FrequencyDivider = module.FrequencyDivider;
    settings.LogicalChannelCount = uint32_t(module.LogicalChannelCount);
    settings.CalibrationSlotCount = module.CalibrationSlotCount;
    settings.FrameLength = uint32_t(module.FrameLength);
    settings.CorrectionMode = worker->CorrectionMode;
    settings.AcquisitionTime = worker->AcquisitionTime;
    std::copy(std::begin(worker->MinSamplesPerChannel), std::end(worker->MinSamplesPerChannel),
              settings.MinSamplesPerChannel);
    if (worker->ComputationMethod != "fft")
        worker->ComputationMethod = "sum";
    settings.Fft = worker->ComputationMethod == "fft";
    const TBlockPlan plan = PlanBlock(settings);
    worker->FrameRate = plan.FrameRate;
    worker->AcquisitionTime = plan.AcquisitionTime;
    worker->RecvChunk = plan.RecvChunk;
    worker->SamplesPerChannel = plan.SamplesPerChannel;
    worker->DataCount = plan.DataCount;
    worker->RecvWordCount = plan.RecvWordCount;

    form->AcquisitionTimeLMDLabel->setText(
        FormatFloat("0.0", worker->SamplesPerChannel * 1000.0 / worker->FrameRate));
    form->KadrRateLMDLabel->setText(FormatFloat("0.000", worker->FrameRate));
}
