// What the detection worker asks of its window, and all it may reach of it.
// The steps run on the user-interface thread in a synchronous call
// (UiThread::Synchronize), in the order TInitAndConfigThread::Execute gives,
// with the handler guard held through HoldHandlers; DetectAll,
// OpenSelectedModule and ChangeCrate run on the worker's thread, as do
// WorkerFlags and DeviceState.
#pragma once

#include <functional>

#include "ui/WorkerMessageDialog.h"

class TInitAndConfigThread;
struct TDeviceState;
struct TWorkerFlags;

class IDiscoveryView {
public:
    virtual ~IDiscoveryView() = default;

    virtual TWorkerFlags& WorkerFlags() = 0;
    virtual TDeviceState& DeviceState() = 0;
    // The window's handler guard: set before each step, cleared after it.
    virtual void HoldHandlers(bool held) = 0;

    // The context menu no longer opens by itself once a run has begun.
    virtual void StopPopupMenuAutoOpen() = 0;
    // The window locked and the unknown state shown; the settings file opened
    // (run.SettingsAccessor) and the wanted crate and slot captured (stored or
    // current). A report here ends the run's work.
    virtual void PrepareRun(TInitAndConfigThread& run) = 0;
    virtual void RestoreWindowPosition(TInitAndConfigThread& run) = 0;
    // Worker thread: lists crates and modules, fills the selectors (in
    // synchronous steps) and tests the chosen module's opening (ModuleState
    // 1); failures go to run.Report; the run's interruption request ends it
    // without a report.
    virtual void DetectAll(TInitAndConfigThread& run) = 0;
    // Worker thread: opens the chosen module (ModuleState 2) and names it in
    // run.ModuleNameText.
    virtual bool OpenSelectedModule(TInitAndConfigThread& run) = 0;
    // Worker thread: closes the module, refills the module selector by
    // fillSelector (a synchronous step) and opens the chosen module.
    virtual bool ChangeCrate(const std::function<void()>& fillSelector) = 0;
    virtual void FillModuleSelector() = 0;
    // The lamps, hints, caption and module labels; known: after an opening.
    virtual void ShowDeviceStatus(TInitAndConfigThread& run, bool known) = 0;
    virtual void LoadParameters(TInitAndConfigThread& run) = 0;
    // The window unlocked as far as the device state allows; the settings
    // file closed; the cursor given back.
    virtual void FinishRun(TInitAndConfigThread& run) = 0;
    // The worker message dialog, modal.
    virtual void ShowWorkerMessage(const WorkerMessageRequest& request, ButtonLayout layout) = 0;
};
