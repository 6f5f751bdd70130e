#include "app/TMainThread.h"

#include "app/MeasurementView.h"
#include "app/UiThread.h"

#include <QThread>

void StartMeasurement(TMainThread* worker) {
    IMeasurementView* view = worker->View;
    UiThread::Synchronize([view, worker] { view->CaptureConfiguration(*worker); });
    if (worker->Stopping())
        return;
    QThread::msleep(50);
    UiThread::Synchronize([view, worker] { view->ConfigureModule(*worker); });
    if (worker->Stopping())
        return;
    QThread::msleep(50);
    PrepareBuffers(*worker);
}

void MeasurementBody(TMainThread* worker) {
    IMeasurementView* view = worker->View;
    StartMeasurement(worker);
    QThread::msleep(100);
    try {
        for (;;) {
            // The active state is read once per block, from the frames' own
            // mirror of it.
            bool active[16];
            for (int c = 0; c < 16; ++c)
                active[c] = view->ChannelActive(c);
            if (!MeasureBlock(*worker, active))
                break;
            UiThread::Synchronize([view, worker] { view->ShowChannelValues(worker->Reading); });
            if (worker->Terminated)
                break;
            QThread::msleep(100);
            if (worker->Terminated)
                break;
            UiThread::Synchronize([view, worker] { view->ShowFrameLeds(worker->Reading); });
            if (worker->Terminated)
                break;
        }
    } catch (...) {
        worker->Report("Опаньки!!!\nПоймали неустранимое исключение потока сбора данных!!!\nСрочно сообщите "
                       "разработчику!");
    }
    EndRun(*worker);
    QThread::msleep(100);
    UiThread::Synchronize([view, worker] { view->FinishMeasurement(*worker); });
}
