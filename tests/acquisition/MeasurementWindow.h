// A main window against an emulator for the measurement tests: waits for the
// first detection, sets the measurement controls as an operator would leave
// them, starts and stops measurements and collects the worker messages.
#pragma once

#include "EmulatorProcess.h"
#include "app/TMainForm.h"

#include <QByteArray>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <vector>

// One channel of an emulated KM808 (JSON fragment of the emulator's set-up).
struct EmulatedChannel {
    int Channel; // 1..16
    double Volts;
    double Ohms = 0; // 0: open input
    double NoiseV = 0;
    double SineV = 0;
    double SineHz = 0;
};

// The emulator's set-up: one crate, one KM808 in slot 3, fast pace unless told.
QByteArray EmulatorConfig(const std::vector<EmulatedChannel>& channels, const QByteArray& moduleExtras = {},
                          bool fast = true);

struct MeasurementSetup {
    int Mode = 0;       // common measuring mode: 0 voltage, 1 resistance
    int RateIndex = 4;  // 1000 Hz
    int Correction = 0; // 0 initial, 1 continuous auto-calibration
    std::vector<int> Active{0};
    std::vector<int> RangeU = std::vector<int>(16, 0);
    std::vector<int> RangeR = std::vector<int>(16, 0);
    QString Method = "sum";
    double AcquisitionTime = 0.1;
    int MinSamples[4] = {1, 1, 1, 1};
    QString Formats[6] = {"0.000", "0.000", "0.000", "0.000", "0.000", "0.000"};
};

class MeasurementWindow {
public:
    explicit MeasurementWindow(const QByteArray& emulatorConfig);
    ~MeasurementWindow();

    // Empty when the emulator runs and the module is open; otherwise why not.
    QString Failure;

    void Configure(const MeasurementSetup& setup);
    void PressStart();                    // the button goes down: a measurement starts
    void PressStop();                     // the button comes up: the measurement stops
    bool WaitIdle(int timeoutMs = 20000); // the stop phase has run
    // Waits until `blocks` more rounds of values have been shown.
    bool WaitBlocks(int blocks, int timeoutMs = 20000);
    QString ValueText(int ch) const;
    double Value(int ch) const;
    QString ButtonText() const;
    bool ButtonDown() const;

    std::unique_ptr<EmulatorProcess> Emulator;
    TMainForm* Form = nullptr;
    QStringList Messages; // worker messages shown, in order

private:
    QTemporaryDir SettingsDir;
};
