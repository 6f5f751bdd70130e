#include "acquisition/MeasurementBody.h"

#include "acquisition/ChannelReduction.h"
#include "acquisition/FrameCycle.h"
#include "acquisition/MeasurementConfiguration.h"
#include "acquisition/TMainThread.h"
#include "app/HandlerGuard.h"
#include "app/TMainForm.h"
#include "app/UiThread.h"
#include "discovery/ModuleStatus.h"
#include "dsp/TREALFFT.h"
#include "dsp/WindowedMean.h"
#include "ui/DesignLook.h"
#include "ui/TKm808AdcChannelFrame.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

#include <algorithm>
#include <new>

namespace {

bool Stopping(const TMainThread* worker) {
    return worker->Terminated || worker->MessageShown;
}

// Allocates without throwing; a failure is reported by the buffer's name.
template <typename T>
bool Allocate(TMainThread* worker, std::unique_ptr<T[]>& buffer, size_t count, const char* name) {
    buffer.reset(new (std::nothrow) T[count]);
    if (!buffer) {
        worker->Report(QString("Не могу выделить память под ") + name + "!");
        return false;
    }
    return true;
}

// The last values stay for the operator to read but no longer look live, and
// the module lamp follows what the stop phase found.
void ShowRunFailed(TMainThread* worker) {
    TMainForm* form = worker->Form;
    for (TKm808AdcChannelFrame* frame : form->ChannelFrames) {
        if (!frame->ChannelNumberLMDCheckBox->isEnabledTo(frame))
            continue;
        frame->SetUpdateLamp(2);
        if (frame->ChannelNumberLMDCheckBox->isChecked())
            frame->SetValueLook(TKm808AdcChannelFrame::TValueLook::Stale);
    }
    if (worker->LinkLost) {
        form->Device.ModuleLinkLost = true;
        ShowModuleLink(*form, false);
    }
}

} // namespace

void PrepareBuffers(TMainThread* worker) {
    UiThread::Synchronize([worker] { CaptureConfiguration(worker); });
    if (Stopping(worker))
        return;
    QThread::msleep(50);
    UiThread::Synchronize([worker] { ConfigureModule(worker); });
    if (Stopping(worker))
        return;
    QThread::msleep(50);

    const size_t samples = worker->SamplesPerChannel;
    if (!Allocate(worker, worker->RcvBuffer, worker->RecvWordCount, "RcvBuffer") ||
        !Allocate(worker, worker->Data, worker->DataCount, "Data") ||
        !Allocate(worker, worker->ChannelsStatus, size_t(worker->DataCount) + 16, "ChannelsStatus") ||
        !Allocate(worker, worker->DataPerChannel, samples + 16, "DataPerChannel") ||
        !Allocate(worker, worker->Window, samples + 16, "Window"))
        return;
    std::fill(worker->Window.get(), worker->Window.get() + samples, 0.0);

    const double rate = ConversionRate(worker->Form->Device.ModuleControl.FrequencyDivider);
    const int kind = rate < 10.0 ? 0 : 6;
    worker->WindowDescriptor.WindowKind = int8_t(kind);
    worker->Analyser.reset();
    worker->FftAdcDataPerChannel.reset();

    if (worker->ComputationMethod == "sum") {
        GenerateWorkerWindow(worker->WindowDescriptor, &worker->Terminated, worker->Window.get(),
                             worker->SamplesPerChannel, kind);
        if (Stopping(worker))
            return;
        worker->WindowNorm = kind == 0 ? double(worker->SamplesPerChannel)
                                       : WindowSum(worker->Window.get(), worker->SamplesPerChannel,
                                                   worker->WindowDescriptor.WindowTermCount,
                                                   worker->WindowDescriptor.WindowCoefs[0]);
        return;
    }
    if (worker->ComputationMethod == "fft") {
        if (!Allocate(worker, worker->FftAdcDataPerChannel, samples + 16, "FftAdcDataPerChannel") ||
            !Allocate(worker, worker->AmplitudeSpectr, samples / 2 + 16, "AmplitudeSpectr"))
            return;
        worker->Analyser.reset(new (std::nothrow) TREALFFT(worker->SamplesPerChannel, &worker->Terminated));
        if (!worker->Analyser || !worker->Analyser->HasTransform()) {
            worker->Report("Не могу выделить память под Analyser!");
            return;
        }
        worker->Analyser->SetLength(worker->SamplesPerChannel);
        worker->Analyser->GenerateWindow(worker->Window.get(), kind);
        if (Stopping(worker))
            return;
        const TREALFFT& analyser = *worker->Analyser;
        double meanSquare = analyser.WindowCoefs[0] * analyser.WindowCoefs[0];
        double harmonics = 0.0;
        for (int i = 1; i < analyser.WindowTermCount; ++i)
            harmonics += analyser.WindowCoefs[i] * analyser.WindowCoefs[i];
        worker->WindowMeanSquare = meanSquare + 0.5 * harmonics;
        // The rectangular window stays all zeros here; the spectral value uses
        // unit weights for it, whose sum is the block length.
        worker->WindowNorm = kind == 0 ? double(worker->SamplesPerChannel)
                                       : WindowSum(worker->Window.get(), worker->SamplesPerChannel,
                                                   analyser.WindowTermCount, analyser.WindowCoefs[0]);
    }
}

void MeasurementBody(TMainThread* worker) {
    PrepareBuffers(worker);
    QThread::msleep(100);
    KM808_CONTROL* module = &worker->Form->Device.ModuleControl;
    try {
        while (!Stopping(worker)) {
            const TFrameRequest request{module, worker->RcvBuffer.get(), worker->RecvWordCount};
            if (!AcquireFrame(worker, request))
                break;
            if (worker->Terminated)
                break;
            if (!ProcessFrame(worker, module, worker->RcvBuffer.get(), worker->Data.get(),
                              worker->RecvWordCount, worker->CorrectionMode)) {
                worker->Report("Не могу обработать полученные данные с модуля!");
                break;
            }
            if (worker->Terminated)
                break;
            ReduceChannels(worker);
            if (Stopping(worker))
                break;
            UiThread::Synchronize([worker] { ShowChannelValues(worker); });
            if (worker->Terminated)
                break;
            QThread::msleep(100);
            if (worker->Terminated)
                break;
            UiThread::Synchronize([worker] { ShowFrameLeds(worker); });
            if (worker->Terminated)
                break;
        }
    } catch (...) {
        worker->Report("Опаньки!!!\nПоймали неустранимое исключение потока сбора данных!!!\nСрочно сообщите "
                       "разработчику!");
    }
    if (module->AcquisitionRunning != 0 && KM808_Stop(module) != 0)
        worker->Report("KM808_Stop() --> BAD!!!!");
    // After a failure the module is asked once whether it still answers, so
    // that its lamp tells the truth about the link.
    if (worker->MessageShown && !worker->Terminated)
        worker->LinkLost = KM808_GetConfig(module) != 0;
    QThread::msleep(100);
    UiThread::Synchronize([worker] { FinishMeasurement(worker); });
}

void FinishMeasurement(TMainThread* worker) {
    TMainForm* form = worker->Form;
    TGuardHeld guard(form->HandlersBusy);
    QPushButton* button = form->StartMultimeterLMDSpeedButton;
    button->setText("С   Т   А   Р   Т");
    DesignLook::SetTextColor(button, DesignLook::Green);
    button->setChecked(false);
    form->AcquisitionTimeLMDLabel->setText("-----");
    form->KadrRateLMDLabel->setText("-----");
    for (QLabel* label : {form->VoltmeterValueLMDLabel, form->AmperemeterValueLMDLabel})
        label->setToolTip(QString());
    worker->FreeBuffers();
    if (worker->MessageShown)
        ShowRunFailed(worker);
    form->Flags.MeasurementIdle = true;
}
