#include "app/TrendHookup.h"

#include "app/TMainForm.h"
#include "trend/TrendReading.h"
#include "trendwindow/TTrendWindow.h"
#include "ui/TKm808AdcChannelFrame.h"

#include <QAction>
#include <QFileInfo>
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
    if (TTrendWindow* window = TrendOf(&form))
        window->TakeBlock(TrendBlockOf(reading, form.Settings.ValueFormats));
}
