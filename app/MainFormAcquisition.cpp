// Start and stop of the acquisition worker on the main window's side.
#include "app/ChannelDisplay.h"
#include "app/HandlerGuard.h"
#include "app/MeasurementConfiguration.h"
#include "app/TMainForm.h"
#include "app/TMainThread.h"
#include "app/UiThread.h"
#include "ui/TKm808AdcChannelFrame.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMessageBox>
#include <QPointer>
#include <QTabWidget>

#include <new>

void TMainForm::StartThread() {
    if (Flags.WorkerRunning || !Flags.WorkerGate)
        return;
    const qsizetype page = WorkerPages.indexOf(MainLMDPageControl->currentWidget());
    if (page < 0) {
        QMessageBox::information(this, "Ошибка StartThread()!!!", "Неизвестный номер страницы приложения!");
        return;
    }
    WorkerPageIndex = uint16_t(page);
    if (WorkerPages[page] == MultimeterLMDTabSheet) {
        Flags.WorkerGate = false;
        QCoreApplication::postEvent(this,
                                    new TPrivateMessageEvent(TPrivateMessageEvent::StartMainThread, 0, 0));
        UiThread::PumpUntil([this] { return Flags.WorkerGate.load(); });
    }
}

void TMainForm::OnStartMainThread() {
    Flags.WorkerRunning = false;
    TMainThread* worker = new (std::nothrow) TMainThread(this, &Device.ModuleControl);
    if (worker != nullptr) {
        worker->StartPageIndex = MainLMDPageControl->currentIndex();
        worker->start();
        if (!worker->isRunning() && !worker->isFinished()) {
            delete worker;
            worker = nullptr;
        }
    }
    if (worker == nullptr) {
        // The start request must not wait for a worker that never comes.
        Flags.WorkerGate = true;
        QMessageBox::critical(this, "Ошибка OnStartMainThread()!", "Не могу открыть поток 'MainThread'!");
        close();
        return;
    }
    MainThread = worker;
    UiThread::PumpUntil([this] { return Flags.WorkerRunning.load(); });
    Flags.WorkerGate = true;
}

void TMainForm::StopThread() {
    if (MainThread == nullptr || !Flags.WorkerGate)
        return;
    // A stop requested while this one waits (Escape, a setting) may destroy the
    // worker first; then there is nothing left to do here.
    QPointer<TMainThread> worker = MainThread;
    UiThread::PumpUntil([&] { return worker.isNull() || Flags.WorkerRunning.load(); });
    if (worker.isNull())
        return;
    worker->Terminated = true;
    // The worker's last steps are synchronous calls into this thread, so the
    // wait keeps serving them.
    while (!worker.isNull() && !worker->wait(QDeadlineTimer(10)))
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (worker.isNull())
        return;
    worker->Ended.load(std::memory_order_acquire);
    // The termination handler is queued by now; run it without a pause.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    UiThread::PumpUntil([&] { return worker.isNull() || !Flags.WorkerRunning.load(); });
    if (worker.isNull())
        return;
    if (MainThread == worker)
        MainThread = nullptr;
    delete worker.data();
}

void TMainForm::OnMainThreadTerminate() {
    Flags.WorkerRunning = false;
}

bool TMainForm::ChannelActive(int ch) const {
    return ChannelFrames[ch] != nullptr && ChannelFrames[ch]->IsChannelActive();
}

void TMainForm::CaptureConfiguration(TMeasurementCycle& cycle) {
    ::CaptureConfiguration(*this, cycle);
}

void TMainForm::ConfigureModule(TMeasurementCycle& cycle) {
    ::ConfigureModule(*this, cycle);
}

void TMainForm::ShowChannelValues(const TBlockReading& reading) {
    ::ShowChannelValues(*this, reading);
}

void TMainForm::ShowFrameLeds(const TBlockReading& reading) {
    ::ShowFrameLeds(*this, reading);
}

void TMainForm::FinishMeasurement(TMeasurementCycle& cycle) {
    ::FinishMeasurement(*this, cycle);
}

void TMainForm::ShowWorkerMessage(const WorkerMessageRequest& request, ButtonLayout layout) {
    // The dialog runs its own event loop while the worker waits for this step:
    // no handler may run from it (a stop from here would wait for the worker,
    // which waits for this step).
    TGuardHeld guard(HandlersBusy);
    ShowWorkerMessageDialog(this, &ShortCutHandlerEnabled, request, layout);
}

void TMainForm::PostEnd(QEvent* event) {
    QCoreApplication::postEvent(this, event);
}
