// Detection runs of the real main window against emulated crates: start-up,
// the detection button, crate and module changes, failures and their single
// message, requests during a run and closing the window during a run.
#include "DiscoveryFixture.h"
#include "EmulatorProcess.h"
#include "FormControl.h"

#include "app/UiThread.h"
#include "settings/TSettingsFile.h"
#include "ui/TKm808AdcChannelFrame.h"
#include "ui/TLed.h"

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <gtest/gtest.h>

using namespace DiscoveryTesting;

namespace {

const QColor Green(0, 255, 0);
const QColor Red(255, 0, 0);

QByteArray DefaultLikeConfig(const QByteArray& slot3Extra = {}) {
    return Config({Crate("QR000001", {OtherSlot(1), Km808Slot(3, "KM0000301", slot3Extra), OtherSlot(5),
                                      Km808Slot(9, "KM0000901", "\"firmware\": 262")}),
                   Crate("QR000002", {OtherSlot(2), OtherSlot(4)}),
                   Crate("QR000003", {Km808Slot(1, "KM0000103")})});
}

// What the operator sees of the device state.
struct Status {
    QString Caption;
    bool CrateLampOn;
    QColor CrateLamp;
    QString CrateHint;
    bool ModuleLampOn;
    QColor ModuleLamp;
    QString ModuleHint;
    QString Serial;
    QString Firmware;
};

Status Seen(const TMainForm& f) {
    return {f.windowTitle(),
            Control<TLed>(f, "QiraCrateStatusLed")->IsOn(),
            Control<TLed>(f, "QiraCrateStatusLed")->Color(),
            Control<TLed>(f, "QiraCrateStatusLed")->toolTip(),
            Control<TLed>(f, "ModuleStatusLed")->IsOn(),
            Control<TLed>(f, "ModuleStatusLed")->Color(),
            Control<TLed>(f, "ModuleStatusLed")->toolTip(),
            Control<QLabel>(f, "ModuleSerialNumberLMDLabel")->text(),
            Control<QLabel>(f, "ModuleFirmwareVersionLMDLabel")->text()};
}

void ExpectModuleReady(TMainForm& f, const QString& name, const QString& serial, const QString& firmware) {
    const Status s = Seen(f);
    // Test executables carry no version record: the caption is empty.
    EXPECT_EQ(s.Caption, "");
    EXPECT_TRUE(s.ModuleLampOn);
    EXPECT_EQ(s.ModuleLamp, Green);
    EXPECT_EQ(s.ModuleHint, "Статус модуля '" + name + "' -> OK");
    EXPECT_EQ(s.Serial, serial);
    EXPECT_EQ(s.Firmware, firmware);
    EXPECT_EQ(f.DeviceState().ModuleState, 2);
    EXPECT_TRUE(Control<QPushButton>(f, "StartMultimeterLMDSpeedButton")->isEnabled());
    EXPECT_TRUE(Control<QFrame>(f, "StartMultimeterLMDSimplePanel")->isVisibleTo(&f));
    EXPECT_TRUE(Control<QFrame>(f, "MultimeterLMDSimplePanel")->isEnabled());
    EXPECT_TRUE(Control<QPushButton>(f, "FindDeviceLMDButton")->isEnabled());
}

void ExpectMeasurementLocked(const TMainForm& f) {
    EXPECT_FALSE(Control<QFrame>(f, "StartMultimeterLMDSimplePanel")->isVisibleTo(&f));
    EXPECT_FALSE(Control<QFrame>(f, "MultimeterLMDSimplePanel")->isEnabled());
    EXPECT_FALSE(Control<QGroupBox>(f, "AdcGroupParsLMDGroupBox")->isEnabled());
    EXPECT_FALSE(f.ChannelFrames[0]->isEnabled());
    // The detection itself stays usable.
    EXPECT_TRUE(Control<QPushButton>(f, "FindDeviceLMDButton")->isEnabled());
    EXPECT_TRUE(Control<QComboBox>(f, "QiraCratesComboBox")->isEnabled());
}

class DiscoveryRun : public ::testing::Test {
protected:
    void StartEmulator(const QByteArray& config) {
        Emulator = std::make_unique<EmulatorProcess>(config);
        ASSERT_TRUE(Emulator->Started()) << Emulator->Error.toStdString();
    }
    int Dialogs() const { return WorkerMessageDialog::ShownCount() - DialogsBefore; }

    std::unique_ptr<EmulatorProcess> Emulator;
    DialogRecorder Recorder;
    WindowUnderTest Window;
    TMainForm& Form = *Window.Form;
    int DialogsBefore = WorkerMessageDialog::ShownCount();
};

TEST_F(DiscoveryRun, StartUpOpensTheStoredCrateAndSlotAndPlacesTheWindow) {
    StartEmulator(DefaultLikeConfig());
    WriteSettings(Window.SettingsDir.path(), {"QR000003", 1, 40, 30});

    ASSERT_TRUE(Window.StartUp());

    EXPECT_EQ(Control<QComboBox>(Form, "QiraCratesComboBox")->currentText(), "2: QR000003");
    EXPECT_EQ(Control<QComboBox>(Form, "ModulesComboBox")->currentText(), "Слот 1: KM808");
    ExpectModuleReady(Form, "KM808", "KM0000103", "1.5");
    EXPECT_EQ(Seen(Form).CrateLamp, Green);
    EXPECT_EQ(Seen(Form).CrateHint, "Статус QIRA крейта -> OK");
    EXPECT_EQ(Form.pos(), QPoint(30, 40));
    // The context menu no longer opens by itself.
    QContextMenuEvent rightClick(QContextMenuEvent::Mouse, QPoint(600, 400),
                                 Form.mapToGlobal(QPoint(600, 400)));
    QApplication::sendEvent(&Form, &rightClick);
    EXPECT_FALSE(Control<QMenu>(Form, "PopupMenu")->isVisible());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(Recorder.Texts.isEmpty());
}

TEST_F(DiscoveryRun, StartUpWithoutSettingsCreatesThemAndOpensTheFirstModule) {
    StartEmulator(DefaultLikeConfig());

    ASSERT_TRUE(Window.StartUp());

    EXPECT_TRUE(QFile::exists(QDir(Window.SettingsDir.path()).filePath("Km808_Viza.ini")));
    EXPECT_EQ(Control<QComboBox>(Form, "QiraCratesComboBox")->currentText(), "1: QR000001");
    EXPECT_EQ(Control<QComboBox>(Form, "ModulesComboBox")->currentText(), "Слот 3: KM808");
    ExpectModuleReady(Form, "KM808", "KM0000301", "1.5");
    EXPECT_TRUE(Recorder.Texts.isEmpty());
}

TEST_F(DiscoveryRun, FirmwareTextAndUnnamedModule) {
    StartEmulator(Config({Crate("QA", {Km808Slot(2, "KM2", "\"firmware\": 2560, \"name\": \"\"")})}));

    ASSERT_TRUE(Window.StartUp());

    ExpectModuleReady(Form, "???", "KM2", "10.0");
}

TEST_F(DiscoveryRun, NoCrateServerIsReportedOnceAndLeavesMeasurementLocked) {
    StartEmulator(Config({}));
    Emulator->Kill();

    ASSERT_TRUE(Window.StartUp());

    EXPECT_EQ(Recorder.Texts, QStringList{"Не могу найти ни одного QIRA крейта!"});
    EXPECT_EQ(Recorder.Captions, QStringList{"Сообщение TInitAndConfigThread::Execute()!!!"});
    EXPECT_EQ(Dialogs(), 1);
    const Status s = Seen(Form);
    EXPECT_EQ(s.CrateLamp, Red);
    EXPECT_EQ(s.CrateHint, "Статус QIRA крейта -> BAD");
    EXPECT_EQ(s.ModuleLamp, Red);
    EXPECT_EQ(s.ModuleHint, "Статус модуля '?\?\?' -> BAD");
    EXPECT_EQ(s.Serial, "????????");
    EXPECT_EQ(s.Firmware, "????????");
    EXPECT_EQ(Form.DeviceState().ModuleState, 0);
    ExpectMeasurementLocked(Form);
}

TEST_F(DiscoveryRun, PreparationShowsTheUnknownStateUntilTheRunFinishes) {
    StartEmulator(DefaultLikeConfig());
    ASSERT_TRUE(Window.StartUp());
    TInitAndConfigThread worker(&Form, TInitAndConfigThread::FullDetection, false);

    worker.PrepareRun();

    const Status s = Seen(Form);
    EXPECT_EQ(s.Caption, "KM808_viza - ?.?.?");
    EXPECT_FALSE(s.CrateLampOn);
    EXPECT_EQ(s.CrateHint, "Статус QIRA крейта -> ???");
    EXPECT_FALSE(s.ModuleLampOn);
    EXPECT_EQ(s.ModuleHint, "Статус модуля '?\?\?'-> ???");
    EXPECT_EQ(s.Serial, "????????");
    EXPECT_EQ(s.Firmware, "????????");
    EXPECT_EQ(Control<QComboBox>(Form, "QiraCratesComboBox")->count(), 0);
    EXPECT_EQ(Control<QComboBox>(Form, "ModulesComboBox")->count(), 0);
    EXPECT_FALSE(Control<QPushButton>(Form, "FindDeviceLMDButton")->isEnabled());
    EXPECT_FALSE(Control<QTabWidget>(Form, "MainLMDPageControl")->isEnabled());
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    // The current selection is wanted again, not the stored one.
    EXPECT_EQ(worker.WantedCrateSerial, "QR000001");
    EXPECT_EQ(worker.WantedSlot, 3);
    EXPECT_NE(worker.SettingsAccessor, nullptr);

    worker.FinishRun();

    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(worker.SettingsAccessor, nullptr);
    EXPECT_TRUE(Control<QPushButton>(Form, "FindDeviceLMDButton")->isEnabled());
    ExpectMeasurementLocked(Form);
}

TEST_F(DiscoveryRun, ModuleChangeOpensTheChosenModuleAndKeepsTheCrateLamp) {
    StartEmulator(DefaultLikeConfig());
    ASSERT_TRUE(Window.StartUp());
    Control<TLed>(Form, "QiraCrateStatusLed")->setToolTip("before");

    Control<QComboBox>(Form, "ModulesComboBox")->setCurrentIndex(1);
    ASSERT_TRUE(WaitForIdle(Form));

    ExpectModuleReady(Form, "KM808", "KM0000901", "1.6");
    EXPECT_EQ(Control<TLed>(Form, "QiraCrateStatusLed")->toolTip(), "before");
    EXPECT_EQ(Form.DeviceState().SelectedModuleIndex[0], 1);
    EXPECT_TRUE(Recorder.Texts.isEmpty());
}

TEST_F(DiscoveryRun, CrateChangeOpensTheFirstModuleOfTheChosenCrate) {
    StartEmulator(DefaultLikeConfig());
    ASSERT_TRUE(Window.StartUp());

    Control<QComboBox>(Form, "QiraCratesComboBox")->setCurrentIndex(1);
    ASSERT_TRUE(WaitForIdle(Form));

    EXPECT_EQ(Control<QComboBox>(Form, "ModulesComboBox")->currentText(), "Слот 1: KM808");
    // The crate change does not read the module's name.
    ExpectModuleReady(Form, "???", "KM0000103", "1.5");
    EXPECT_EQ(Seen(Form).CrateLamp, Green);
    EXPECT_TRUE(Recorder.Texts.isEmpty());
}

TEST_F(DiscoveryRun, LaterDetectionKeepsTheCurrentSelection) {
    StartEmulator(DefaultLikeConfig());
    ASSERT_TRUE(Window.StartUp());
    Control<QComboBox>(Form, "ModulesComboBox")->setCurrentIndex(1);
    ASSERT_TRUE(WaitForIdle(Form));

    Control<QPushButton>(Form, "FindDeviceLMDButton")->click();
    ASSERT_TRUE(WaitForIdle(Form));

    EXPECT_EQ(Control<QComboBox>(Form, "ModulesComboBox")->currentText(), "Слот 9: KM808");
    ExpectModuleReady(Form, "KM808", "KM0000901", "1.6");
}

struct ChangeFailure {
    const char* Name;
    const char* Selector; // the selector's object name
    QString Report;
    bool CrateLampUntouched;
};
void PrintTo(const ChangeFailure& c, std::ostream* os) {
    *os << c.Name;
}

class DiscoveryChangeFailure : public DiscoveryRun, public ::testing::WithParamInterface<ChangeFailure> {};

TEST_P(DiscoveryChangeFailure, LeavesTheUnknownStateAndLocksMeasurement) {
    const ChangeFailure& c = GetParam();
    StartEmulator(DefaultLikeConfig());
    ASSERT_TRUE(Window.StartUp());
    Emulator->Kill();

    Control<QComboBox>(Form, c.Selector)->setCurrentIndex(1);
    ASSERT_TRUE(WaitForIdle(Form));

    EXPECT_EQ(Recorder.Texts, QStringList{c.Report});
    const Status s = Seen(Form);
    if (c.CrateLampUntouched) {
        EXPECT_EQ(s.CrateLamp, Green);
        EXPECT_EQ(s.CrateHint, "Статус QIRA крейта -> OK");
    } else {
        EXPECT_FALSE(s.CrateLampOn);
        EXPECT_EQ(s.CrateHint, "Статус QIRA крейта -> ???");
    }
    EXPECT_FALSE(s.ModuleLampOn);
    EXPECT_EQ(s.ModuleHint, "Статус модуля '?\?\?'-> ???");
    EXPECT_EQ(s.Caption, "KM808_viza - ?.?.?");
    EXPECT_EQ(s.Serial, "????????");
    EXPECT_EQ(s.Firmware, "????????");
    EXPECT_EQ(Form.DeviceState().ModuleState, 0);
    ExpectMeasurementLocked(Form);
}

INSTANTIATE_TEST_SUITE_P(
    Discovery, DiscoveryChangeFailure,
    ::testing::Values(ChangeFailure{"Module", "ModulesComboBox",
                                    "Не могу проинициализировать модуль в указанном слоте!", true},
                      ChangeFailure{"Crate", "QiraCratesComboBox",
                                    "Не могу проинициализировать QIRA крейт с модулями в указанном слоте!",
                                    false}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(DiscoveryRun, RequestDuringARunIsDropped) {
    StartEmulator(DefaultLikeConfig());
    ASSERT_TRUE(Window.StartUp());
    const int listingsBefore = Emulator->LogLines("GetCrates").size();

    Form.StartInitDevicesThread(Detection::FullDetection, Detection::OperatorSelection);
    Form.StartInitDevicesThread(Detection::FullDetection,
                                Detection::OperatorSelection); // while the first request is in flight
    ASSERT_TRUE(WaitForRun(Form));
    Form.StartInitDevicesThread(Detection::FullDetection,
                                Detection::OperatorSelection); // while the run lasts
    ASSERT_TRUE(WaitForIdle(Form));
    UiThread::PumpOnce();

    EXPECT_EQ(Emulator->LogLines("GetCrates").size(), listingsBefore + 1);
    EXPECT_FALSE(Form.WorkerFlags().DiscoveryRunning);
    EXPECT_TRUE(Form.WorkerFlags().DiscoveryGate);
}

TEST_F(DiscoveryRun, ClosingDuringARunWaitsForItsEnd) {
    StartEmulator(DefaultLikeConfig());
    ASSERT_TRUE(Window.StartUp());

    Form.StartInitDevicesThread(Detection::FullDetection, Detection::OperatorSelection);
    ASSERT_TRUE(WaitForRun(Form));
    Form.close();

    EXPECT_FALSE(Form.WorkerFlags().DiscoveryRunning);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(Form.DiscoveryWorker() == nullptr);
    Window.Form.reset();
    for (int i = 0; i < 4; ++i)
        UiThread::PumpOnce();
}

// Six modules slow to open: a close ends the detection at the next module
// instead of waiting for all of them.
TEST_F(DiscoveryRun, ClosingDuringADetectionEndsItAtTheNextModule) {
    QList<QByteArray> modules;
    for (int slot = 1; slot <= 6; ++slot)
        modules << Km808Slot(slot, "KM00000" + QByteArray::number(slot),
                             R"("faults": {"stall_calls": {"Open": 1500}})");
    StartEmulator(Config({Crate("QR000001", modules)}));
    Form.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Emulator->LogLines("Open").isEmpty(); }, 20000));
    Form.close();

    EXPECT_FALSE(Form.WorkerFlags().DiscoveryRunning);
    // The crate server's own opening names no slot.
    const QStringList moduleOpens =
        Emulator->LogLines("Open").filter(QRegularExpression("^\\S+ Open QR000001 [1-9]"));
    // The listing tests the six side by side, so the close waits only for the
    // openings in flight; the chosen module's own opening after the listing
    // never starts.
    EXPECT_LE(moduleOpens.size(), 6) << Emulator->Log().toStdString();
    EXPECT_EQ(Dialogs(), 0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(Form.DiscoveryWorker() == nullptr);
}

TEST_F(DiscoveryRun, ClosingWithARequestInFlightStartsNoRun) {
    StartEmulator(DefaultLikeConfig());
    ASSERT_TRUE(Window.StartUp());
    const int listingsBefore = Emulator->LogLines("GetCrates").size();

    Form.StartInitDevicesThread(Detection::FullDetection, Detection::OperatorSelection);
    Form.close();
    for (int i = 0; i < 4; ++i)
        UiThread::PumpOnce();

    EXPECT_TRUE(Form.DiscoveryWorker() == nullptr);
    EXPECT_FALSE(Form.WorkerFlags().DiscoveryRunning);
    EXPECT_EQ(Emulator->LogLines("GetCrates").size(), listingsBefore);
}

} // namespace
