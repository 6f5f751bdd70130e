// The main window's side of a discovery run: creating the worker for a posted
// request, its termination handler, waiting for a run before the window goes
// away, and the window steps of the worker's view.
#include "app/ModuleEnumeration.h"
#include "app/ModuleStatus.h"
#include "app/TInitAndConfigThread.h"
#include "app/TMainForm.h"
#include "app/UiThread.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsTable.h"
#include "settings/TSettingsFile.h"
#include "ui/ControlTree.h"

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QTabWidget>

#include <new>

void TMainForm::OnStartInitDevicesThread(quint32 action, quint32 useStoredSelection) {
    Flags.DiscoveryRunning = false;
    TInitAndConfigThread* worker =
        new (std::nothrow) TInitAndConfigThread(this, action, useStoredSelection != 0);
    if (worker) {
        worker->ConnectEnd(this, &TMainForm::OnInitDevicesThreadTerminate);
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

const TInitAndConfigThread* TMainForm::DiscoveryWorker() const {
    return InitThread.data();
}

void TMainForm::HoldHandlers(bool held) {
    HandlersBusy = held;
}

void TMainForm::StopPopupMenuAutoOpen() {
    PopupMenuAutoOpen = false;
}

void TMainForm::PrepareRun(TInitAndConfigThread& run) {
    // Numbers are read and written with "." at every worker start.
    QLocale::setDefault(QLocale::c());
    MainLMDPageControl->setEnabled(false);
    const QCursor* current = QApplication::overrideCursor();
    run.SavedCursor = current ? int16_t(current->shape()) : int16_t(-1);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    run.CursorOverridden = true;

    MainLMDPageControl->setCurrentIndex(0);
    StartMultimeterLMDSimplePanel->hide();

    run.SettingsAccessor = OpenSettingsFile([&run](const QString& text) { run.Report(text); });
    if (!run.SettingsAccessor)
        return;

    const uint16_t crate = Device.SelectedCrateIndex;
    if (run.UseStoredSelection || crate == 0xFFFF) {
        using namespace SettingsKeys;
        const auto table = SettingsTable(InputRangesU, InputRangesR);
        run.WantedCrateSerial =
            ReadSetting(*run.SettingsAccessor, table, DiscoverySection, CrateSerial).toString();
        run.WantedSlot =
            int16_t(ReadSetting(*run.SettingsAccessor, table, DiscoverySection, ModuleSlot).toInt());
    } else if (crate < 16) {
        run.WantedCrateSerial = FixedText(Device.CrateSerials[crate], sizeof Device.CrateSerials[crate]);
        const uint16_t module = Device.SelectedModuleIndex[crate];
        run.WantedSlot = module < 16 ? int16_t(Device.ModuleSlots[crate][module]) : int16_t(-1);
    }

    SetTreeEnabled(ModuleDetectionLMDGroupBox, false, AdcIndividualParsLMDSimplePanel);
    SetTreeEnabled(MainLMDSimplePanel, false, AdcIndividualParsLMDSimplePanel);
    switch (run.Action) {
    case TInitAndConfigThread::FullDetection:
    // The crate change closes the module before it reopens one; a failed
    // reopening must not leave the measurement controls enabled.
    case TInitAndConfigThread::CrateChanged:
        Device.CrateState = 0;
        Device.ModuleState = 0;
        break;
    case TInitAndConfigThread::ModuleChanged:
        Device.ModuleState = 0;
        break;
    default:
        break;
    }
    ::ShowDeviceStatus(*this, run, false);
}

void TMainForm::RestoreWindowPosition(TInitAndConfigThread& run) {
    if (!run.UseStoredSelection || !run.SettingsAccessor)
        return;
    using namespace SettingsKeys;
    const auto table = SettingsTable(InputRangesU, InputRangesR);
    const int top = ReadSetting(*run.SettingsAccessor, table, ApplicationSection, WindowTop).toInt();
    const int left = ReadSetting(*run.SettingsAccessor, table, ApplicationSection, WindowLeft).toInt();
    if (top != -1)
        move(x(), top);
    if (left != -1)
        move(left, y());
}

void TMainForm::LoadParameters(TInitAndConfigThread& run) {
    if (!LoadSettings(run.SettingsAccessor.get()))
        run.Report(QStringLiteral("Не могу проинициализировать параметры работы приложения!"));
}

void TMainForm::FinishRun(TInitAndConfigThread& run) {
    SetTreeEnabled(ModuleDetectionLMDGroupBox, true, AdcIndividualParsLMDSimplePanel);
    SaveSettingsButton->setEnabled(!AutoSaveSettingsLMDCheckBox->isChecked());
    ModuleDetectionLMDGroupBox->update();
    MainLMDSimplePanel->setEnabled(true);
    MainLMDPageControl->setEnabled(true);
    if (QWidget* first = MainLMDPageControl->widget(0))
        first->setEnabled(true);
    if (Device.ModuleState == 2) {
        AdcStreamLMDSimplePanel->setEnabled(true);
        SetTreeEnabled(AdcGroupParsLMDGroupBox, true, AdcIndividualParsLMDSimplePanel);
        AdcGroupParsLMDGroupBox->setEnabled(true);
        AdcIndividualParsLMDGroupBox->setEnabled(true);
        AdcIndividualParsLMDScrollBox->setEnabled(true);
        AdcIndividualParsLMDSimplePanel->setEnabled(true);
        EnableChannelFrames();
        StartMultimeterLMDSpeedButton->setEnabled(true);
        StartMultimeterLMDSimplePanel->show();
        MultimeterLMDSimplePanel->setEnabled(true);
    }
    run.SettingsAccessor.reset();
    if (run.CursorOverridden) {
        QApplication::restoreOverrideCursor();
        run.CursorOverridden = false;
    }
}

void TMainForm::DetectAll(TInitAndConfigThread& run) {
    ::DetectAll(
        *this, run.WantedCrateSerial, run.WantedSlot, [&run](const QString& text) { run.Report(text); },
        [&run](const std::function<void()>& step) { run.SynchronizeGuarded(step); },
        [&run] { return run.isInterruptionRequested(); });
}

bool TMainForm::OpenSelectedModule(TInitAndConfigThread& run) {
    return ::OpenSelectedModule(*this, run);
}

bool TMainForm::ChangeCrate(const std::function<void()>& fillSelector) {
    return ::ChangeCrate(*this, fillSelector);
}

void TMainForm::FillModuleSelector() {
    ::FillModuleSelector(*this);
}

void TMainForm::ShowDeviceStatus(TInitAndConfigThread& run, bool known) {
    ::ShowDeviceStatus(*this, run, known);
}
