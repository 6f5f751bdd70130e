#include "app/TMainThread.h"

#include "app/MeasurementView.h"
#include "app/UiThread.h"
#include "device/WorkerFlags.h"

#include <memory>
#include <stdexcept>

namespace {

// Numbers are always formatted and read with "."; the program never changes it.
constexpr char DecimalSeparator = '.';

} // namespace

TMainThread::TMainThread(IMeasurementView* view, KM808_CONTROL* module)
    : TMeasurementCycle(module), View(view), PendingEndEvent(std::make_unique<QEvent>(EndEvent)) {}

TMainThread::~TMainThread() = default;

void TMainThread::Report(const QString& text) {
    MessageText = text;
    UiThread::Synchronize([this] { ShowWorkerMessage(); });
}

void TMainThread::ShowWorkerMessage() {
    if (MessageShown.exchange(true))
        return;
    WorkerMessageRequest request;
    request.Caption = "Сообщение TMainThread::Execute()!!!";
    request.DialogType = QMessageBox::Critical;
    request.Buttons = QMessageBox::Ok;
    request.ButtonCaptions = QStringList{"Принято"};
    request.Text = MessageText;
    View->ShowWorkerMessage(request, ButtonLayout::CommonWidth);
}

void TMainThread::run() {
    Execute();
    // The termination handler is posted here rather than connected to
    // finished(): a connection makes Qt read this object while the thread
    // ends, behind synchronisation that ThreadSanitizer cannot see. Nothing is
    // allocated here for the same reason: the event was made with the worker.
    View->PostEnd(PendingEndEvent.release());
    Ended.store(true, std::memory_order_release);
}

void TMainThread::Execute() {
    try {
        View->WorkerFlags().WorkerRunning = true;
        MessageShown = false;
        if (StartPageIndex == 0)
            View->WorkerFlags().MeasurementIdle = false;
        Processing[0] = MeasurementBody;

        QThread::msleep(100);

        if (!MessageShown) {
            if (Processing[ProcessingSlot])
                Processing[ProcessingSlot](this);
            else
                Report("Опаньки!!!\nОтсутствует функция обработки для 'MainThread'!!!\nСрочно сообщите "
                       "разработчику!");
        }
    } catch (const std::invalid_argument&) {
        // A text that does not read as a number.
        try {
            Report(QString("Ошибка преобразования строки в число!!!\nТекущий сепаратор '") +
                   DecimalSeparator + "'.");
        } catch (...) {
        }
    } catch (...) {
        try {
            Report("Опаньки!!!\nПоймали неустранимое исключение в потоке 'MainThread'!!!\nСрочно сообщите "
                   "разработчику!");
        } catch (...) {
        }
    }
    while (!Terminated)
        QThread::msleep(50);
}
