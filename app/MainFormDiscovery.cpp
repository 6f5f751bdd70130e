// The main window's side of a discovery run: creating the worker for a posted
// request, its termination handler, and waiting for a run before the window
// goes away.
#include "app/TInitAndConfigThread.h"
#include "app/TMainForm.h"
#include "app/UiThread.h"

#include <QCoreApplication>
#include <QMessageBox>

#include <new>

void TMainForm::OnStartInitDevicesThread(quint32 action, quint32 useStoredSelection) {
    Flags.DiscoveryRunning = false;
    TInitAndConfigThread* worker =
        new (std::nothrow) TInitAndConfigThread(this, action, useStoredSelection != 0);
    if (worker) {
        worker->ConnectEnd(this);
        worker->start();
        if (!worker->isRunning() && !worker->isFinished()) {
            delete worker;
            worker = nullptr;
        }
    }
    if (!worker) {
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Ошибка OnStartInitDevicesThread()!"),
                        QStringLiteral("Не могу открыть поток 'InitAndConfigThread'!"), QMessageBox::Ok,
                        this);
        box.exec();
        // Without a run nothing would ever reopen the gate.
        Flags.DiscoveryGate = true;
        return;
    }
    InitThread = worker;
    // A run that the close of the window waited for may already be over.
    UiThread::PumpUntil([this] { return Flags.DiscoveryRunning || !InitThread || InitThread->Ended(); });
    Flags.DiscoveryGate = true;
}

void TMainForm::OnInitDevicesThreadTerminate() {
    if (InitThread) {
        // The run has returned; the thread only tidies up before it ends.
        InitThread->wait();
        [[maybe_unused]] const bool ended = InitThread->Ended();
        Q_ASSERT(ended);
    }
    Flags.DiscoveryRunning = false;
}

void TMainForm::WaitForDiscoveryEnd() {
    if (!Flags.DiscoveryGate && !InitThread) {
        // A request is posted but no worker exists yet: drop the request.
        QCoreApplication::removePostedEvents(this, TPrivateMessageEvent::StartInitDevices);
        Flags.DiscoveryGate = true;
    }
    // The run ends at its next module or step; pumping serves its
    // synchronous calls meanwhile.
    if (InitThread)
        InitThread->requestInterruption();
    UiThread::PumpUntil([this] { return !Flags.DiscoveryRunning && (!InitThread || InitThread->Ended()); });
    if (InitThread)
        InitThread->wait();
}
