// The window's handlers and the application-wide key, wheel and hint handling.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCursor>
#include <QHelpEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSvgRenderer>
#include <QTabWidget>
#include <QToolTip>
#include <QWheelEvent>
#include <QWindow>

#include "app/ApplicationStyle.h"
#include "app/HandlerGuard.h"
#include "app/ModuleEnumeration.h"
#include "app/TMainForm.h"
#include "ui/TKm808AdcChannelFrame.h"

// The icon lives in the core library, whose resources are not linked in by themselves.
static void InitIconResource() {
    Q_INIT_RESOURCE(KM808_Viza);
}

namespace {

QIcon ApplicationIcon() {
    InitIconResource();
    QSvgRenderer svg(QStringLiteral(":/APPL_ICON"));
    QIcon icon;
    if (!svg.isValid())
        return icon;
    for (int side : {16, 24, 32, 48, 64, 128}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        svg.render(&p);
        icon.addPixmap(pixmap);
    }
    return icon;
}

QWidget* HintWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->inherits("QTipLabel") && w->isVisible())
            return w;
    return nullptr;
}

} // namespace

void TMainForm::SetupApplication() {
    if (!qobject_cast<TApplicationStyle*>(QApplication::style()))
        QApplication::setStyle(new TApplicationStyle(QApplication::style()->name()));
    QPalette hint = QToolTip::palette();
    hint.setColor(QPalette::ToolTipBase, QColor(255, 255, 164));
    hint.setColor(QPalette::ToolTipText, Qt::black);
    QToolTip::setPalette(hint);
    QFont hintFont("Courier New");
    hintFont.setPointSize(12);
    hintFont.setBold(true);
    QToolTip::setFont(hintFont);
    qApp->installEventFilter(this);
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        for (TKm808AdcChannelFrame* frame : ChannelFrames)
            if (frame)
                frame->ApplicationActive = state == Qt::ApplicationActive;
    });
    const QIcon icon = ApplicationIcon();
    QApplication::setWindowIcon(icon);
    setWindowIcon(icon);
}

void TMainForm::WireHandlers() {
    connect(FindDeviceLMDButton, &QPushButton::clicked, this, [this] { FindDeviceLMDButtonClick(); });
    connect(StartMultimeterLMDSpeedButton, &QPushButton::clicked, this,
            [this] { StartLMDSpeedButtonClick(); });
    connect(QiraCratesComboBox, &QComboBox::currentIndexChanged, this,
            [this] { QiraCratesComboBoxChange(); });
    connect(ModulesComboBox, &QComboBox::currentIndexChanged, this, [this] { ModulesComboBoxChange(); });
    connect(AutoSaveSettingsLMDCheckBox, &QCheckBox::stateChanged, this,
            [this] { AutoSaveSettingsLMDCheckBoxChange(); });
    connect(SaveSettingsButton, &QPushButton::clicked, this, [this] { SaveSettingsButtonClick(); });
    connect(SaveDefaultSettings, &QAction::triggered, this, [this] { SaveDefaultSettingsClick(); });
    connect(SaveCurrentSettings, &QAction::triggered, this, [this] { SaveCurrentSettingsClick(); });
    connect(ApplicationExit, &QAction::triggered, this, [this] { ApplicationExitClick(); });
    connect(MainLMDPageControl, &QTabWidget::currentChanged, this, [this](int index) { PageChanged(index); });
}

void TMainForm::FindDeviceLMDButtonClick() {
    THandlerGuard guard(HandlersBusy);
    if (!guard.Owned)
        return;
    StopThread();
    MeasurementSettingsLoaded = false;
    AllChannelsLMDCheckBox->setCheckState(Qt::Unchecked);
    CommonInputRangeULMDComboBox->setCurrentIndex(-1);
    CommonInputRangeRLMDComboBox->setCurrentIndex(-1);
    CommonMeasuringModeLMDComboBox->setCurrentIndex(-1);
    AdcRateComboBox->setCurrentIndex(-1);
    for (int ch = 0; ch < 16; ++ch)
        ResetChannelFrame(ch);
    StartInitDevicesThread(Detection::FullDetection, Detection::OperatorSelection);
}

void TMainForm::StartLMDSpeedButtonClick() {
    THandlerGuard guard(HandlersBusy);
    if (!guard.Owned)
        return;
    StopThread();
    if (MainLMDPageControl->currentIndex() == 0 && StartMultimeterLMDSpeedButton->isChecked())
        StartThread();
}

void TMainForm::QiraCratesComboBoxChange() {
    THandlerGuard guard(HandlersBusy);
    if (!guard.Owned)
        return;
    const int index = QiraCratesComboBox->currentIndex();
    if (index < 0 || index == Device.SelectedCrateIndex)
        return;
    StopThread();
    ClearChannelValues();
    Device.SelectedCrateIndex = uint16_t(index);
    StartInitDevicesThread(Detection::CrateChanged, Detection::OperatorSelection);
}

void TMainForm::ModulesComboBoxChange() {
    THandlerGuard guard(HandlersBusy);
    if (!guard.Owned)
        return;
    const int crate = QiraCratesComboBox->currentIndex();
    const int module = ModulesComboBox->currentIndex();
    // Indices outside the tables can only come from a selector the program
    // has not filled yet.
    if (crate < 0 || crate >= 16 || module < 0 || module >= 16 || Device.SelectedCrateIndex >= 16)
        return;
    // The open module is the chosen one when its index is and its serial
    // shows; two modules may report the same serial, so the text alone cannot
    // tell them apart. Read as the label was filled, so a serial outside
    // ASCII still matches.
    const char* serial = Device.ModuleSerials[crate][module];
    if (crate == Device.SelectedCrateIndex && module == Device.SelectedModuleIndex[crate] &&
        FixedText(serial, 16) == ModuleSerialNumberLMDLabel->text())
        return;
    StopThread();
    ClearChannelValues();
    Device.SelectedModuleIndex[Device.SelectedCrateIndex] = uint16_t(module);
    StartInitDevicesThread(Detection::ModuleChanged, Detection::OperatorSelection);
}

void TMainForm::AutoSaveSettingsLMDCheckBoxChange() {
    THandlerGuard guard(HandlersBusy);
    if (!guard.Owned)
        return;
    AutoSaveSettingKnown = true;
    SaveSettingsButton->setEnabled(!AutoSaveSettingsLMDCheckBox->isChecked());
}

void TMainForm::ApplicationExitClick() {
    HandlersBusy = false;
    close();
}

bool TMainForm::MainLMDPageControlChangingEx(int newPage) {
    THandlerGuard guard(HandlersBusy);
    if (!guard.Owned)
        return true;
    if (Device.ModuleState != 2) {
        MainLMDPageControl->setEnabled(true);
        HandlersBusy = false;
        QMessageBox(QMessageBox::Information, "Внимание!!!",
                    "Нет открытого модуля! Поэтому данная опция не доступна!", QMessageBox::Ok, this)
            .exec();
        return false;
    }
    if (newPage == 0) {
        StopThread();
        StartMultimeterLMDSimplePanel->show();
    }
    return true;
}

void TMainForm::PageChanged(int index) {
    if (HandlersBusy) {
        ShownPage = index;
        return;
    }
    // Back to the shown page first, so that a refused page never appears.
    HandlersBusy = true;
    MainLMDPageControl->setCurrentIndex(ShownPage);
    HandlersBusy = false;
    // The operator never reaches a page whose tab is hidden, whatever the way.
    if (!MainLMDPageControl->isTabVisible(index))
        return;
    if (!MainLMDPageControlChangingEx(index))
        return;
    HandlersBusy = true;
    MainLMDPageControl->setCurrentIndex(index);
    ShownPage = index;
    HandlersBusy = false;
}

bool TMainForm::ApplicationShortCut(int key) {
    if (key != Qt::Key_Escape)
        return false;
    if (HandlersBusy || Flags.DiscoveryRunning) {
        HandlersBusy = false;
        return true;
    }
    if (MainLMDPageControl->currentIndex() == 0 && !Flags.MeasurementIdle)
        StopThread();
    return false;
}

bool TMainForm::FormMouseWheel(int direction) {
    return FormMouseWheelAt(direction, QCursor::pos());
}

bool TMainForm::FormMouseWheelAt(int direction, const QPoint& globalPos) {
    QScrollArea* box = AdcIndividualParsLMDScrollBox;
    QScrollBar* bar = box->verticalScrollBar();
    const QWidget* under = QApplication::widgetAt(globalPos);
    // The bar belongs to the scroll box; the frames and the panel inside do not.
    if (!under || (under != box && under != box->viewport() && under != bar) || !bar->isVisible())
        return false;
    bar->setValue(bar->value() + direction);
    box->setFocus();
    return true;
}

bool TMainForm::SelectorRefusesWheel(QObject* watched) const {
    auto* selector = qobject_cast<QComboBox*>(watched);
    if (!selector || !isAncestorOf(selector))
        return false;
    // A selector merely under the pointer would change a setting, and stop
    // the measurement, without a click; in the channel area the wheel is the
    // list's, never a selector's.
    if (AdcIndividualParsLMDScrollBox->isAncestorOf(selector))
        return true;
    const QWidget* focus = QApplication::focusWidget();
    return !focus || (focus != selector && !selector->isAncestorOf(focus));
}

bool TMainForm::PressFocusedButton(QObject* watched, const QKeyEvent* key) {
    if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
        return false;
    if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
        return false;
    auto* button = qobject_cast<QPushButton*>(watched);
    if (!button || !button->hasFocus() || !button->isEnabled() || !isAncestorOf(button))
        return false;
    // Held down, the key presses the button once, as Space does.
    if (!key->isAutoRepeat())
        button->click();
    return true;
}

bool TMainForm::ShowHint(QWidget* widget, const QPoint& globalPos) {
    QString text = widget->toolTip();
    if (auto* menu = qobject_cast<QMenu*>(widget)) {
        const QAction* action = menu->actionAt(menu->mapFromGlobal(globalPos));
        text = action && action->toolTip() != action->text() ? action->toolTip() : QString();
    }
    if (text.isEmpty())
        return false;
    QToolTip::showText(globalPos, text, widget, QRect(), 2000);
    QWidget* tip = HintWindow();
    if (!tip)
        return true;
    const QScreen* s = QGuiApplication::screenAt(globalPos);
    const QRect area = s ? s->availableGeometry() : WorkArea();
    tip->setMaximumWidth(area.width());
    // Where the hint goes below the pointer, before any correction of the toolkit.
    QRect r(globalPos + QPoint(2, 16), tip->frameGeometry().size());
    const int bottom = area.y() + area.height();
    const int right = area.x() + area.width();
    if (r.y() + r.height() > bottom)
        r.moveTop(bottom - r.height() - 10);
    if (r.x() + r.width() > right)
        r.moveLeft(right - r.width() - 10);
    tip->move(r.topLeft());
    return true;
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyPress: {
        // A real press comes to its window first: whatever was marked before
        // is an earlier press, even at the same address.
        if (watched->isWindowType())
            LastKeyPress = nullptr;
        if (event != LastKeyPress) {
            LastKeyPress = event;
            const int key = static_cast<QKeyEvent*>(event)->key();
            const bool consumed = ShortCutHandlerEnabled && ApplicationShortCut(key);
            // A stop pumps events, and the release seen meanwhile cleared the
            // mark: the rest of this press's way must not run the handler again.
            LastKeyPress = event;
            if (consumed)
                return true;
        }
        if (PressFocusedButton(watched, static_cast<QKeyEvent*>(event)))
            return true;
        break;
    }
    case QEvent::KeyRelease:
        LastKeyPress = nullptr;
        break;
    case QEvent::Wheel: {
        if (SelectorRefusesWheel(watched))
            return true;
        auto* wheel = static_cast<QWheelEvent*>(event);
        const QPoint globalPos = wheel->globalPosition().toPoint();
        QScrollArea* box = AdcIndividualParsLMDScrollBox;
        if (watched == QApplication::widgetAt(globalPos)) {
            const int dy = wheel->angleDelta().y();
            if (dy != 0 && FormMouseWheelAt(dy > 0 ? -1 : 1, globalPos))
                return true;
        }
        // A wheel turn over a frame or a panel in the scroll box does not scroll it.
        if (watched == box || watched == box->viewport())
            return true;
        break;
    }
    case QEvent::ToolTip:
        if (auto* widget = qobject_cast<QWidget*>(watched);
            widget && ShowHint(widget, static_cast<QHelpEvent*>(event)->globalPos()))
            return true;
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void TMainForm::contextMenuEvent(QContextMenuEvent* event) {
    if (!PopupMenuAutoOpen)
        return;
    const QSize size = PopupMenu->sizeHint();
    PopupMenu->popup(event->globalPos() - QPoint(size.width() / 2, 0));
    event->accept();
}
