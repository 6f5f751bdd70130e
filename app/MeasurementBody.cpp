#include "app/MeasurementBody.h"

#include "app/ChannelDisplay.h"
#include "app/HandlerGuard.h"
#include "app/MeasurementConfiguration.h"
#include "app/ModuleStatus.h"
#include "app/TMainForm.h"
#include "app/TMainThread.h"
#include "app/UiThread.h"
#include "ui/DesignLook.h"
#include "ui/TKm808AdcChannelFrame.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

namespace {

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

void StartMeasurement(TMainThread* worker) {
    UiThread::Synchronize([worker] { CaptureConfiguration(worker); });
    if (worker->Stopping())
        return;
    QThread::msleep(50);
    UiThread::Synchronize([worker] { ConfigureModule(worker); });
    if (worker->Stopping())
        return;
    QThread::msleep(50);
    PrepareBuffers(*worker);
}

void MeasurementBody(TMainThread* worker) {
    StartMeasurement(worker);
    QThread::msleep(100);
    try {
        for (;;) {
            // The active state is read once per block, from the frames' own
            // mirror of it.
            bool active[16];
            for (int c = 0; c < 16; ++c)
                active[c] = worker->Form->ChannelActive(c);
            if (!MeasureBlock(*worker, active))
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
    EndRun(*worker);
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
