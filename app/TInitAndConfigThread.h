// The discovery worker: one object carries one detection run (full detection,
// crate change or module change). Every window step runs on the
// user-interface thread by a synchronous call; only module opening runs here.
// The window is reached only through the worker's view.
#pragma once

#include <QString>
#include <QThread>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "discovery/DetectionAction.h"

class IDiscoveryView;
class TSettingsFile;

class TInitAndConfigThread : public QThread {
    Q_OBJECT
public:
    enum : uint32_t {
        ModuleChanged = Detection::ModuleChanged,
        CrateChanged = Detection::CrateChanged,
        FullDetection = Detection::FullDetection
    };

    // The worker deletes itself once its run has ended.
    TInitAndConfigThread(IDiscoveryView* view, uint32_t action, bool useStoredSelection);
    ~TInitAndConfigThread() override;

    bool UseStoredSelection = false;
    uint32_t Action = 0;
    QString WantedCrateSerial;
    int16_t WantedSlot = -1;
    QString ModuleNameText;
    std::atomic<bool> MessageShown{false};
    std::unique_ptr<TSettingsFile> SettingsAccessor;
    int16_t SavedCursor = -1; // the override cursor's shape before the run; -1: none
    bool CursorOverridden = false;
    QString MessageText;

    void Execute();

    // Shows MessageText unless a message was already shown in this run.
    // User-interface thread.
    void ShowWorkerMessage();
    // MessageText := text, then ShowWorkerMessage; from either thread.
    void Report(const QString& text);
    // Worker thread: a synchronous call of a window step with the handler
    // guard held.
    void SynchronizeGuarded(const std::function<void()>& step);

    // The window steps of a run (the view's); user-interface thread.
    void PrepareRun();
    void RestoreWindowPosition();
    void LoadParameters();
    void FinishRun();

    // Connects the end of the run: the window's termination handler, then
    // the self-destruction, then the end mark (in this order).
    template <typename Window> void ConnectEnd(Window* window, void (Window::*terminate)()) {
        connect(this, &QThread::finished, window, terminate, Qt::QueuedConnection);
        ConnectSelfDestruction();
    }
    // True once the thread has announced its end; read with acquire ordering
    // before the object is destroyed, so that everything the thread did is
    // ordered before (also for ThreadSanitizer, which cannot see Qt's waits).
    bool Ended() const { return RunEnded.load(std::memory_order_acquire); }

    static inline const QString MessageCaption =
        QStringLiteral("Сообщение TInitAndConfigThread::Execute()!!!");

protected:
    void run() override;

private:
    void ConnectSelfDestruction();

    IDiscoveryView* const View;
    std::atomic<bool> RunEnded{false};
};
