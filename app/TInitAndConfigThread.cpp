#include "app/TInitAndConfigThread.h"

#include "app/DiscoveryView.h"
#include "app/UiThread.h"
#include "device/DeviceState.h"
#include "device/WorkerFlags.h"
#include "settings/TSettingsFile.h"

TInitAndConfigThread::TInitAndConfigThread(IDiscoveryView* view, uint32_t action, bool useStoredSelection)
    : UseStoredSelection(useStoredSelection), Action(action), View(view) {}

TInitAndConfigThread::~TInitAndConfigThread() = default;

void TInitAndConfigThread::run() {
    Execute();
}

void TInitAndConfigThread::ConnectSelfDestruction() {
    connect(this, &QThread::finished, this, &QObject::deleteLater);
    // Runs on this thread after the two above have been queued, the last
    // thing the thread does with this object.
    connect(
        this, &QThread::finished, this, [this] { RunEnded.store(true, std::memory_order_release); },
        Qt::DirectConnection);
}

void TInitAndConfigThread::SynchronizeGuarded(const std::function<void()>& step) {
    UiThread::Synchronize([&] {
        View->HoldHandlers(true);
        try {
            step();
        } catch (...) {
            View->HoldHandlers(false);
            throw;
        }
        View->HoldHandlers(false);
    });
}

void TInitAndConfigThread::ShowWorkerMessage() {
    if (MessageShown)
        return;
    MessageShown = true;
    WorkerMessageRequest request;
    request.Caption = MessageCaption;
    request.DialogType = QMessageBox::Critical;
    request.Buttons = QMessageBox::Ok;
    request.ButtonCaptions = {QStringLiteral("Принято")};
    request.Text = MessageText;
    View->ShowWorkerMessage(request, ButtonLayout::OwnWidth);
}

void TInitAndConfigThread::Report(const QString& text) {
    const auto show = [&] {
        MessageText = text;
        ShowWorkerMessage();
    };
    if (UiThread::IsCurrent())
        show();
    else
        SynchronizeGuarded(show);
}

void TInitAndConfigThread::Execute() {
    View->WorkerFlags().DiscoveryRunning = true;
    try {
        UiThread::Synchronize([this] { View->StopPopupMenuAutoOpen(); });
        MessageShown = false;
        msleep(50);
        SynchronizeGuarded([this] { PrepareRun(); });
        msleep(100);

        msleep(100);
        bool loadParameters = !MessageShown;
        if (loadParameters && !isInterruptionRequested()) {
            SynchronizeGuarded([this] { RestoreWindowPosition(); });
            msleep(100);
            switch (Action) {
            case FullDetection:
                // Off the user-interface thread: a module that is slow to
                // answer must not freeze the window, nor keep a close waiting
                // for all the others.
                View->DetectAll(*this);
                msleep(100);
                if (!MessageShown && !isInterruptionRequested()) {
                    // The detection's own opening only tested the module; this
                    // opening reads its name for the status.
                    if (View->DeviceState().ModuleState == 1)
                        View->OpenSelectedModule(*this);
                    msleep(100);
                }
                SynchronizeGuarded([this] { View->ShowDeviceStatus(*this, true); });
                msleep(100);
                break;
            case ModuleChanged:
                if (!View->OpenSelectedModule(*this)) {
                    Report(QStringLiteral("Не могу проинициализировать модуль в указанном слоте!"));
                    loadParameters = false;
                    break;
                }
                SynchronizeGuarded([this] { View->ShowDeviceStatus(*this, true); });
                msleep(100);
                break;
            case CrateChanged:
                if (!View->ChangeCrate(
                        [this] { SynchronizeGuarded([this] { View->FillModuleSelector(); }); })) {
                    Report(QStringLiteral(
                        "Не могу проинициализировать QIRA крейт с модулями в указанном слоте!"));
                    loadParameters = false;
                    break;
                }
                SynchronizeGuarded([this] { View->ShowDeviceStatus(*this, true); });
                msleep(100);
                break;
            default:
                break;
            }
        }
        if (loadParameters && !isInterruptionRequested()) {
            if (!MessageShown)
                SynchronizeGuarded([this] { LoadParameters(); });
            msleep(100);
        }
    } catch (...) {
        try {
            Report(QStringLiteral(
                "Опаньки!!! Поймали неустранимое исключение!!!\nСрочно сообщите разработчику!"));
        } catch (...) {
        }
        View->DeviceState().CrateState = 0;
        View->DeviceState().ModuleState = 0;
    }
    msleep(100);
    try {
        SynchronizeGuarded([this] { FinishRun(); });
    } catch (...) {
    }
}

void TInitAndConfigThread::PrepareRun() {
    View->PrepareRun(*this);
}

void TInitAndConfigThread::RestoreWindowPosition() {
    View->RestoreWindowPosition(*this);
}

void TInitAndConfigThread::LoadParameters() {
    View->LoadParameters(*this);
}

void TInitAndConfigThread::FinishRun() {
    View->FinishRun(*this);
}
