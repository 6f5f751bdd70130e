#include "app/TrendHookup.h"

#include "trendwindow/TTrendWindow.h"
#include "ui/TKm808AdcChannelFrame.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>

namespace {

TTrendWindow* TrendOf(QWidget& window) {
    return window.findChild<TTrendWindow*>("TrendForm", Qt::FindDirectChildrenOnly);
}

} // namespace

void InstallTrend(QWidget* window, QMenu* popup, const std::array<TKm808AdcChannelFrame*, 16>& frames,
                  const std::function<QString()>& layoutDirectory) {
    auto* trend = new TTrendWindow(window);
    auto* open = new QAction("Тренд", window);
    open->setObjectName("TrendMenuItem");
    open->setShortcut(QKeySequence("Ctrl+T"));
    open->setShortcutContext(Qt::WindowShortcut);
    // Before the menu's last item, "О программе ...".
    QAction* about = window->findChild<QAction*>("AboutProgram", Qt::FindDirectChildrenOnly);
    popup->insertAction(about, open);
    popup->insertSeparator(about);
    window->addAction(open);
    // Opening a second window changes nothing the handlers guard, so it works
    // during a detection and a measurement alike.
    QObject::connect(open, &QAction::triggered, trend,
                     [trend, layoutDirectory] { trend->Open(layoutDirectory() + "/Km808_Viza_Trend.ini"); });
    for (TKm808AdcChannelFrame* frame : frames)
        frame->Value1LMDEdit->setToolTip("Тренд каналов: Ctrl+T");
}

void FeedTrend(QWidget& window, const TBlockReading& reading, const QString (&formats)[6],
               const std::function<TRecordOrigin()>& origin) {
    TTrendWindow* trend = TrendOf(window);
    if (!trend)
        return;
    trend->TakeReading(reading, formats, trend->Recorder().Recording() ? origin() : TRecordOrigin{});
}
