// The measurement worker against a fake view: no window is built. The view
// records each step the worker asks of it; the module is an emulated one.
#include "EmulatorProcess.h"
#include "app/MeasurementView.h"
#include "app/TMainThread.h"
#include "device/WorkerFlags.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <gtest/gtest.h>

#include <ostream>
#include <stdexcept>

// Steps read as text in a failure.
void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace {

const QByteArray Crate = R"({"pace": "fast", "seed": 7, "crates": [{"serial": "QR000001", "slots": [
    {"slot": 3, "type": "KM808", "serial": "KM0000301", "channels": [{"channel": 1, "volts": 1.5}]},
    {"slot": 5, "type": "KM808", "serial": "KM0000501", "faults": {"start": true}}]}]})";

// Each step is recorded by name ("Values 2": the values of block 2). Act
// names the step and what the view does there: "stop" (the operator's stop
// arrives during the step), "report" (the step reports a failure), "throw".
class FakeView final : public IMeasurementView {
public:
    QStringList Steps;
    QString ActAt; // e.g. "Leds 2"
    QString Act;
    TMainThread* Worker = nullptr;

    TWorkerFlags& WorkerFlags() override { return Flags; }
    bool ChannelActive(int ch) const override { return ch == 0; }

    void CaptureConfiguration(TMeasurementCycle& cycle) override {
        TMeasurementConfig config;
        config.Channels.Active[0] = true;
        config.Settings.AcquisitionTime = 0.05;
        ApplyConfiguration(cycle, config);
        Step("Capture");
    }
    void ConfigureModule(TMeasurementCycle& cycle) override {
        TChannelChoice choice;
        choice.Active[0] = true;
        choice.RateIndex = 4;
        if (SetUpModule(cycle, choice))
            Step("Configure");
    }
    void ShowChannelValues(const TBlockReading& reading) override {
        Step("Values " + QString::number(reading.Block));
    }
    void ShowFrameLeds(const TBlockReading& reading) override {
        Step("Leds " + QString::number(reading.Block));
    }
    void FinishMeasurement(TMeasurementCycle& cycle) override {
        cycle.FreeBuffers();
        Step("Finish");
    }
    void ShowWorkerMessage(const WorkerMessageRequest& request, ButtonLayout) override {
        Steps << "Message " + request.Text;
    }
    void PostEnd(QEvent* event) override {
        delete event;
        Steps << "End";
    }

private:
    void Step(const QString& name) {
        Steps << name;
        if (name != ActAt)
            return;
        if (Act == "stop")
            Worker->Terminated = true;
        else if (Act == "report")
            Worker->Report("failure at " + name);
        else if (Act == "throw")
            throw std::runtime_error("a step that fails");
    }
    TWorkerFlags Flags;
};

// Runs one worker on the module in slot until its run has finished, stops it
// as the window does and waits for its end; the view's steps.
QStringList RunWorker(FakeView& view, uint16_t slot) {
    KM808_CONTROL module{};
    EXPECT_EQ(KM808_Open(&module, KM808_LOOPBACK_ADDRESS, KM808_DEFAULT_PORT, "QR000001", slot), 0);
    {
        TMainThread worker(&view, &module);
        view.Worker = &worker;
        worker.start();
        // A bound against a hang only; no duration is checked.
        const QDeadlineTimer limit(60000);
        while (!view.Steps.contains("Finish") && !limit.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        worker.Terminated = true;
        while (!worker.wait(10))
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        EXPECT_TRUE(worker.Ended.load(std::memory_order_acquire));
        EXPECT_TRUE(view.WorkerFlags().WorkerRunning);
        EXPECT_EQ(module.AcquisitionRunning, 0) << "the module is left stopped";
        view.Worker = nullptr;
    }
    KM808_Close(&module);
    return view.Steps;
}

TEST(MeasurementWorker, StepsInOrderForEveryStopAndFailure) {
    EmulatorProcess emulator(Crate);
    ASSERT_TRUE(emulator.Started()) << emulator.Error.toStdString();
    const QString crash =
        "Опаньки!!!\nПоймали неустранимое исключение потока сбора данных!!!\nСрочно сообщите "
        "разработчику!";
    const QString startFailed = "Не могу выполнить запуск сбора кадра данных!!!";
    struct Case {
        const char* actAt;
        const char* act;
        uint16_t slot;
        QStringList steps;
    };
    const Case cases[] = {
        {"Leds 2",
         "stop",
         3,
         {"Capture", "Configure", "Values 1", "Leds 1", "Values 2", "Leds 2", "Finish", "End"}},
        {"Capture", "stop", 3, {"Capture", "Finish", "End"}},
        {"Configure", "stop", 3, {"Capture", "Configure", "Finish", "End"}},
        {"Values 1", "stop", 3, {"Capture", "Configure", "Values 1", "Finish", "End"}},
        {"Capture", "report", 3, {"Capture", "Message failure at Capture", "Finish", "End"}},
        {"Configure", "report", 3, {"Capture", "Configure", "Message failure at Configure", "Finish", "End"}},
        // The module refuses to start the first block.
        {"", "", 5, {"Capture", "Configure", "Message " + startFailed, "Finish", "End"}},
        {"Values 1", "throw", 3, {"Capture", "Configure", "Values 1", "Message " + crash, "Finish", "End"}},
        {"Leds 1",
         "throw",
         3,
         {"Capture", "Configure", "Values 1", "Leds 1", "Message " + crash, "Finish", "End"}},
        // A report during the display ends the run at the next block, not
        // before the lamps of this one.
        {"Values 2",
         "report",
         3,
         {"Capture", "Configure", "Values 1", "Leds 1", "Values 2", "Message failure at Values 2", "Leds 2",
          "Finish", "End"}},
        // A failing end step still lets the worker end; its report is not
        // shown after the run's first message.
        {"Finish", "throw", 5, {"Capture", "Configure", "Message " + startFailed, "Finish", "End"}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::string(k.act) + " at " + k.actAt + ", slot " + std::to_string(k.slot));
        FakeView view;
        view.ActAt = k.actAt;
        view.Act = k.act;
        EXPECT_EQ(RunWorker(view, k.slot), k.steps);
    }
}

} // namespace
