// The detection worker against a fake view: no window is built and no crate
// server is needed. The view records each step the worker asks of it, "~"
// marking a step run without the handler guard.
#include "app/DiscoveryView.h"
#include "app/TInitAndConfigThread.h"
#include "device/DeviceState.h"
#include "device/WorkerFlags.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <ostream>
#include <stdexcept>

// Steps read as text in a failure.
void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace {

// Act names the step and what the view does there: "report" (the step
// reports a failure), "fail" (the step fails without a report), "throw".
class FakeView final : public IDiscoveryView {
public:
    QStringList Steps;
    QString ActAt;
    QString Act;
    bool Held = false;
    TDeviceState Device;

    TWorkerFlags& WorkerFlags() override { return Flags; }
    TDeviceState& DeviceState() override { return Device; }
    void HoldHandlers(bool held) override { Held = held; }

    void StopPopupMenuAutoOpen() override { Step("Popup", nullptr); }
    void PrepareRun(TInitAndConfigThread& run) override { Step("Prepare", &run); }
    void RestoreWindowPosition(TInitAndConfigThread& run) override { Step("Position", &run); }
    void DetectAll(TInitAndConfigThread& run) override {
        if (Step("Detect", &run))
            Device.ModuleState = 1;
    }
    bool OpenSelectedModule(TInitAndConfigThread& run) override {
        if (!Step("Open", &run))
            return false;
        Device.ModuleState = 2;
        return true;
    }
    bool ChangeCrate(const std::function<void()>& fillSelector) override {
        fillSelector();
        if (!Step("Crate", nullptr))
            return false;
        Device.ModuleState = 2;
        return true;
    }
    void FillModuleSelector() override { Step("Fill", nullptr); }
    void ShowDeviceStatus(TInitAndConfigThread& run, bool known) override {
        Step(known ? "Status" : "Unknown", &run);
    }
    void LoadParameters(TInitAndConfigThread& run) override { Step("Load", &run); }
    void FinishRun(TInitAndConfigThread& run) override { Step("Finish", &run); }
    void ShowWorkerMessage(const WorkerMessageRequest& request, ButtonLayout) override {
        Steps << QString(Held ? "" : "~") + "Message " + request.Text;
    }

private:
    // False when the step fails.
    bool Step(const QString& name, TInitAndConfigThread* run) {
        Steps << (Held ? "" : "~") + name;
        if (name != ActAt)
            return true;
        if (Act == "report" && run)
            run->Report("failure at " + name);
        else if (Act == "throw")
            throw std::runtime_error("a step that fails");
        return false;
    }
    TWorkerFlags Flags;
};

TEST(DiscoveryWorker, StepsInOrderForEveryActionAndFailure) {
    const QString crash = "Опаньки!!! Поймали неустранимое исключение!!!\nСрочно сообщите разработчику!";
    const uint32_t full = TInitAndConfigThread::FullDetection;
    const uint32_t module = TInitAndConfigThread::ModuleChanged;
    const uint32_t crate = TInitAndConfigThread::CrateChanged;
    struct Case {
        uint32_t action;
        const char* actAt;
        const char* act;
        QStringList steps;
        int moduleState;
    };
    const Case cases[] = {
        {full, "", "", {"~Popup", "Prepare", "Position", "~Detect", "~Open", "Status", "Load", "Finish"}, 2},
        {full, "Prepare", "report", {"~Popup", "Prepare", "Message failure at Prepare", "Finish"}, 0},
        {full, "Position", "throw", {"~Popup", "Prepare", "Position", "Message " + crash, "Finish"}, 0},
        {full,
         "Detect",
         "report",
         {"~Popup", "Prepare", "Position", "~Detect", "Message failure at Detect", "Status", "Finish"},
         0},
        // A detection that finds no module without a report (slot types
        // unreadable) opens nothing but still loads the parameters.
        {full, "Detect", "fail", {"~Popup", "Prepare", "Position", "~Detect", "Status", "Load", "Finish"}, 0},
        {full,
         "Detect",
         "throw",
         {"~Popup", "Prepare", "Position", "~Detect", "Message " + crash, "Finish"},
         0},
        {full,
         "Open",
         "report",
         {"~Popup", "Prepare", "Position", "~Detect", "~Open", "Message failure at Open", "Status", "Finish"},
         1},
        {full,
         "Status",
         "throw",
         {"~Popup", "Prepare", "Position", "~Detect", "~Open", "Status", "Message " + crash, "Finish"},
         0},
        {full,
         "Load",
         "report",
         {"~Popup", "Prepare", "Position", "~Detect", "~Open", "Status", "Load", "Message failure at Load",
          "Finish"},
         2},
        // A failing end step ends the run all the same.
        {full,
         "Finish",
         "throw",
         {"~Popup", "Prepare", "Position", "~Detect", "~Open", "Status", "Load", "Finish"},
         2},
        {module, "", "", {"~Popup", "Prepare", "Position", "~Open", "Status", "Load", "Finish"}, 2},
        {module,
         "Open",
         "fail",
         {"~Popup", "Prepare", "Position", "~Open",
          "Message Не могу проинициализировать модуль в указанном слоте!", "Finish"},
         0},
        {crate, "", "", {"~Popup", "Prepare", "Position", "Fill", "~Crate", "Status", "Load", "Finish"}, 2},
        {crate,
         "Crate",
         "fail",
         {"~Popup", "Prepare", "Position", "Fill", "~Crate",
          "Message Не могу проинициализировать QIRA крейт с модулями в указанном слоте!", "Finish"},
         0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::to_string(k.action) + ": " + k.act + " at " + k.actAt);
        FakeView view;
        view.ActAt = k.actAt;
        view.Act = k.act;
        TInitAndConfigThread worker(&view, k.action, true);
        worker.start();
        while (!worker.wait(10))
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        EXPECT_EQ(view.Steps, k.steps);
        EXPECT_EQ(view.Device.ModuleState, k.moduleState);
        EXPECT_FALSE(view.Held) << "the handler guard is given back";
        EXPECT_TRUE(view.WorkerFlags().DiscoveryRunning);
    }
}

} // namespace
