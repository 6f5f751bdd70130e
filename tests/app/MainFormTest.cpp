// The main window on a 1920x1080 screen: fitting, first placement, detection
// requests, the handler guard, Escape, the page-change guard, the context menu
// and hints.
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <QWindow>

#include "../ui/FormFixture.h"
#include "../ui/ModalCatcher.h"
#include "FormControl.h"
#include "ui/TKm808AdcChannelFrame.h"
#include "ui/TLed.h"

namespace {

using MainForm = FormTest;

void ShowAndSettle(TMainForm& form) {
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    QTest::qWait(50);
}

TEST(Screen, OffscreenPlatformHasTheConfiguredScreen) {
    EXPECT_EQ(QGuiApplication::primaryScreen()->geometry(), QRect(0, 0, 1920, 1080));
}

TEST_F(MainForm, FittedToTheDesignWithoutTheEquipmentStrip) {
    EXPECT_EQ(Form->size(), QSize(1176 - 37, 888 - 98));
    EXPECT_EQ(Form->CutWidth(), 37);
    EXPECT_EQ(Control<QFrame>(*Form, "SelectedModuleLMDSimplePanel")->width(), 509 - 37);
    EXPECT_EQ(Control<QFrame>(*Form, "StartMultimeterLMDSimplePanel")->pos(), QPoint(672 - 37, 3));
    EXPECT_EQ(Control<QGroupBox>(*Form, "SaveIniSettingLMDGroupBox")->pos(), QPoint(932 - 37, 3));
    EXPECT_EQ(Control<QFrame>(*Form, "MultimeterLMDSimplePanel")->size(), QSize(965, 766 - 98));
    EXPECT_EQ(Control<QFrame>(*Form, "ChannelCommonParsLMDSimplePanel")->pos(), QPoint(1 + 78, 26));
    EXPECT_EQ(Control<QFrame>(*Form, "CommonParsLMDSimplePanel")->pos(), QPoint(266 + 78, 26));
    for (const char* hidden : {"Bevel3", "GeneratorStatusLed", "EquipmentLMDSimplePanel",
                               "AcquisitionTimeLMDSimplePanel", "ComputationInfoLMDSimplePanel"})
        EXPECT_TRUE(Control<QWidget>(*Form, hidden)->isHidden()) << hidden;

    ShowAndSettle(*Form);
    // Same numbers with the platform's real decoration; the channels fit.
    EXPECT_EQ(Form->size(), QSize(1139, 790));
    EXPECT_FALSE(
        Control<QScrollArea>(*Form, "AdcIndividualParsLMDScrollBox")->verticalScrollBar()->isVisible());
    const QRect panel = Control<QFrame>(*Form, "MultimeterLMDSimplePanel")->geometry();
    const QRect page = Control<QWidget>(*Form, "MultimeterLMDTabSheet")->rect();
    EXPECT_EQ(panel.left(), (page.width() - panel.width()) / 2);
    EXPECT_EQ(panel.top(), (page.height() - panel.height()) / 2 + 1);
    EXPECT_FALSE(Control<QTabWidget>(*Form, "MainLMDPageControl")->isTabVisible(1));
    EXPECT_FALSE(Control<QTabWidget>(*Form, "MainLMDPageControl")->isTabVisible(2));
    EXPECT_FALSE(QApplication::windowIcon().isNull()); // the icon resource is linked in
    EXPECT_FALSE(Form->isMaximized() || (Form->windowFlags() & Qt::WindowMaximizeButtonHint));
}

TEST_F(MainForm, FirstResizeAfterShowingRequestsOneDetection) {
    Form->resize(Form->width(), Form->height() - 1); // before showing: nothing
    QCoreApplication::processEvents();
    EXPECT_TRUE(Counter.Requests.empty());

    ShowAndSettle(*Form);
    EXPECT_EQ(Form->StartupStage(), 3);
    ASSERT_EQ(Counter.Requests.size(), 1u);
    EXPECT_EQ(Counter.Requests[0].Action, 3u);
    EXPECT_EQ(Counter.Requests[0].UseStored, 1u);
    const QRect area = Form->screen()->availableGeometry();
    EXPECT_EQ(Form->frameGeometry().top(), (area.height() - Form->frameGeometry().height()) / 2);

    Form->setFixedSize(Form->width() + 1, Form->height());
    QTest::qWait(50);
    EXPECT_EQ(Counter.Requests.size(), 1u);
}

TEST_F(MainForm, ShowAndResizeUnderTheGuardDoNothing) {
    Form->HoldHandlers(true);
    ShowAndSettle(*Form);
    Form->setFixedSize(Form->width() + 1, Form->height());
    QTest::qWait(50);
    EXPECT_EQ(Form->StartupStage(), 1);
    EXPECT_TRUE(Counter.Requests.empty());
    EXPECT_TRUE(Form->HandlersHeld());
    Form->HoldHandlers(false);
}

TEST_F(MainForm, RequestsWhileDetectionRunsOrIsRequestedAreDropped) {
    Form->WorkerFlags().DiscoveryRunning = true;
    Form->StartInitDevicesThread(Detection::FullDetection, Detection::OperatorSelection);
    Form->WorkerFlags().DiscoveryRunning = false;
    QCoreApplication::processEvents();
    EXPECT_TRUE(Counter.Requests.empty());

    Form->StartInitDevicesThread(Detection::CrateChanged,
                                 Detection::OperatorSelection); // gate closes until the request is served
    Form->StartInitDevicesThread(Detection::ModuleChanged, Detection::OperatorSelection);
    EXPECT_FALSE(Form->WorkerFlags().DiscoveryGate);
    QCoreApplication::processEvents();
    ASSERT_EQ(Counter.Requests.size(), 1u);
    EXPECT_EQ(Counter.Requests[0].Action, 2u);
    EXPECT_EQ(Counter.Requests[0].UseStored, 0u);
}

TEST_F(MainForm, DetectionButtonClearsTheSettingsAndRequestsAFullDetection) {
    Control<QComboBox>(*Form, "CommonMeasuringModeLMDComboBox")->setCurrentIndex(0);
    Form->EnableChannelFrames();
    Control<QCheckBox>(*Form, "AllChannelsLMDCheckBox")->click();
    Control<QComboBox>(*Form, "AdcRateComboBox")->setCurrentIndex(3);
    Control<QComboBox>(*Form, "CommonInputRangeULMDComboBox")->setCurrentIndex(1);

    Control<QPushButton>(*Form, "FindDeviceLMDButton")->click();
    QCoreApplication::processEvents();
    EXPECT_EQ(Control<QCheckBox>(*Form, "AllChannelsLMDCheckBox")->checkState(), Qt::Unchecked);
    for (QComboBox* box : {Control<QComboBox>(*Form, "CommonInputRangeULMDComboBox"),
                           Control<QComboBox>(*Form, "CommonInputRangeRLMDComboBox"),
                           Control<QComboBox>(*Form, "CommonMeasuringModeLMDComboBox"),
                           Control<QComboBox>(*Form, "AdcRateComboBox")})
        EXPECT_EQ(box->currentIndex(), -1) << box->objectName().toStdString();
    for (const TKm808AdcChannelFrame* f : Form->ChannelFrames) {
        EXPECT_FALSE(f->ChannelNumberLMDCheckBox->isChecked());
        EXPECT_EQ(f->InputRangeULMDComboBox->currentIndex(), -1);
        EXPECT_TRUE(f->MeasuringModeLMDLabel->text().isEmpty());
    }
    ASSERT_EQ(Counter.Requests.size(), 1u);
    EXPECT_EQ(Counter.Requests[0].Action, 3u);
    EXPECT_EQ(Counter.Requests[0].UseStored, 0u);
    EXPECT_FALSE(Form->HandlersHeld());
}

TEST_F(MainForm, SelectorsRequestDetectionOnlyForAnotherChoice) {
    Form->HoldHandlers(true);
    Control<QComboBox>(*Form, "QiraCratesComboBox")->addItems({"CRATE-A", "CRATE-B"});
    Control<QComboBox>(*Form, "QiraCratesComboBox")->setCurrentIndex(0);
    Control<QComboBox>(*Form, "ModulesComboBox")->addItems({"M1", "M2"});
    Control<QComboBox>(*Form, "ModulesComboBox")->setCurrentIndex(0);
    Form->DeviceState().SelectedCrateIndex = 0;
    Form->DeviceState().SelectedModuleIndex[0] = 1; // the open module, whose serial the label shows
    qstrcpy(Form->DeviceState().ModuleSerials[0][0], "00000001");
    qstrcpy(Form->DeviceState().ModuleSerials[0][1], "00000002");
    Control<QLabel>(*Form, "ModuleSerialNumberLMDLabel")->setText("00000002");
    Form->HoldHandlers(false);

    Control<QComboBox>(*Form, "ModulesComboBox")->setCurrentIndex(1); // its module is the one shown
    Form->QiraCratesComboBoxChange();                                 // the crate already chosen
    QCoreApplication::processEvents();
    EXPECT_TRUE(Counter.Requests.empty());

    Control<QComboBox>(*Form, "ModulesComboBox")->setCurrentIndex(0);
    QCoreApplication::processEvents();
    Control<QComboBox>(*Form, "QiraCratesComboBox")->setCurrentIndex(1);
    QCoreApplication::processEvents();
    ASSERT_EQ(Counter.Requests.size(), 2u);
    EXPECT_EQ(Counter.Requests[0].Action, 1u);
    EXPECT_EQ(Form->DeviceState().SelectedModuleIndex[0], 0);
    EXPECT_EQ(Counter.Requests[1].Action, 2u);
    EXPECT_EQ(Form->DeviceState().SelectedCrateIndex, 1);
}

TEST_F(MainForm, EscapeReleasesAStuckGuard) {
    ShowAndSettle(*Form);
    Form->HoldHandlers(true);
    QTest::keyClick(Form->windowHandle(), Qt::Key_Escape);
    EXPECT_FALSE(Form->HandlersHeld());

    // Switched off while the worker message dialog is open (which holds the guard).
    bool heldAfterEscape = false;
    WorkerMessageDialog::SetShownObserver([&](QMessageBox& box) {
        QTimer::singleShot(0, &box, [&] {
            QTest::keyClick(&box, Qt::Key_Escape);
            heldAfterEscape = Form->HandlersHeld();
            if (box.isVisible())
                box.buttons().first()->click();
        });
    });
    Form->ShowWorkerMessage(
        {"Сообщение TMainThread::Execute()!!!", QMessageBox::Critical, QMessageBox::Ok, {"Принято"}, "Текст"},
        ButtonLayout::CommonWidth);
    WorkerMessageDialog::SetShownObserver(nullptr);
    EXPECT_TRUE(heldAfterEscape);
    EXPECT_FALSE(Form->HandlersHeld());

    EXPECT_TRUE(Form->ApplicationShortCut(Qt::Key_Escape) == false);
    Form->WorkerFlags().DiscoveryRunning = true;
    EXPECT_TRUE(Form->ApplicationShortCut(Qt::Key_Escape));
    EXPECT_FALSE(Form->ApplicationShortCut(Qt::Key_A));
}

TEST_F(MainForm, AutoSaveBoxDisablesTheSaveButton) {
    Control<QCheckBox>(*Form, "AutoSaveSettingsLMDCheckBox")->click();
    EXPECT_FALSE(Control<QPushButton>(*Form, "SaveSettingsButton")->isEnabled());
    Control<QCheckBox>(*Form, "AutoSaveSettingsLMDCheckBox")->click();
    EXPECT_TRUE(Control<QPushButton>(*Form, "SaveSettingsButton")->isEnabled());
}

TEST_F(MainForm, PageChangeWithoutAModuleIsRefused) {
    ShowAndSettle(*Form);
    Control<QTabWidget>(*Form, "MainLMDPageControl")->setTabVisible(1, true);
    QTabBar* bar = Control<QTabWidget>(*Form, "MainLMDPageControl")->tabBar();
    QTest::qWait(20);
    {
        ModalCatcher catcher;
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
        ASSERT_EQ(catcher.Texts.size(), 1);
        EXPECT_EQ(catcher.Texts[0], "Нет открытого модуля! Поэтому данная опция не доступна!");
        EXPECT_EQ(catcher.Captions[0], "Внимание!!!");
        EXPECT_EQ(catcher.Icons[0], QMessageBox::Information);
    }
    EXPECT_EQ(Control<QTabWidget>(*Form, "MainLMDPageControl")->currentIndex(), 0);
    EXPECT_FALSE(Form->HandlersHeld());

    Form->DeviceState().ModuleState = 2;
    ModalCatcher none;
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
    EXPECT_EQ(Control<QTabWidget>(*Form, "MainLMDPageControl")->currentIndex(), 1);
    EXPECT_TRUE(none.Texts.isEmpty());

    Form->HoldHandlers(true); // a change the program makes passes unchecked
    Form->DeviceState().ModuleState = 0;
    EXPECT_TRUE(Form->MainLMDPageControlChangingEx(0));
    Form->HoldHandlers(false);
}

TEST_F(MainForm, ContextMenuOpensOnlyUntilTheFirstDetection) {
    ShowAndSettle(*Form);
    const QPoint at = Form->mapToGlobal(QPoint(600, 400));
    QContextMenuEvent open(QContextMenuEvent::Mouse, Form->mapFromGlobal(at), at);
    QApplication::sendEvent(Form.get(), &open);
    EXPECT_TRUE(Control<QMenu>(*Form, "PopupMenu")->isVisible());
    EXPECT_EQ(Control<QMenu>(*Form, "PopupMenu")->geometry().center().x(), at.x());
    Control<QMenu>(*Form, "PopupMenu")->hide();

    Form->StopPopupMenuAutoOpen();
    QApplication::sendEvent(Form.get(), &open);
    EXPECT_FALSE(Control<QMenu>(*Form, "PopupMenu")->isVisible());
}

TEST_F(MainForm, ShortcutsReachTheSettingsCommandsAndExit) {
    ShowAndSettle(*Form);
    QSignalSpy defaults(Control<QAction>(*Form, "SaveDefaultSettings"), &QAction::triggered);
    QSignalSpy current(Control<QAction>(*Form, "SaveCurrentSettings"), &QAction::triggered);
    QSignalSpy reboot(Control<QAction>(*Form, "RebootDeviceMenuItem"), &QAction::triggered);
    Form->StopPopupMenuAutoOpen();
    Form->activateWindow();
    QTest::keyClick(Form->windowHandle(), Qt::Key_R, Qt::ControlModifier);
    QTest::keyClick(Form->windowHandle(), Qt::Key_D, Qt::ControlModifier);
    QTest::keyClick(Form->windowHandle(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(reboot.count(), 1); // reached, and it does nothing
    EXPECT_EQ(defaults.count(), 1);
    EXPECT_EQ(current.count(), 1);

    Form->HoldHandlers(true);
    QTest::keyClick(Form->windowHandle(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(Form->isVisible());
    EXPECT_FALSE(Form->HandlersHeld());
}

TEST_F(MainForm, HintsStayInsideTheWorkArea) {
    ShowAndSettle(*Form);
    const QRect area = Form->screen()->availableGeometry();
    QHelpEvent help(QEvent::ToolTip, QPoint(0, 0), area.bottomRight() - QPoint(2, 2));
    QApplication::sendEvent(Control<QLabel>(*Form, "ModuleSerialNumberLMDLabel"), &help);
    QWidget* tip = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->inherits("QTipLabel") && w->isVisible())
            tip = w;
    ASSERT_NE(tip, nullptr);
    EXPECT_EQ(QToolTip::text(), "Серийный номер модуля");
    EXPECT_EQ(tip->frameGeometry().bottom() + 1, area.bottom() + 1 - 10);
    EXPECT_EQ(tip->frameGeometry().right() + 1, area.right() + 1 - 10);
    EXPECT_EQ(tip->palette().color(QPalette::ToolTipBase), QColor(255, 255, 164));
    QToolTip::hideText();
}

} // namespace
