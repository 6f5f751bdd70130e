// A main window whose detection requests are counted instead of starting a
// detection, so that tests see the window alone.
#pragma once

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "app/TMainForm.h"

class RequestCounter : public QObject {
public:
    struct Request {
        quint32 Action;
        quint32 UseStored;
    };
    std::vector<Request> Requests;
    int WorkerStarts = 0;
    TMainForm* Form = nullptr;

    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == TPrivateMessageEvent::StartInitDevices) {
            auto* m = static_cast<TPrivateMessageEvent*>(event);
            Requests.push_back({m->WParam, m->LParam});
            Form->WorkerFlags().DiscoveryGate = true; // as a worker that started and ended
            return true;
        }
        if (event->type() == TPrivateMessageEvent::StartMainThread) {
            ++WorkerStarts;
            Form->WorkerFlags().WorkerGate = true;
            return true;
        }
        return false;
    }
};

class FormTest : public ::testing::Test {
protected:
    void SetUp() override {
        Form = std::make_unique<TMainForm>();
        Form->SetSettingsDirectory(Settings.path());
        Counter.Form = Form.get();
        Form->installEventFilter(&Counter);
    }
    void TearDown() override {
        Form->removeEventFilter(&Counter);
        Form.reset();
    }
    QTemporaryDir Settings;
    std::unique_ptr<TMainForm> Form;
    RequestCounter Counter;
};
