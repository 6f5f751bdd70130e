#include "app/TMainThread.h"

#include "app/HandlerGuard.h"
#include "app/MeasurementBody.h"
#include "app/TMainForm.h"
#include "app/UiThread.h"
#include "discovery/WorkerMessageDialog.h"

#include <QCoreApplication>

#include <memory>
#include <stdexcept>

namespace {

// Numbers are always formatted and read with "."; the program never changes it.
constexpr char DecimalSeparator = '.';

} // namespace

TMainThread::TMainThread(TMainForm* form)
    : TMeasurementCycle(&form->Device.ModuleControl), Form(form),
      PendingEndEvent(std::make_unique<QEvent>(EndEvent)) {}

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
    // The dialog runs its own event loop while the worker waits for this step:
    // no handler may run from it (a stop from here would wait for the worker,
    // which waits for this step).
    TGuardHeld guard(Form->HandlersBusy);
    ShowWorkerMessageDialog(Form, &Form->ShortCutHandlerEnabled, request, ButtonLayout::CommonWidth);
}

void TMainThread::run() {
    Execute();
    // The termination handler is posted here rather than connected to
    // finished(): a connection makes Qt read this object while the thread
    // ends, behind synchronisation that ThreadSanitizer cannot see. Nothing is
    // allocated here for the same reason: the event was made with the worker.
    QCoreApplication::postEvent(Form, PendingEndEvent.release());
    Ended.store(true, std::memory_order_release);
}

void TMainThread::Execute() {
    try {
        Form->Flags.WorkerRunning = true;
        MessageShown = false;
        if (StartPageIndex == 0)
            Form->Flags.MeasurementIdle = false;
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
