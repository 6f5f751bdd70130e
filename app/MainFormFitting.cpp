// Fitting the window to the screen: the module panel loses the lamps of the
// hidden equipment, the window loses the height of the equipment strip (or is
// cut to the work area) and the channel area gets a scroll bar when it no
// longer fits.
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QWindow>

#include "app/DesignedSizes.h"
#include "app/TMainForm.h"
#include "app/TPageControl.h"
#include "ui/TLed.h"

using namespace MainFormDesign;

TMainForm::FrameMetrics TMainForm::WindowFrame() const {
    // Once the window is on the screen its decoration is a fact of the
    // platform; before that only the style's figures for a caption and a
    // frame are known (window managers on X11 add their frame when mapping).
    if (QWindow* window = windowHandle(); window && window->handle() && isVisible()) {
        const QMargins m = window->frameMargins();
        return {m.top() - m.bottom(), m.left(), m.bottom()};
    }
    const int frame = style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, this);
    return {style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this), frame, frame};
}

void TMainForm::RefitToDecoration() {
    // Window managers add their frame after mapping; until the platform
    // reports a decoration the construction's estimate stands, which keeps the
    // window inside the work area.
    if (!isVisible())
        return;
    const FrameMetrics frame = WindowFrame();
    const bool known = frame.Caption != 0 || frame.FrameWidth != 0 || frame.FrameHeight != 0;
    if (!known || (frame.Caption == FittedFrame.Caption && frame.FrameWidth == FittedFrame.FrameWidth &&
                   frame.FrameHeight == FittedFrame.FrameHeight))
        return;
    FitWindow();
    FitChannelScrollBox();
}

QRect TMainForm::WorkArea() const {
    const QScreen* s = screen();
    return s ? s->availableGeometry() : QRect();
}

int TMainForm::CutWidth() const {
    return ModulePanelWidth - Bevel3Left - 1;
}

void TMainForm::LayoutClientArea() {
    ModuleDetectionLMDGroupBox->setGeometry(0, 0, width(), TopGroupHeight);
    MainLMDSimplePanel->setGeometry(0, TopGroupHeight, width(), height() - TopGroupHeight);
    MainLMDPageControl->setGeometry(MainLMDSimplePanel->rect());
}

void TMainForm::LayoutMultimeterPanel(int width, int height) {
    MultimeterLMDSimplePanel->resize(width, height);
    const int inner = width - 2;
    const int equipment = EquipmentLMDSimplePanel->isHidden() ? 0 : EquipmentHeight;
    const int stream = height - 2 - equipment;
    AdcStreamLMDSimplePanel->setGeometry(1, 1, inner, stream);
    EquipmentLMDSimplePanel->setGeometry(1, 1 + stream, inner, EquipmentHeight);
    AdcGroupParsLMDGroupBox->setGeometry(0, 0, inner, CommonGroupHeight);
    AdcIndividualParsLMDGroupBox->setGeometry(0, CommonGroupHeight, inner, stream - CommonGroupHeight);
    const int captionSpace = 28;
    AdcIndividualParsLMDScrollBox->setGeometry(4, captionSpace, inner - 8,
                                               AdcIndividualParsLMDGroupBox->height() - captionSpace - 4);
}

void TMainForm::FitWindow() {
    FittedFrame = WindowFrame();
    const FrameMetrics& f = FittedFrame;
    const int d = CutWidth();
    SelectedModuleLMDSimplePanel->resize(ModulePanelWidth - d, SelectedModuleLMDSimplePanel->height());
    StartMultimeterLMDSimplePanel->move(StartPanelLeft - d, StartMultimeterLMDSimplePanel->y());
    SaveIniSettingLMDGroupBox->move(SettingsGroupLeft - d, SaveIniSettingLMDGroupBox->y());

    // Outer height H and width as the decorated window; Qt sizes the client area.
    const QRect area = WorkArea();
    int outerHeight = f.Caption + ClientHeight + 2 * f.FrameHeight - EquipmentHeight;
    if (area.height() < outerHeight)
        outerHeight = area.height();
    const int outerWidth = ClientWidth + 2 * f.FrameWidth - d;
    setFixedSize(outerWidth - 2 * f.FrameWidth, outerHeight - f.Caption - 2 * f.FrameHeight);
    LayoutClientArea();

    const QRect page = static_cast<TPageControl*>(MainLMDPageControl)->PageRect();
    int panelHeight = MultimeterPanelHeight - EquipmentHeight;
    if (page.height() < panelHeight)
        panelHeight = page.height() - 10;
    const int panelWidth = MultimeterPanelWidth;
    MultimeterLMDSimplePanel->move((page.width() - panelWidth) / 2, (page.height() - panelHeight) / 2 + 1);
    LayoutMultimeterPanel(panelWidth, panelHeight);
}

void TMainForm::HideUnusedParts() {
    Bevel3->hide();
    GeneratorStatusLed->hide();
    MultimeterStatusLed->hide();
    AcquisitionTimeLMDSimplePanel->hide();
    ComputationInfoLMDSimplePanel->hide();
    const int shift = (AcquisitionTimeLMDSimplePanel->width() + ComputationInfoLMDSimplePanel->width()) / 2;
    for (QWidget* panel : {static_cast<QWidget*>(ChannelCommonParsLMDSimplePanel),
                           static_cast<QWidget*>(CommonParsLMDSimplePanel)})
        panel->move(panel->x() + shift, panel->y());
    EquipmentLMDSimplePanel->hide();
    GeneratorLMDGroupBox->hide();
    MultimeterLMDGroupBox->hide();
    MainLMDPageControl->setTabVisible(MainLMDPageControl->indexOf(CorrectionFactorsLMDTabSheet), false);
    MainLMDPageControl->setTabVisible(MainLMDPageControl->indexOf(VerificationLMDTabSheet), false);
    LayoutMultimeterPanel(MultimeterLMDSimplePanel->width(), MultimeterLMDSimplePanel->height());
}

bool TMainForm::ChannelScrollBarNeeded() const {
    // Decided from the sizes, since a hidden scroll area has not laid out its bars yet.
    const QScrollArea* box = AdcIndividualParsLMDScrollBox;
    return box->height() - 2 * box->frameWidth() < AdcIndividualParsLMDSimplePanel->minimumHeight();
}

void TMainForm::FitChannelScrollBox() {
    if (!ChannelScrollBarNeeded())
        return;
    const int s = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, AdcIndividualParsLMDScrollBox);
    const FrameMetrics& f = FittedFrame;
    const int minimumWidth = width() + 2 * f.FrameWidth;
    if (minimumWidth < MultimeterLMDSimplePanel->width() + 2 * f.FrameWidth + s + 10) {
        setFixedWidth(ClientWidth + s - CutWidth());
        LayoutClientArea();
    }
    const int panelWidth = MultimeterLMDSimplePanel->width() + s;
    const QRect page = static_cast<TPageControl*>(MainLMDPageControl)->PageRect();
    MultimeterLMDSimplePanel->move((page.width() - panelWidth) / 2, MultimeterLMDSimplePanel->y());
    LayoutMultimeterPanel(panelWidth, MultimeterLMDSimplePanel->height());
}
