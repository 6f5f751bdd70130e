// Failures injected by the emulator, refused starts, and every way a running
// measurement is stopped.
#include "FormControl.h"
#include "MeasurementWindow.h"

#include "app/TMainThread.h"
#include "ui/TKm808AdcChannelFrame.h"
#include "ui/WorkerMessageDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

constexpr const char* StartText = "С   Т   А   Р   Т";

#define REQUIRE_WINDOW(w) ASSERT_TRUE((w).Failure.isEmpty()) << (w).Failure.toStdString()

// The run has ended cleanly: stop phase done, button up and idle.
void ExpectIdleLook(MeasurementWindow& w) {
    ASSERT_TRUE(w.WaitIdle());
    EXPECT_EQ(w.ButtonText(), StartText);
    EXPECT_FALSE(w.ButtonDown());
}

struct FaultCase {
    const char* Name;
    const char* Faults; // the module's "faults" object
    const char* Message;
    bool ModuleStops; // false where the fault is the stop itself
};

const FaultCase FaultCases[] = {
    {"SetAdc", R"({"setadc": true})", "KM808_SetADC() --> BAD!!!", true},
    {"Calibrate", R"({"calibrate": true})", "Не могу выполнить функцию KM808_Calibrate()!!!", true},
    {"Start", R"({"start": true})", "Не могу выполнить запуск сбора кадра данных!!!", true},
    {"Stop", R"({"stop": true})", "Не могу выполнить останов сбора данных!!!", false},
    // 1000 Hz, one channel: receive calls of 100 words; the third gets 50.
    {"StallOver5s", R"({"stall_after_words": 250, "stall_ms": 6000})",
     "Принято неправильное кол-во данных с модуля!", true},
    {"Drop", R"({"drop_after_words": 250})", "Не могу получить данные с модуля!", true},
    {"Corrupt", R"({"corrupt_after_words": 1500})", "Не могу обработать полученные данные с модуля!", true},
};

class FaultTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultTest, ShownOnceAndTheRunEndsCleanly) {
    const FaultCase& c = GetParam();
    MeasurementWindow w(EmulatorConfig({{1, 1.25}}, QByteArray(R"("faults": )") + c.Faults));
    REQUIRE_WINDOW(w);
    MeasurementSetup s;
    s.AcquisitionTime = 1.0;
    w.Configure(s);
    w.PressStart();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.Messages.isEmpty(); }, 20000));
    ExpectIdleLook(w);
    QTest::qWait(300);
    EXPECT_EQ(w.Messages, QStringList{c.Message});
    if (c.ModuleStops) {
        EXPECT_EQ(int(w.Form->DeviceState().ModuleControl.AcquisitionRunning), 0);
    }
    // The worker idles until the next press releases it; the one after that
    // measures again.
    EXPECT_TRUE(w.Form->WorkerFlags().WorkerRunning);
    w.PressStart();
    EXPECT_TRUE(w.ButtonDown());
    EXPECT_NE(w.Form->MeasurementWorker(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Cases, FaultTest, ::testing::ValuesIn(FaultCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// The worker waits in its message step while the dialog runs its own event
// loop: the handlers stay guarded there, so that the Escape handler cannot
// stop (and wait for) the worker from inside that step.
TEST(WorkerMessageTest, TheDialogHoldsTheHandlerGuard) {
    // Declared first: the observer below may still run while the window closes.
    bool guarded = false;
    bool escapeConsumed = false;
    MeasurementWindow w(EmulatorConfig({{1, 1.25}}, R"("faults": {"drop_after_words": 250})"));
    REQUIRE_WINDOW(w);
    MeasurementSetup s;
    s.AcquisitionTime = 1.0;
    w.Configure(s);
    WorkerMessageDialog::SetShownObserver([&](QMessageBox& box) {
        w.Messages << box.text();
        guarded = w.Form->HandlersHeld();
        QMetaObject::invokeMethod(
            &box,
            [&box, &w, &escapeConsumed, guarded] {
                // Unguarded, the handler would stop the worker from here and
                // never return.
                if (guarded)
                    escapeConsumed = w.Form->ApplicationShortCut(Qt::Key_Escape);
                EXPECT_NE(w.Form->MeasurementWorker(), nullptr);
                box.accept();
            },
            Qt::QueuedConnection);
    });
    w.PressStart();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.Messages.isEmpty(); }, 20000));
    ExpectIdleLook(w);
    EXPECT_TRUE(guarded);
    EXPECT_TRUE(escapeConsumed);
    EXPECT_FALSE(w.Form->HandlersHeld());
    EXPECT_EQ(w.Messages, QStringList{"Не могу получить данные с модуля!"});
}

struct RefusalCase {
    const char* Name;
    std::vector<int> Active;
    int RateIndex;
    int RangeOfChannel2;
    const char* Message;
};

const RefusalCase RefusalCases[] = {
    {"NoActiveChannel", {}, 4, 0, "Необходимо выбрать не менне одного активного канала!"},
    {"NoRate", {0}, -1, 0, "Не выбрана частота работы АЦП!!!"},
    {"NoRangeOnAnActiveChannel", {0, 1}, 4, -1, "Не выбран входной диапазон канала 2!!!"},
};

class RefusalTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RefusalTest, ReportedBeforeTheModuleIsSetUp) {
    const RefusalCase& c = GetParam();
    MeasurementWindow w(EmulatorConfig({{1, 1.25}}));
    REQUIRE_WINDOW(w);
    MeasurementSetup s;
    s.Active = c.Active;
    s.RateIndex = c.RateIndex;
    s.RangeU[1] = c.RangeOfChannel2;
    w.Configure(s);
    const int32_t divider = w.Form->DeviceState().ModuleControl.FrequencyDivider;
    w.PressStart();
    ExpectIdleLook(w);
    EXPECT_EQ(w.Messages, QStringList{c.Message});
    EXPECT_EQ(int(w.Form->DeviceState().ModuleControl.FrequencyDivider), divider)
        << "the module was not set up";
    EXPECT_TRUE(w.Emulator->LogLines("SetADC").isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Cases, RefusalTest, ::testing::ValuesIn(RefusalCases),
                         [](const auto& info) { return std::string(info.param.Name); });

class StopTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(W.Failure.isEmpty()) << W.Failure.toStdString();
        MeasurementSetup s;
        s.Active = {0, 5};
        W.Configure(s);
    }
    MeasurementWindow W{EmulatorConfig({{1, 1.25}, {6, -4.0}})};
};

TEST_F(StopTest, StopDuringTheStartPhaseStillFinishes) {
    W.PressStart();
    W.PressStop();
    ExpectIdleLook(W);
    EXPECT_TRUE(W.Messages.isEmpty());
    EXPECT_EQ(W.Form->MeasurementWorker(), nullptr);
    EXPECT_FALSE(W.Form->WorkerFlags().WorkerRunning);
    EXPECT_EQ(int(W.Form->DeviceState().ModuleControl.AcquisitionRunning), 0);
}

TEST_F(StopTest, EscapeStopsARunningMeasurement) {
    W.PressStart();
    ASSERT_TRUE(W.WaitBlocks(1));
    QTest::keyClick(W.Form, Qt::Key_Escape);
    ExpectIdleLook(W);
    EXPECT_EQ(W.Form->MeasurementWorker(), nullptr);
    EXPECT_TRUE(W.Messages.isEmpty());
}

// As the window system delivers a key: the release is already queued while
// the press is handled, so the stop's pumping sees it.
void PressEscapeAtTheWindow(TMainForm* form) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::postEvent(form->windowHandle(),
                                new QKeyEvent(QEvent::KeyRelease, Qt::Key_Escape, Qt::NoModifier));
    QCoreApplication::sendEvent(form->windowHandle(), &press);
}

TEST_F(StopTest, EveryEscapeStopsIt) {
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        W.PressStart();
        ASSERT_TRUE(W.WaitBlocks(1));
        PressEscapeAtTheWindow(W.Form);
        ExpectIdleLook(W);
        EXPECT_EQ(W.Form->MeasurementWorker(), nullptr);
    }
    EXPECT_TRUE(W.Messages.isEmpty());
}

TEST_F(StopTest, ASettingChangeStopsIt) {
    W.PressStart();
    ASSERT_TRUE(W.WaitBlocks(1));
    Control<QComboBox>(*W.Form, "AdcRateComboBox")->setCurrentIndex(5);
    ExpectIdleLook(W);
    EXPECT_EQ(W.Form->MeasurementWorker(), nullptr);
    W.PressStart();
    ASSERT_TRUE(W.WaitBlocks(1));
    W.Form->ChannelFrames[5]->ChannelNumberLMDCheckBox->click();
    ExpectIdleLook(W);
    EXPECT_EQ(W.Form->MeasurementWorker(), nullptr);
    EXPECT_TRUE(W.Messages.isEmpty());
}

TEST_F(StopTest, TypingIntoTheCorrectionModeStopsItOnlyForAnotherMode) {
    QComboBox* mode = Control<QComboBox>(*W.Form, "CorrectionModeLMDComboBox");
    QLineEdit* field = mode->lineEdit();
    const int before = mode->currentIndex();
    ASSERT_GE(before, 0);
    W.PressStart();
    ASSERT_TRUE(W.WaitBlocks(1));
    field->setFocus();
    QTest::keyClicks(field, "qwerty");
    EXPECT_EQ(field->text(), mode->itemText(before));
    ASSERT_TRUE(W.WaitBlocks(1)) << "no change, and yet the measurement stopped";
    const int other = 1 - before;
    // Letters typed after a pause start a new search.
    QTest::qWait(QApplication::keyboardInputInterval() + 50);
    field->selectAll();
    for (const QChar c : mode->itemText(other).trimmed().left(3))
        QTest::sendKeyEvent(QTest::Click, field, Qt::Key(c.toUpper().unicode()), QString(c), Qt::NoModifier);
    ExpectIdleLook(W);
    EXPECT_EQ(mode->currentIndex(), other);
    EXPECT_EQ(field->text(), mode->itemText(other));
    EXPECT_EQ(W.Form->MeasurementWorker(), nullptr);
    EXPECT_TRUE(W.Messages.isEmpty());
}

TEST_F(StopTest, StartWhileRunningKeepsTheWorker) {
    W.PressStart();
    ASSERT_TRUE(W.WaitBlocks(1));
    const TMainThread* worker = W.Form->MeasurementWorker();
    W.Form->StartThread();
    EXPECT_EQ(W.Form->MeasurementWorker(), worker);
    ASSERT_TRUE(W.WaitBlocks(1));
    W.PressStop();
    ExpectIdleLook(W);
}

TEST_F(StopTest, ClosingTheWindowStopsIt) {
    W.PressStart();
    ASSERT_TRUE(W.WaitBlocks(1));
    W.Form->close();
    EXPECT_EQ(W.Form->MeasurementWorker(), nullptr);
    EXPECT_TRUE(W.Form->WorkerFlags().MeasurementIdle);
    EXPECT_TRUE(W.Messages.isEmpty());
}

TEST_F(StopTest, TwoHundredQuickStartsAndStops) {
    for (int i = 0; i < 200; ++i) {
        W.PressStart();
        ASSERT_NE(W.Form->MeasurementWorker(), nullptr) << i;
        // Stops land in the preparation, the module set-up and the first block.
        QTest::qWait((i % 5) * 40);
        W.PressStop();
        ASSERT_EQ(W.Form->MeasurementWorker(), nullptr) << i;
        ASSERT_TRUE(W.Form->WorkerFlags().MeasurementIdle) << i;
    }
    EXPECT_TRUE(W.Messages.isEmpty());
    EXPECT_EQ(W.ButtonText(), StartText);
    // And the module still measures.
    W.PressStart();
    ASSERT_TRUE(W.WaitBlocks(1));
    EXPECT_EQ(W.ValueText(0), "1250.000");
}

} // namespace
