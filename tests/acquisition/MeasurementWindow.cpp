#include "MeasurementWindow.h"
#include "FormControl.h"

#include "app/TMainThread.h"
#include "ui/TKm808AdcChannelFrame.h"
#include "ui/TLed.h"
#include "ui/WorkerMessageDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <limits>

QByteArray EmulatorConfig(const std::vector<EmulatedChannel>& channels, const QByteArray& moduleExtras,
                          bool fast) {
    QByteArray list;
    for (const EmulatedChannel& c : channels) {
        if (!list.isEmpty())
            list += ",";
        list += QString(R"({"channel": %1, "volts": %2, "noise_v": %3, "sine_v": %4, "sine_hz": %5)")
                    .arg(c.Channel)
                    .arg(c.Volts, 0, 'g', 17)
                    .arg(c.NoiseV, 0, 'g', 17)
                    .arg(c.SineV, 0, 'g', 17)
                    .arg(c.SineHz, 0, 'g', 17)
                    .toUtf8();
        if (c.Ohms > 0)
            list += QString(R"(, "ohms": %1)").arg(c.Ohms, 0, 'g', 17).toUtf8();
        list += "}";
    }
    QByteArray extras = moduleExtras.isEmpty() ? QByteArray() : ", " + moduleExtras;
    return R"({"pace": ")" + QByteArray(fast ? "fast" : "realtime") +
           R"(", "seed": 7, "crates": [{"serial": "QR000001", "slots": [
             {"slot": 3, "type": "KM808", "name": "KM808", "serial": "KM0000301", "firmware": 261,
              "channels": [)" +
           list + "]" + extras + "}]}]}";
}

MeasurementWindow::MeasurementWindow(const QByteArray& emulatorConfig) {
    Emulator = std::make_unique<EmulatorProcess>(emulatorConfig);
    if (!Emulator->Started()) {
        Failure = Emulator->Error;
        return;
    }
    WorkerMessageDialog::SetShownObserver([this](QMessageBox& box) {
        Messages << box.text();
        QMetaObject::invokeMethod(
            &box, [&box] { box.accept(); }, Qt::QueuedConnection);
    });
    Form = new TMainForm;
    Form->SetSettingsDirectory(SettingsDir.path());
    Form->show();
    const bool opened = QTest::qWaitFor(
        [this] { return Form->DeviceState().ModuleState == 2 && !Form->WorkerFlags().DiscoveryRunning; },
        30000);
    if (!opened)
        Failure = "the module did not open: " + Messages.join(" | ");
}

MeasurementWindow::~MeasurementWindow() {
    if (Form != nullptr) {
        Form->StopThread();
        Form->close();
        delete Form;
    }
    WorkerMessageDialog::SetShownObserver({});
}

void MeasurementWindow::Configure(const MeasurementSetup& s) {
    Form->HoldHandlers(true);
    Control<QComboBox>(*Form, "CommonMeasuringModeLMDComboBox")->setCurrentIndex(s.Mode);
    Control<QComboBox>(*Form, "AdcRateComboBox")->setCurrentIndex(s.RateIndex);
    Control<QComboBox>(*Form, "CorrectionModeLMDComboBox")->setCurrentIndex(s.Correction);
    for (int ch = 0; ch < 16; ++ch) {
        TKm808AdcChannelFrame* f = Form->ChannelFrames[ch];
        const bool active = std::find(s.Active.begin(), s.Active.end(), ch) != s.Active.end();
        f->ChannelNumberLMDCheckBox->setCheckState(active ? Qt::Checked : Qt::Unchecked);
        f->InputRangeULMDComboBox->setCurrentIndex(s.RangeU[ch]);
        f->InputRangeRLMDComboBox->setCurrentIndex(s.RangeR[ch]);
        Form->ApplyChannelMeasuringMode(ch, s.Mode);
    }
    Form->Settings.ComputationMethod = s.Method;
    Form->Settings.AcquisitionTime = s.AcquisitionTime;
    for (int i = 0; i < 4; ++i)
        Form->Settings.MinSamplesPerChannel[i] = s.MinSamples[i];
    for (int i = 0; i < 6; ++i)
        Form->Settings.ValueFormats[i] = s.Formats[i];
    Form->HoldHandlers(false);
}

void MeasurementWindow::PressStart() {
    Control<QPushButton>(*Form, "StartMultimeterLMDSpeedButton")->setChecked(false);
    Control<QPushButton>(*Form, "StartMultimeterLMDSpeedButton")->click();
}

void MeasurementWindow::PressStop() {
    Control<QPushButton>(*Form, "StartMultimeterLMDSpeedButton")->setChecked(true);
    Control<QPushButton>(*Form, "StartMultimeterLMDSpeedButton")->click();
}

bool MeasurementWindow::WaitIdle(int timeoutMs) {
    return QTest::qWaitFor(
        [this] {
            return Form->WorkerFlags().MeasurementIdle &&
                   !Control<QPushButton>(*Form, "StartMultimeterLMDSpeedButton")->isChecked();
        },
        timeoutMs);
}

bool MeasurementWindow::WaitBlocks(int blocks, int timeoutMs) {
    // Every block turns the first active channel's lamp off, then green again.
    // Each change is one synchronous call from the worker, so looking after
    // every round of events sees all of them.
    TKm808AdcChannelFrame* frame = nullptr;
    for (TKm808AdcChannelFrame* f : Form->ChannelFrames)
        if (f->IsChannelActive()) {
            frame = f;
            break;
        }
    if (frame == nullptr)
        return false;
    QTimer tick;
    tick.start(20);
    QDeadlineTimer deadline(timeoutMs);
    int seen = 0;
    bool wasOff = !frame->FlashLed->IsOn();
    while (seen < blocks && Messages.isEmpty() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const bool on = frame->FlashLed->IsOn();
        if (!on)
            wasOff = true;
        else if (wasOff) {
            wasOff = false;
            ++seen;
        }
    }
    return seen >= blocks;
}

QString MeasurementWindow::ValueText(int ch) const {
    return Form->ChannelFrames[ch]->Value1LMDEdit->text();
}

double MeasurementWindow::Value(int ch) const {
    bool ok = false;
    const double v = ValueText(ch).toDouble(&ok);
    return ok ? v : std::numeric_limits<double>::quiet_NaN();
}

QString MeasurementWindow::ButtonText() const {
    return Control<QPushButton>(*Form, "StartMultimeterLMDSpeedButton")->text();
}

bool MeasurementWindow::ButtonDown() const {
    return Control<QPushButton>(*Form, "StartMultimeterLMDSpeedButton")->isChecked();
}
