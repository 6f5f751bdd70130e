#include "app/TMainForm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>

#include <clocale>

#include "app/DesignedSizes.h"
#include "app/HandlerGuard.h"
#include "app/TMainThread.h"
#include "app/TrendHookup.h"
#include "settings/TSettingsFile.h"
#include "ui/DesignLook.h"
#include "ui/PlainText.h"
#include "ui/TLed.h"

namespace {

// Numbers are written and read with "." whatever the desktop's locale says.
void SetDecimalPoint() {
    QLocale::setDefault(QLocale::c());
    std::setlocale(LC_NUMERIC, "C");
}

} // namespace

TMainForm::TMainForm(QWidget* parent) : QWidget(parent) {
    HandlersBusy = true;
    setObjectName("MainForm");
    setWindowTitle("KM808");
    setFont(DesignLook::Arial(20));
    SetupApplication();
    BuildTopGroup();
    BuildPages();
    BuildContextMenu();
    resize(MainFormDesign::ClientWidth, MainFormDesign::ClientHeight);
    WireHandlers();
    WireMeasurementControls();
    SetDecimalPoint(); // FormCreate

    CaptionTemplate = "KM808_viza - ?.?.?";
    ModuleSerialNumberLMDLabel->setText("????????");
    ModuleFirmwareVersionLMDLabel->setText("??.??.??.??");
    ModuleStatusLed->setToolTip("Статус модуля -> ???");
    GeneratorStatusLed->setToolTip("Статус генератора -> ???");
    MultimeterStatusLed->setToolTip("Статус мультиметра -> ???");

    SetDecimalPoint();
    HandlersBusy = false;
    StartupPhase = 0;
    Device.SelectedCrateIndex = 0xFFFF;
    WorkerPages = {MultimeterLMDTabSheet};
    Flags.DiscoveryRunning = false;
    Flags.DiscoveryGate = true;
    Flags.WorkerRunning = false;
    Flags.WorkerGate = true;
    Flags.MeasurementIdle = true;
    HandlersBusy = true;

    SetupMeasurementControls();
    CreateChannelFrames();
    InstallTrend(this, PopupMenu, ChannelFrames, [this] { return QFileInfo(SettingsPath()).absolutePath(); });

    // Serials, names and the settings' texts are shown literally.
    PlainText::Install(this);
    // A wheel turn would give a selector the focus, and with it the turn.
    for (QComboBox* selector : findChildren<QComboBox*>())
        selector->setFocusPolicy(Qt::StrongFocus);

    MainLMDPageControl->setCurrentIndex(0);
    ShownPage = 0;
    // Single border without a maximise button: the size is fixed by the fitting.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    FitWindow();
    HideUnusedParts();
    FitChannelScrollBox();

    HandlersBusy = false;
    StartupPhase = 1;
    // The raised 3-D captions of group boxes and buttons have no counterpart
    // in this toolkit, so there is nothing to switch off.

    // Placed in the middle of the screen.
    const QRect screenRect = screen()->geometry();
    const FrameMetrics frame = WindowFrame();
    const int outerWidth = width() + 2 * frame.FrameWidth;
    const int outerHeight = height() + frame.Caption + 2 * frame.FrameHeight;
    move(screenRect.x() + (screenRect.width() - outerWidth) / 2,
         screenRect.y() + (screenRect.height() - outerHeight) / 2);
}

TMainForm::~TMainForm() {
    qApp->removeEventFilter(this);
}

void TMainForm::StartInitDevicesThread(quint32 action, quint32 useStoredSelection) {
    if (Flags.DiscoveryRunning || !Flags.DiscoveryGate)
        return;
    Flags.DiscoveryGate = false;
    QCoreApplication::postEvent(this, new TPrivateMessageEvent(TPrivateMessageEvent::StartInitDevices, action,
                                                               useStoredSelection ? 1 : 0));
}

void TMainForm::customEvent(QEvent* event) {
    if (event->type() == TPrivateMessageEvent::StartInitDevices) {
        auto* message = static_cast<TPrivateMessageEvent*>(event);
        OnStartInitDevicesThread(message->WParam, message->LParam);
    } else if (event->type() == TPrivateMessageEvent::StartMainThread) {
        OnStartMainThread();
    } else if (event->type() == TMainThread::EndEvent) {
        OnMainThreadTerminate();
    } else {
        QWidget::customEvent(event);
    }
}

void TMainForm::closeEvent(QCloseEvent* event) {
    if (!Closed) {
        Closed = true;
        WaitForDiscoveryEnd();
        FormClose();
    }
    event->accept();
}

void TMainForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    FormShow();
    RefitToDecoration();
    // Not every platform reports a resize after showing; the first placement
    // must happen all the same (FormResize acts once).
    QTimer::singleShot(0, this, [this] { FormResize(); });
}

void TMainForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    RefitToDecoration();
    FormResize();
}

void TMainForm::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    RefitToDecoration();
}

void TMainForm::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        SetDecimalPoint(); // FormActivate
    QWidget::changeEvent(event);
}

void TMainForm::FormShow() {
    THandlerGuard guard(HandlersBusy);
    if (!guard.Owned)
        return;
    if (StartupPhase == 1)
        StartupPhase = 2;
}

void TMainForm::FormResize() {
    THandlerGuard guard(HandlersBusy);
    if (!guard.Owned || StartupPhase != 2)
        return;
    const QRect area = WorkArea();
    move(x(), (area.height() - frameGeometry().height()) / 2);
    StartupPhase = 3;
    StartInitDevicesThread(Detection::FullDetection, Detection::StoredSelection);
}
