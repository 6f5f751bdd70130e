#include "app/TrendHookup.h"

#include "app/TMainForm.h"
#include "trendwindow/TTrendWindow.h"
#include "ui/TKm808AdcChannelFrame.h"

#include <QAction>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>

namespace {

TTrendWindow* TrendOf(TMainForm* form) {
    return form->findChild<TTrendWindow*>("TrendForm", Qt::FindDirectChildrenOnly);
}

} // namespace

void InstallTrend(TMainForm* form) {
    auto* window = new TTrendWindow(form);
    auto* open = new QAction("Тренд", form);
    open->setObjectName("TrendMenuItem");
    open->setShortcut(QKeySequence("Ctrl+T"));
    open->setShortcutContext(Qt::WindowShortcut);
    form->PopupMenu->insertAction(form->AboutProgram, open);
    form->PopupMenu->insertSeparator(form->AboutProgram);
    form->addAction(open);
    // Opening a second window changes nothing the handlers guard, so it works
    // during a detection and a measurement alike.
    QObject::connect(open, &QAction::triggered, window, [form, window] {
        window->Open(QFileInfo(form->SettingsPath()).absolutePath() + "/Km808_Viza_Trend.ini");
    });
    for (TKm808AdcChannelFrame* frame : form->ChannelFrames)
        frame->Value1LMDEdit->setToolTip("Тренд каналов: Ctrl+T");
}

void FeedTrend(TMainForm& form, const TBlockReading& reading) {
    TTrendWindow* window = TrendOf(&form);
    if (!window)
        return;
    TRecordOrigin origin;
    if (window->Recorder().Recording()) {
        const TDeviceState& device = form.Device;
        const int crate = device.SelectedCrateIndex;
        if (crate < 16) {
            origin.Crate = QString::fromLatin1(device.CrateSerials[crate],
                                               int(qstrnlen(device.CrateSerials[crate], 16)));
            origin.Slot = device.ModuleSlots[crate][device.SelectedModuleIndex[crate] & 15];
        }
        origin.Serial = form.ModuleSerialNumberLMDLabel->text();
        const int rate = form.AdcRateComboBox->currentIndex();
        origin.RateHz = rate >= 0 && rate < 7 ? form.AdcRates[rate] : 0.0;
        origin.Correction = form.CorrectionModeLMDComboBox->currentText();
        origin.Program = form.windowTitle();
    }
    window->TakeReading(reading, form.Settings.ValueFormats, origin);
}
