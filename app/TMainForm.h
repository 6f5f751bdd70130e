// The main window: owns the controls, the channel frames, the state records the
// rooms share (device state, measurement settings, worker flags) and both
// workers. Its member functions live in app/ (MainForm*.cpp); the rooms' logic
// lives in device/, settings/, dsp/, discovery/ and acquisition/. Its controls
// and state are its own: others find a control by its object name and reach
// the state through the workers' views and the few queries below.
#pragma once

#include <QEvent>
#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "app/DiscoveryView.h"
#include "app/MeasurementView.h"
#include "device/DeviceState.h"
#include "device/WorkerFlags.h"
#include "discovery/DetectionAction.h"
#include "settings/MeasurementSettings.h"

class QAction;
class QCheckBox;
class QContextMenuEvent;
class QMoveEvent;
class QComboBox;
class QFrame;
class QGroupBox;
class QKeyEvent;
class QLabel;
class QMenu;
class QPushButton;
class QScrollArea;
class QTabWidget;

class TLed;
class TKm808AdcChannelFrame;
class TSettingsFile;
class TMainThread;
class TInitAndConfigThread;

// A posted private window message with its two parameters.
class TPrivateMessageEvent : public QEvent {
public:
    static constexpr QEvent::Type StartInitDevices = QEvent::Type(1124); // WM_USER + 100
    static constexpr QEvent::Type StartMainThread = QEvent::Type(1125);  // WM_USER + 101
    TPrivateMessageEvent(QEvent::Type type, quint32 wParam, quint32 lParam)
        : QEvent(type), WParam(wParam), LParam(lParam) {}
    quint32 WParam;
    quint32 LParam;
};

class TMainForm : public QWidget, public IDiscoveryView, public IMeasurementView {
    Q_OBJECT
public:
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    // ---- The records a run's set-up names -----------------------------------
    // The measurement settings a load put there; a run copies them at its start.
    TMeasurementSettings Settings;
    // The 16 channel frames, in channel order.
    std::array<TKm808AdcChannelFrame*, 16> ChannelFrames{};

    // ---- What a caller may ask of the window ------------------------------
    // The handler guard is held (HoldHandlers, a running handler or a worker step).
    bool HandlersHeld() const { return HandlersBusy; }
    // 0 constructing, 1 constructed, 2 shown, 3 placed (the first detection asked for).
    uint8_t StartupStage() const { return StartupPhase; }
    // The running workers, if any.
    const TMainThread* MeasurementWorker() const { return MainThread; }
    const TInitAndConfigThread* DiscoveryWorker() const;
    // True while the accessor of the last save or defaults is kept open.
    bool HoldsSettingsFile() const { return SettingsFile != nullptr; }

    // ---- Settings file ----------------------------------------------------
    // Where the settings file lives; by default as the build's layout says
    // (settings/SettingsLocation.h).
    void SetSettingsDirectory(const QString& directory) { SettingsDirectory = directory; }
    QString SettingsPath() const;
    // Ctrl+S and Ctrl+D pressed while a detection runs, in the order pressed;
    // they run once it has ended, on what the window then shows.
    enum class HeldSettingsRequest { Save, Defaults };
    bool HoldWhileDiscoveryRuns(HeldSettingsRequest request);
    void RunHeldSettingsRequests();

    // ---- Window operations (app/) ----------------------------------------
    // action: a Detection::TAction; useStoredSelection: a Detection::TSelection.
    void StartInitDevicesThread(quint32 action, quint32 useStoredSelection);

    // ---- Handlers of the window (app/) -----------------------------------
    void FindDeviceLMDButtonClick();
    void StartLMDSpeedButtonClick();
    void QiraCratesComboBoxChange();
    void ModulesComboBoxChange();
    void AutoSaveSettingsLMDCheckBoxChange();
    void ApplicationExitClick();
    void FormShow();
    void FormResize();
    bool MainLMDPageControlChangingEx(int newPage); // true: allow the change
    bool ApplicationShortCut(int key);              // true: the key is consumed
    bool FormMouseWheel(int direction);             // -1 up, +1 down; true: handled

    // ---- Measurement settings controls and frame operations ------------
    void SetupMeasurementControls(); // construction step 5
    void CreateChannelFrames();      // construction step 6
    void ResetChannelFrame(int ch);
    // Every value box "--------" in its plain colour and every update lamp
    // off: the readings belong to a module that is no longer the open one.
    void ClearChannelValues();
    void ApplyChannelMeasuringMode(int ch, int mode);
    void EnableChannelFrames();
    bool AllChannelsSameState(Qt::CheckState& state) const;
    bool AllRangeSelectorsSame(QComboBox* commonSelector, int& index) const;
    void AllChannelsLMDCheckBoxChange();
    void EnaChannelLMDCheckBoxChange(QObject* sender);
    void CommonInputRangeLMDComboBoxChange(QObject* sender);
    void InputRangeLMDComboBoxChange(QObject* sender);
    void CommonMeasuringModeLMDComboBoxChange(QObject* sender);
    void LMDComboBoxChange(QObject* sender);
    void CorrectionModeTextEdited(const QString& text); // typing into "Режим работы"

    // ---- Settings procedures (app/MainFormSettings.cpp) -----------------
    // Opens the worker's accessor, creating the file with defaults when it is
    // missing; report() shows a worker message. Null on failure.
    std::unique_ptr<TSettingsFile> OpenSettingsFile(const std::function<void(const QString&)>& report);
    bool LoadSettings(TSettingsFile* accessor);
    bool LoadModuleSettings(TSettingsFile* accessor);
    bool LoadCorrectionSettings(TSettingsFile* accessor);
    void SaveIniFile(const QString& path);
    bool WriteApplicationSettings(TSettingsFile* accessor);
    bool WriteModuleSettings(TSettingsFile* accessor);
    bool CreateDefaultIniFile(const QString& path);
    bool WriteDefaultApplicationSettings(TSettingsFile* accessor);
    bool WriteDefaultModuleSettings(TSettingsFile* accessor);
    void SaveSettingsButtonClick();
    void SaveCurrentSettingsClick();
    void SaveDefaultSettingsClick();
    void FormClose();

    // ---- Discovery (app/MainFormDiscovery.cpp) ---------------------------
    void OnStartInitDevicesThread(quint32 action, quint32 useStoredSelection);
    void OnInitDevicesThreadTerminate();
    // Waits for (or ends) a running discovery run before the window goes away.
    void WaitForDiscoveryEnd();

    // ---- The detection worker's view (app/MainFormDiscovery.cpp) ---------
    TDeviceState& DeviceState() override { return Device; }
    void HoldHandlers(bool held) override;
    void StopPopupMenuAutoOpen() override;
    void PrepareRun(TInitAndConfigThread& run) override;
    void RestoreWindowPosition(TInitAndConfigThread& run) override;
    void DetectAll(TInitAndConfigThread& run) override;
    bool OpenSelectedModule(TInitAndConfigThread& run) override;
    bool ChangeCrate(const std::function<void()>& fillSelector) override;
    void FillModuleSelector() override;
    void ShowDeviceStatus(TInitAndConfigThread& run, bool known) override;
    void LoadParameters(TInitAndConfigThread& run) override;
    void FinishRun(TInitAndConfigThread& run) override;

    // ---- Acquisition (app/MainFormAcquisition.cpp) -----------------------
    void StartThread();
    void OnStartMainThread();
    void StopThread();
    void OnMainThreadTerminate();
    // Keeps each frame's active-channel copy, read by the worker, current.
    bool ChannelActive(int ch) const override;

    // ---- The measurement worker's view (app/MainFormAcquisition.cpp) -----
    TWorkerFlags& WorkerFlags() override { return Flags; }
    void CaptureConfiguration(TMeasurementCycle& cycle) override;
    void ConfigureModule(TMeasurementCycle& cycle) override;
    void ShowChannelValues(const TBlockReading& reading) override;
    void ShowFrameLeds(const TBlockReading& reading) override;
    void FinishMeasurement(TMeasurementCycle& cycle) override;
    void ShowWorkerMessage(const WorkerMessageRequest& request, ButtonLayout layout) override;
    void PostEnd(QEvent* event) override;

protected:
    void customEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

public:
    // ---- Window fitting (app/) -------------------------------------------
    // Caption height and frame sizes of the platform's window decoration.
    struct FrameMetrics {
        int Caption = 0;
        int FrameWidth = 0;  // left and right border
        int FrameHeight = 0; // bottom border
    };
    FrameMetrics WindowFrame() const;
    QRect WorkArea() const;
    // Width cut from the module panel (the lamps right of Bevel3), D.
    int CutWidth() const;
    // The wheel rule at a given pointer position (FormMouseWheel uses the cursor).
    bool FormMouseWheelAt(int direction, const QPoint& globalPos);
    // True for a wheel turn that a selector of the window must not take: one
    // without the keyboard focus, and every one in the channel area.
    bool SelectorRefusesWheel(QObject* watched) const;
    // Return and keypad Enter press the focused button of the window, as Space does.
    bool PressFocusedButton(QObject* watched, const QKeyEvent* key);

private:
    // The window's steps that the workers' views run; they live beside the
    // window in app/ and reach its controls as its own functions do.
    // Declared here unqualified, so that this header needs none of theirs
    // (they include it: a circle otherwise).
    friend void FillModuleSelector(TMainForm& form);
    friend bool DetectAll(TMainForm& form, const QString& wantedCrateSerial, int16_t wantedSlot,
                          const std::function<void(const QString&)>& report,
                          const std::function<void(const std::function<void()>&)>& onWindow,
                          const std::function<bool()>& stopRequested);
    friend void ShowDeviceStatus(TMainForm& form, TInitAndConfigThread& worker, bool known);
    friend void ShowModuleLink(TMainForm& form, bool alive);
    friend bool ReopenChosenModule(TMainForm& form);
    friend void CaptureConfiguration(TMainForm& window, TMeasurementCycle& cycle);
    friend void ConfigureModule(TMainForm& window, TMeasurementCycle& cycle);
    friend void FinishMeasurement(TMainForm& window, TMeasurementCycle& cycle);
    friend void ShowChannelValues(TMainForm& window, const TBlockReading& reading);
    friend void ShowFrameLeds(TMainForm& window, const TBlockReading& reading);

    // ---- Top group -------------------------------------------------------
    QPushButton* FindDeviceLMDButton = nullptr;
    QFrame* SelectedModuleLMDSimplePanel = nullptr;
    QComboBox* QiraCratesComboBox = nullptr;
    TLed* QiraCrateStatusLed = nullptr;
    QComboBox* ModulesComboBox = nullptr;
    TLed* ModuleStatusLed = nullptr;
    QLabel* ModuleSerialNumberLMDLabel = nullptr;
    QLabel* ModuleFirmwareVersionLMDLabel = nullptr;
    QFrame* Bevel3 = nullptr;
    TLed* GeneratorStatusLed = nullptr;
    QFrame* StartMultimeterLMDSimplePanel = nullptr;
    QPushButton* StartMultimeterLMDSpeedButton = nullptr; // checkable: down = running
    QGroupBox* SaveIniSettingLMDGroupBox = nullptr;
    QCheckBox* AutoSaveSettingsLMDCheckBox = nullptr;
    QPushButton* SaveSettingsButton = nullptr;

    // ---- Pages -----------------------------------------------------------
    QTabWidget* MainLMDPageControl = nullptr;
    QWidget* MultimeterLMDTabSheet = nullptr;
    QWidget* VerificationLMDTabSheet = nullptr;
    QFrame* MultimeterLMDSimplePanel = nullptr;

    // ---- Measurement settings controls ----------------------------------
    QGroupBox* AdcGroupParsLMDGroupBox = nullptr;
    QFrame* ChannelCommonParsLMDSimplePanel = nullptr;
    QCheckBox* AllChannelsLMDCheckBox = nullptr; // tristate
    QComboBox* CommonInputRangeULMDComboBox = nullptr;
    QComboBox* CommonInputRangeRLMDComboBox = nullptr;
    QComboBox* CommonMeasuringModeLMDComboBox = nullptr;
    QFrame* CommonParsLMDSimplePanel = nullptr;
    QComboBox* AdcRateComboBox = nullptr;
    QLabel* KadrRateLMDLabel = nullptr;
    QComboBox* CorrectionModeLMDComboBox = nullptr;
    QFrame* AcquisitionTimeLMDSimplePanel = nullptr;
    QLabel* AcquisitionTimeLMDLabel = nullptr;
    QFrame* ComputationInfoLMDSimplePanel = nullptr;
    QLabel* ComputationModeLabLMDLabel = nullptr;
    QLabel* AmplitudeTypeLabLMDLabel = nullptr;
    QScrollArea* AdcIndividualParsLMDScrollBox = nullptr;
    QWidget* AdcIndividualParsLMDSimplePanel = nullptr;

    // ---- Hidden equipment strip -----------------------------------------
    QFrame* EquipmentLMDSimplePanel = nullptr;
    QLabel* VoltmeterValueLMDLabel = nullptr;
    QLabel* AmperemeterValueLMDLabel = nullptr;

    // ---- Context menu ----------------------------------------------------
    QMenu* PopupMenu = nullptr;
    QAction* RebootDeviceMenuItem = nullptr;
    QAction* SaveDefaultSettings = nullptr;
    QAction* SaveCurrentSettings = nullptr;
    bool PopupMenuAutoOpen = true; // cleared by the first detection run
    // The Escape handling; the worker message dialog switches it off while open.
    bool ShortCutHandlerEnabled = true;

    // ---- Window state ----------------------------------------------------
    bool HandlersBusy = true;
    uint8_t StartupPhase = 0;
    QString CaptionTemplate;

    // ---- State the rooms share (each record says which thread may touch it)
    TWorkerFlags Flags;
    TDeviceState Device;

    // ---- Tables ------------------------------------------------------------
    double InputRangesU[3] = {};
    double InputRangesR[3] = {};
    double AdcDividers[7] = {};

    // ---- Settings file ----------------------------------------------------
    std::unique_ptr<TSettingsFile> SettingsFile; // accessor of the last save
    QString SettingsDirectory;                   // empty: as the build's layout says

    // ---- Workers ---------------------------------------------------------
    TMainThread* MainThread = nullptr;         // the acquisition worker, at most one
    QPointer<TInitAndConfigThread> InitThread; // the running discovery worker, if any

    // ---- Controls and state only the window's own member functions use ----
    QGroupBox* ModuleDetectionLMDGroupBox = nullptr;
    QLabel* QiraCratesLabLMDLabel = nullptr;
    QLabel* ModulesLabLMDLabel = nullptr;
    QLabel* ModuleSerialNumberLabLMDLabel = nullptr;
    QLabel* ModuleFirmwareVersionLabLMDLabel = nullptr;
    TLed* MultimeterStatusLed = nullptr;
    QFrame* MainLMDSimplePanel = nullptr;
    QWidget* CorrectionFactorsLMDTabSheet = nullptr;
    QFrame* AdcStreamLMDSimplePanel = nullptr;
    QLabel* CommonInputRangeLabLMDComboBox = nullptr;
    QLabel* CommonMeasuringModeLabLMDComboBox = nullptr;
    QLabel* AdcRateLabLMDLabel = nullptr;
    QLabel* KadrRateLabLMDLabel = nullptr;
    QLabel* CorrectionModeLabLMDLabel = nullptr;
    QLabel* AcquisitionTimeLabLMDLabel = nullptr;
    QGroupBox* AdcIndividualParsLMDGroupBox = nullptr;
    QGroupBox* GeneratorLMDGroupBox = nullptr;
    QGroupBox* MultimeterLMDGroupBox = nullptr;
    QAction* AboutProgram = nullptr;
    QAction* ApplicationExit = nullptr;
    double AdcRates[7] = {};
    // The measurement controls show what a load put there (and the operator's
    // changes since). A detection resets them first, and when it fails they
    // stay reset: a save then must not store them over the operator's values.
    bool MeasurementSettingsLoaded = false;
    // The auto-save box shows the stored flag or the operator's own choice.
    bool AutoSaveSettingKnown = false;
    QList<HeldSettingsRequest> HeldSettingsRequests;
    QList<QWidget*> WorkerPages;
    uint16_t WorkerPageIndex = 0;

    bool Closed = false;
    FrameMetrics FittedFrame;
    // A key press reaches the filter once per receiver on its way up; it is
    // handled at its first sight only.
    const QEvent* LastKeyPress = nullptr;

    void BuildTopGroup();           // app/MainFormDesign.cpp
    void BuildPages();              // app/MainFormDesign.cpp
    void BuildEquipmentStrip();     // app/MainFormDesign.cpp
    void BuildContextMenu();        // app/MainFormDesign.cpp
    void BuildMeasurementGroups();  // app/MainFormMeasurementControls.cpp
    void WireHandlers();            // app/MainFormHandlers.cpp
    void WireMeasurementControls(); // app/MainFormMeasurementControls.cpp
    void SetupApplication();        // app/MainFormHandlers.cpp
    void FitWindow();               // app/MainFormFitting.cpp
    void LayoutClientArea();
    void LayoutMultimeterPanel(int width, int height);
    bool ChannelScrollBarNeeded() const;
    void FitChannelScrollBox();
    void RefitToDecoration();
    void HideUnusedParts();
    bool ShowHint(QWidget* widget, const QPoint& globalPos);
    void PageChanged(int index);
    int ShownPage = 0;
};
