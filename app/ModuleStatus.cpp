#include "app/ModuleStatus.h"

#include "app/HandlerGuard.h"
#include "app/ModuleEnumeration.h"
#include "app/PJVersionInfo.h"
#include "app/TInitAndConfigThread.h"
#include "app/TMainForm.h"
#include "ui/TLed.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>

#include <cstring>

namespace {

const QColor Green(0, 255, 0);
const QColor Red(255, 0, 0);
const QString Unknown = QStringLiteral("????????");

void SetLamp(TLed* led, bool known, bool good, const QString& hint) {
    if (!known)
        led->SetOff();
    else
        led->SetColor(good ? Green : Red);
    led->setToolTip(hint);
}

QString ModuleLampHint(const QString& name, bool known, bool good) {
    return !known ? QStringLiteral("Статус модуля '") + name + "'-> ???"
                  : QStringLiteral("Статус модуля '") + name + "' -> " + (good ? "OK" : "BAD");
}

} // namespace

void ShowModuleLink(TMainForm& form, bool alive) {
    TGuardHeld guard(form.HandlersBusy);
    QString name =
        FixedText(form.Device.ModuleControl.ModuleName, sizeof form.Device.ModuleControl.ModuleName);
    if (name.isEmpty())
        name = QStringLiteral("???");
    SetLamp(form.ModuleStatusLed, true, alive, ModuleLampHint(name, true, alive));
}

bool ReopenChosenModule(TMainForm& form) {
    TDeviceState& device = form.Device;
    const uint16_t c = device.SelectedCrateIndex;
    const bool known = c < 16 && device.SelectedModuleIndex[c] < 16;
    char expected[16] = {};
    if (known)
        std::memcpy(expected, device.ModuleSerials[c][device.SelectedModuleIndex[c]], 16);
    if (!OpenChosenModule(device))
        return false;
    // Another module in the slot (a crate server restarted with another set)
    // has other coefficients and settings: it is not measured under the old
    // one's name.
    if (known && std::memcmp(expected, device.ModuleControl.SerialNumber, 16) != 0) {
        CloseModuleIfOpen(device);
        device.ModuleState = 0;
        ShowModuleLink(form, false);
        form.ModuleSerialNumberLMDLabel->setText(Unknown);
        form.ModuleFirmwareVersionLMDLabel->setText(Unknown);
        return false;
    }
    device.ModuleLinkLost = false;
    ShowModuleLink(form, true);
    form.ModuleSerialNumberLMDLabel->setText(
        FixedText(device.ModuleControl.SerialNumber, sizeof device.ModuleControl.SerialNumber));
    form.ModuleFirmwareVersionLMDLabel->setText(FirmwareVersionText(device.ModuleControl.FirmwareVersion));
    return true;
}

QString VersionCaption(const QString& executablePath) {
    PJVersionInfo info;
    info.SetFileName(executablePath);
    if (!info.HaveInfo())
        return {};
    return QStringLiteral("KM808_viza - ") + QString::number(info.FileVersion[0]) + "." +
           QString::number(info.FileVersion[1]) + "." + QString::number(info.FileVersion[2]);
}

QString FirmwareVersionText(uint16_t version) {
    return QString::number(version >> 8) + "." + QString::number(version & 0xFF);
}

bool OpenSelectedModule(TMainForm& form, TInitAndConfigThread& worker) {
    TDeviceState& device = form.DeviceState();
    worker.ModuleNameText.clear();
    if (!OpenChosenModule(device))
        return false;
    worker.ModuleNameText =
        FixedText(device.ModuleControl.ModuleName, sizeof device.ModuleControl.ModuleName);
    device.ModuleState = 2;
    return true;
}

void ShowDeviceStatus(TMainForm& form, TInitAndConfigThread& worker, bool known) {
    TGuardHeld guard(form.HandlersBusy);
    const uint32_t action = worker.Action;
    const bool fullDetection = action == TInitAndConfigThread::FullDetection;

    const QString caption =
        known ? VersionCaption(QCoreApplication::applicationFilePath()) : form.CaptionTemplate;
    // The caption is the application's title too; an empty one stays empty.
    QCoreApplication::setApplicationName(caption);
    form.setWindowTitle(caption);

    if (!known && fullDetection)
        form.QiraCratesComboBox->clear();
    if (action == TInitAndConfigThread::FullDetection || action == TInitAndConfigThread::CrateChanged) {
        const bool good = form.Device.CrateState != 0;
        SetLamp(form.QiraCrateStatusLed, known, good,
                QStringLiteral("Статус QIRA крейта -> ") + (!known ? "???"
                                                            : good ? "OK"
                                                                   : "BAD"));
    }
    if (action >= TInitAndConfigThread::ModuleChanged && action <= TInitAndConfigThread::FullDetection) {
        if (!known && fullDetection)
            form.ModulesComboBox->clear();
        if (worker.ModuleNameText.isEmpty())
            worker.ModuleNameText = QStringLiteral("???");
        const QString& name = worker.ModuleNameText;
        const bool open = form.Device.ModuleState == 2;
        SetLamp(form.ModuleStatusLed, known, open, ModuleLampHint(name, known, open));
        if (known)
            form.Device.ModuleLinkLost = false;

        QLabel* serial = form.ModuleSerialNumberLMDLabel;
        QLabel* firmware = form.ModuleFirmwareVersionLMDLabel;
        if (known && open) {
            serial->setText(FixedText(form.Device.ModuleControl.SerialNumber,
                                      sizeof form.Device.ModuleControl.SerialNumber));
            firmware->setText(FirmwareVersionText(form.Device.ModuleControl.FirmwareVersion));
            firmware->repaint();
        } else {
            serial->setText(Unknown);
            QPalette p = firmware->palette();
            p.setColor(QPalette::Window, QApplication::palette().color(QPalette::Button));
            p.setColor(QPalette::WindowText, Qt::black);
            firmware->setPalette(p);
            firmware->setText(Unknown);
            if (known)
                firmware->repaint();
        }
    }
}
