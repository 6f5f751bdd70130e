#include "app/TInitAndConfigThread.h"

#include "app/ModuleEnumeration.h"
#include "app/ModuleStatus.h"
#include "app/TMainForm.h"
#include "app/UiThread.h"
#include "discovery/ControlTree.h"
#include "discovery/WorkerMessageDialog.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsTable.h"
#include "settings/TSettingsFile.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLocale>
#include <QPushButton>
#include <QScrollArea>
#include <QTabWidget>

TInitAndConfigThread::TInitAndConfigThread(TMainForm* form, uint32_t action, bool useStoredSelection)
    : UseStoredSelection(useStoredSelection), Action(action), Form(form) {}

TInitAndConfigThread::~TInitAndConfigThread() = default;

void TInitAndConfigThread::run() {
    Execute();
}

void TInitAndConfigThread::ConnectEnd(TMainForm* form) {
    connect(this, &QThread::finished, form, &TMainForm::OnInitDevicesThreadTerminate, Qt::QueuedConnection);
    connect(this, &QThread::finished, this, &QObject::deleteLater);
    // Runs on this thread after the two above have been queued, the last
    // thing the thread does with this object.
    connect(
        this, &QThread::finished, this, [this] { RunEnded.store(true, std::memory_order_release); },
        Qt::DirectConnection);
}

void TInitAndConfigThread::SynchronizeGuarded(const std::function<void()>& step) {
    UiThread::Synchronize([&] {
        Form->HandlersBusy = true;
        try {
            step();
        } catch (...) {
            Form->HandlersBusy = false;
            throw;
        }
        Form->HandlersBusy = false;
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
    ShowWorkerMessageDialog(Form, &Form->ShortCutHandlerEnabled, request, ButtonLayout::OwnWidth);
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
    Form->Flags.DiscoveryRunning = true;
    try {
        UiThread::Synchronize([this] { Form->PopupMenuAutoOpen = false; });
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
                DetectAll(
                    *Form, WantedCrateSerial, WantedSlot, [this](const QString& text) { Report(text); },
                    [this](const std::function<void()>& step) { SynchronizeGuarded(step); },
                    [this] { return isInterruptionRequested(); });
                msleep(100);
                if (!MessageShown && !isInterruptionRequested()) {
                    // The detection's own opening only tested the module; this
                    // opening reads its name for the status.
                    if (Form->Device.ModuleState == 1)
                        OpenSelectedModule(*Form, *this);
                    msleep(100);
                }
                SynchronizeGuarded([this] { ShowDeviceStatus(*Form, *this, true); });
                msleep(100);
                break;
            case ModuleChanged:
                if (!OpenSelectedModule(*Form, *this)) {
                    Report(QStringLiteral("Не могу проинициализировать модуль в указанном слоте!"));
                    loadParameters = false;
                    break;
                }
                SynchronizeGuarded([this] { ShowDeviceStatus(*Form, *this, true); });
                msleep(100);
                break;
            case CrateChanged:
                if (!ChangeCrate(*Form,
                                 [this] { SynchronizeGuarded([this] { FillModuleSelector(*Form); }); })) {
                    Report(QStringLiteral(
                        "Не могу проинициализировать QIRA крейт с модулями в указанном слоте!"));
                    loadParameters = false;
                    break;
                }
                SynchronizeGuarded([this] { ShowDeviceStatus(*Form, *this, true); });
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
        Form->Device.CrateState = 0;
        Form->Device.ModuleState = 0;
    }
    msleep(100);
    try {
        SynchronizeGuarded([this] { FinishRun(); });
    } catch (...) {
    }
}

void TInitAndConfigThread::PrepareRun() {
    // Numbers are read and written with "." at every worker start.
    QLocale::setDefault(QLocale::c());
    Form->MainLMDPageControl->setEnabled(false);
    const QCursor* current = QApplication::overrideCursor();
    SavedCursor = current ? int16_t(current->shape()) : int16_t(-1);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    CursorOverridden = true;

    Form->MainLMDPageControl->setCurrentIndex(0);
    Form->StartMultimeterLMDSimplePanel->hide();

    SettingsAccessor = Form->OpenSettingsFile([this](const QString& text) { Report(text); });
    if (!SettingsAccessor)
        return;

    const uint16_t crate = Form->Device.SelectedCrateIndex;
    if (UseStoredSelection || crate == 0xFFFF) {
        using namespace SettingsKeys;
        const auto table = SettingsTable(Form->InputRangesU, Form->InputRangesR);
        WantedCrateSerial = SettingsAccessor->ReadString(
            DiscoverySection, CrateSerial, ReadDefault(table, DiscoverySection, CrateSerial).toString());
        WantedSlot = int16_t(SettingsAccessor->ReadInteger(
            DiscoverySection, ModuleSlot, ReadDefault(table, DiscoverySection, ModuleSlot).toInt()));
    } else if (crate < 16) {
        WantedCrateSerial =
            FixedText(Form->Device.CrateSerials[crate], sizeof Form->Device.CrateSerials[crate]);
        const uint16_t module = Form->Device.SelectedModuleIndex[crate];
        WantedSlot = module < 16 ? int16_t(Form->Device.ModuleSlots[crate][module]) : int16_t(-1);
    }

    SetTreeEnabled(Form->ModuleDetectionLMDGroupBox, false, Form->AdcIndividualParsLMDSimplePanel);
    SetTreeEnabled(Form->MainLMDSimplePanel, false, Form->AdcIndividualParsLMDSimplePanel);
    switch (Action) {
    case FullDetection:
        Form->Device.CrateState = 0;
        Form->Device.ModuleState = 0;
        break;
    case CrateChanged:
        // The crate change closes the module before it reopens one; a failed
        // reopening must not leave the measurement controls enabled.
        Form->Device.CrateState = 0;
        Form->Device.ModuleState = 0;
        break;
    case ModuleChanged:
        Form->Device.ModuleState = 0;
        break;
    default:
        break;
    }
    ShowDeviceStatus(*Form, *this, false);
}

void TInitAndConfigThread::RestoreWindowPosition() {
    if (!UseStoredSelection || !SettingsAccessor)
        return;
    using namespace SettingsKeys;
    const auto table = SettingsTable(Form->InputRangesU, Form->InputRangesR);
    const int top = SettingsAccessor->ReadInteger(ApplicationSection, WindowTop,
                                                  ReadDefault(table, ApplicationSection, WindowTop).toInt());
    const int left = SettingsAccessor->ReadInteger(
        ApplicationSection, WindowLeft, ReadDefault(table, ApplicationSection, WindowLeft).toInt());
    if (top != -1)
        Form->move(Form->x(), top);
    if (left != -1)
        Form->move(left, Form->y());
}

void TInitAndConfigThread::LoadParameters() {
    if (!Form->LoadSettings(SettingsAccessor.get()))
        Report(QStringLiteral("Не могу проинициализировать параметры работы приложения!"));
}

void TInitAndConfigThread::FinishRun() {
    SetTreeEnabled(Form->ModuleDetectionLMDGroupBox, true, Form->AdcIndividualParsLMDSimplePanel);
    Form->SaveSettingsButton->setEnabled(!Form->AutoSaveSettingsLMDCheckBox->isChecked());
    Form->ModuleDetectionLMDGroupBox->update();
    Form->MainLMDSimplePanel->setEnabled(true);
    Form->MainLMDPageControl->setEnabled(true);
    if (QWidget* first = Form->MainLMDPageControl->widget(0))
        first->setEnabled(true);
    if (Form->Device.ModuleState == 2) {
        Form->AdcStreamLMDSimplePanel->setEnabled(true);
        SetTreeEnabled(Form->AdcGroupParsLMDGroupBox, true, Form->AdcIndividualParsLMDSimplePanel);
        Form->AdcGroupParsLMDGroupBox->setEnabled(true);
        Form->AdcIndividualParsLMDGroupBox->setEnabled(true);
        Form->AdcIndividualParsLMDScrollBox->setEnabled(true);
        Form->AdcIndividualParsLMDSimplePanel->setEnabled(true);
        Form->EnableChannelFrames();
        Form->StartMultimeterLMDSpeedButton->setEnabled(true);
        Form->StartMultimeterLMDSimplePanel->show();
        Form->MultimeterLMDSimplePanel->setEnabled(true);
    }
    SettingsAccessor.reset();
    if (CursorOverridden) {
        QApplication::restoreOverrideCursor();
        CursorOverridden = false;
    }
}
