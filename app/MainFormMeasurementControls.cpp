// The measurement settings controls: the common parameters group, the channel
// frames' scroll box, the range and rate tables, spreading common choices to
// the frames and summarising the frames back.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>

#include "acquisition/ModuleTables.h"
#include "app/DesignedSizes.h"
#include "app/HandlerGuard.h"
#include "app/TMainForm.h"
#include "ui/DesignLook.h"
#include "ui/TCaptionCheckBox.h"
#include "ui/TKm808AdcChannelFrame.h"
#include "ui/TLed.h"

using namespace DesignLook;

namespace {

const QString NoValue = "--------";

QLabel* MakeLabel(QWidget* parent, const char* name, const QRect& geometry, const QString& text, int px,
                  bool framed = false) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setGeometry(geometry);
    label->setFont(Arial(px));
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(!framed);
    if (framed)
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    return label;
}

QComboBox* MakeSelector(QWidget* parent, const char* name, const QRect& geometry) {
    auto* box = new QComboBox(parent);
    box->setObjectName(name);
    box->setGeometry(geometry);
    return box;
}

QFrame* MakePanel(QWidget* parent, const char* name, const QRect& geometry) {
    auto* panel = new QFrame(parent);
    panel->setObjectName(name);
    panel->setGeometry(geometry);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    SetTextColor(panel, Qt::black);
    return panel;
}

QGroupBox* MakeGroup(QWidget* parent, const char* name, const QString& title) {
    auto* group = new QGroupBox(title, parent);
    group->setObjectName(name);
    group->setAlignment(Qt::AlignHCenter);
    group->setFont(Arial(20));
    SetTextColor(group, Maroon);
    return group;
}

void Inform(QWidget* parent, const QString& caption, const QString& text) {
    QMessageBox(QMessageBox::Information, caption, text, QMessageBox::Ok, parent).exec();
}

// A selector paints its text clipped at its arrow; where its widest item
// would lose letters there, the same face is made smaller for that selector.
void FitSelectorFont(QComboBox* box) {
    const QRect field = DesignLook::ComboPart(box, QStyle::SC_ComboBoxEditField);
    QFont font = box->font();
    auto widest = [box](const QFont& f) {
        qreal w = 0;
        for (int i = 0; i < box->count(); ++i)
            w = qMax(w, QFontMetricsF(f).horizontalAdvance(box->itemText(i)));
        return w;
    };
    // One pixel of the field is kept free at either end.
    while (font.pixelSize() > 8 && widest(font) + 2 > field.width())
        font.setPixelSize(font.pixelSize() - 1);
    if (font != box->font())
        box->setFont(font);
}

} // namespace

void TMainForm::BuildMeasurementGroups() {
    AdcGroupParsLMDGroupBox =
        MakeGroup(AdcStreamLMDSimplePanel, "AdcGroupParsLMDGroupBox", "Общие параметры");

    ChannelCommonParsLMDSimplePanel =
        MakePanel(AdcGroupParsLMDGroupBox, "ChannelCommonParsLMDSimplePanel", {1, 26, 265, 70});
    ChannelCommonParsLMDSimplePanel->setFont(Arial(18));
    QWidget* ccp = ChannelCommonParsLMDSimplePanel;
    auto* all = new TCaptionCheckBox(ccp);
    AllChannelsLMDCheckBox = all;
    all->setObjectName("AllChannelsLMDCheckBox");
    all->setTristate(true);
    all->setText("Все каналы");
    all->setGeometry(4, 4, 67, 62);
    all->setFont(Arial(16, true));
    CommonInputRangeLabLMDComboBox =
        MakeLabel(ccp, "CommonInputRangeLabLMDComboBox", {77, 3, 101, 32}, "Предел измерений", 13);
    CommonInputRangeULMDComboBox = MakeSelector(ccp, "CommonInputRangeULMDComboBox", {75, 37, 111, 29});
    CommonInputRangeRLMDComboBox = MakeSelector(ccp, "CommonInputRangeRLMDComboBox", {75, 37, 111, 29});
    // Both lie in one place; only the one of the chosen mode is shown.
    CommonInputRangeRLMDComboBox->hide();
    CommonMeasuringModeLabLMDComboBox =
        MakeLabel(ccp, "CommonMeasuringModeLabLMDComboBox", {189, 4, 72, 30}, "Режим измерений", 13);
    CommonMeasuringModeLMDComboBox = MakeSelector(ccp, "CommonMeasuringModeLMDComboBox", {188, 37, 74, 29});

    CommonParsLMDSimplePanel =
        MakePanel(AdcGroupParsLMDGroupBox, "CommonParsLMDSimplePanel", {266, 26, 528, 70});
    QWidget* cp = CommonParsLMDSimplePanel;
    AdcRateLabLMDLabel =
        MakeLabel(cp, "AdcRateLabLMDLabel", {9, 2, 113, 34}, "Частота преобра- зований АЦП, Гц", 13);
    AdcRateComboBox = MakeSelector(cp, "AdcRateComboBox", {5, 37, 118, 30});
    AdcRateComboBox->setFont(Arial(19));
    KadrRateLabLMDLabel = MakeLabel(cp, "KadrRateLabLMDLabel", {130, 5, 112, 30}, "Частота кадра, Гц", 13);
    KadrRateLMDLabel = MakeLabel(cp, "KadrRateLMDLabel", {127, 37, 116, 29}, "-----", 19, true);
    CorrectionModeLabLMDLabel =
        MakeLabel(cp, "CorrectionModeLabLMDLabel", {249, 5, 274, 30}, "Режим работы", 15);
    CorrectionModeLMDComboBox = MakeSelector(cp, "CorrectionModeLMDComboBox", {247, 37, 278, 30});
    CorrectionModeLMDComboBox->setFont(Arial(19));
    CorrectionModeLMDComboBox->setEditable(true);
    CorrectionModeLMDComboBox->setInsertPolicy(QComboBox::NoInsert);
    CorrectionModeLMDComboBox->addItems({"  Начальная автокалибровка", " Постоянная автокалибровка"});

    AcquisitionTimeLMDSimplePanel = MakePanel(AdcGroupParsLMDGroupBox, "AcquisitionTimeLMDSimplePanel",
                                              {794, 26, MainFormDesign::AcquisitionTimePanelWidth, 70});
    AcquisitionTimeLabLMDLabel = MakeLabel(AcquisitionTimeLMDSimplePanel, "AcquisitionTimeLabLMDLabel",
                                           {4, 2, 103, 34}, "Время сбора, мс", 13);
    AcquisitionTimeLMDLabel = MakeLabel(AcquisitionTimeLMDSimplePanel, "AcquisitionTimeLMDLabel",
                                        {4, 37, 103, 29}, "-----", 19, true);
    ComputationInfoLMDSimplePanel = MakePanel(AdcGroupParsLMDGroupBox, "ComputationInfoLMDSimplePanel",
                                              {905, 26, MainFormDesign::ComputationInfoPanelWidth, 70});
    ComputationModeLabLMDLabel = MakeLabel(ComputationInfoLMDSimplePanel, "ComputationModeLabLMDLabel",
                                           {3, 4, 40, 29}, "---", 17, true);
    ComputationModeLabLMDLabel->setFont(CourierNew(17, true));
    ComputationModeLabLMDLabel->setToolTip("Метод расчёта");
    AmplitudeTypeLabLMDLabel = MakeLabel(ComputationInfoLMDSimplePanel, "AmplitudeTypeLabLMDLabel",
                                         {3, 37, 40, 29}, "---", 17, true);
    AmplitudeTypeLabLMDLabel->setFont(CourierNew(17, true));
    AmplitudeTypeLabLMDLabel->setToolTip("Тип амплитуды");

    AdcIndividualParsLMDGroupBox =
        MakeGroup(AdcStreamLMDSimplePanel, "AdcIndividualParsLMDGroupBox", "Индивидуальные параметры");
    AdcIndividualParsLMDScrollBox = new QScrollArea(AdcIndividualParsLMDGroupBox);
    AdcIndividualParsLMDScrollBox->setObjectName("AdcIndividualParsLMDScrollBox");
    AdcIndividualParsLMDScrollBox->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    AdcIndividualParsLMDScrollBox->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    AdcIndividualParsLMDScrollBox->verticalScrollBar()->setTracking(true);
    AdcIndividualParsLMDScrollBox->setWidgetResizable(true);
    AdcIndividualParsLMDSimplePanel = new QWidget;
    AdcIndividualParsLMDSimplePanel->setObjectName("AdcIndividualParsLMDSimplePanel");
    AdcIndividualParsLMDSimplePanel->setMinimumSize(MainFormDesign::ChannelAreaWidth,
                                                    MainFormDesign::ChannelAreaHeight);
    AdcIndividualParsLMDSimplePanel->setFont(Arial(17));
    SetTextColor(AdcIndividualParsLMDSimplePanel, Qt::black);
    AdcIndividualParsLMDScrollBox->setWidget(AdcIndividualParsLMDSimplePanel);
}

void TMainForm::SetupMeasurementControls() {
    ComputationModeLabLMDLabel->setText("---");
    ComputationModeLabLMDLabel->setAutoFillBackground(true);
    AmplitudeTypeLabLMDLabel->setText("---");
    AmplitudeTypeLabLMDLabel->setAutoFillBackground(true);
    CorrectionModeLMDComboBox->setCurrentIndex(-1);
    AdcRateComboBox->setCurrentIndex(-1);
    AcquisitionTimeLMDLabel->setText("-----");
    KadrRateLMDLabel->setText("-----");

    std::copy(std::begin(ModuleTables::RangesU), std::end(ModuleTables::RangesU), InputRangesU);
    CommonInputRangeULMDComboBox->clear();
    for (double v : InputRangesU)
        CommonInputRangeULMDComboBox->addItem(QString(v > 9.99999 ? 3 : 4, ' ') + QString::number(v, 'f', 1) +
                                              " В");
    CommonInputRangeULMDComboBox->setMaxVisibleItems(3);

    std::copy(std::begin(ModuleTables::RangesR), std::end(ModuleTables::RangesR), InputRangesR);
    CommonInputRangeRLMDComboBox->clear();
    for (double v : InputRangesR)
        CommonInputRangeRLMDComboBox->addItem(QString(v > 999.99999 ? "" : " ") + QString::number(v, 'f', 1) +
                                              " Ом");
    CommonInputRangeRLMDComboBox->setMaxVisibleItems(3);

    CommonMeasuringModeLMDComboBox->clear();
    CommonMeasuringModeLMDComboBox->addItems({"  DC", "    R"});
    CommonMeasuringModeLMDComboBox->setMaxVisibleItems(2);

    for (int i = 0; i < ModuleTables::RateCount; ++i) {
        AdcDividers[i] = ModuleTables::AdcDividers[i];
        AdcRates[i] = ModuleTables::AdcRate(i);
    }
    AdcRateComboBox->clear();
    for (double rate : AdcRates) {
        const int pad = rate > 999.99999  ? 3
                        : rate > 99.99999 ? 4
                        : rate > 9.99999  ? 5
                        : rate > 0.99999  ? 6
                                          : 4;
        AdcRateComboBox->addItem(QString(pad, ' ') + QString::number(rate, 'f', 1));
    }
    AdcRateComboBox->setMaxVisibleItems(7);
    AdcRateComboBox->setCurrentIndex(-1);

    for (QComboBox* box : {CommonInputRangeULMDComboBox, CommonInputRangeRLMDComboBox,
                           CommonMeasuringModeLMDComboBox, AdcRateComboBox, CorrectionModeLMDComboBox})
        FitSelectorFont(box);

    AllChannelsLMDCheckBox->setCheckState(Qt::Unchecked);
    CommonInputRangeULMDComboBox->setCurrentIndex(-1);
    CommonInputRangeRLMDComboBox->setCurrentIndex(-1);
    CommonMeasuringModeLMDComboBox->setCurrentIndex(-1);
}

void TMainForm::CreateChannelFrames() {
    for (int k = 0; k < 2; ++k) {
        for (int j = 0; j < 8; ++j) {
            const int ch = 8 * k + j;
            auto* frame = new TKm808AdcChannelFrame(AdcIndividualParsLMDSimplePanel, ch, InputRangesU, 3,
                                                    InputRangesR, 3);
            ChannelFrames[ch] = frame;
            frame->setParent(AdcIndividualParsLMDSimplePanel);
            frame->setObjectName(QString("Km808AdcChannel%1Frame").arg(ch));
            const QRect panel = frame->Km808AdcChannelLMDSimplePanel->geometry();
            const int height = panel.top() + panel.height();
            const int width = panel.left() + panel.width();
            frame->setGeometry(width * k + 1, height * j + 2, width, height);
            frame->Value1LMDEdit->setEnabled(true);
            frame->Value1LabLMDLabel->setEnabled(true);
            frame->Value1LabLMDLabel->clear();
            connect(frame->ChannelNumberLMDCheckBox, &QCheckBox::stateChanged, this,
                    [this, box = frame->ChannelNumberLMDCheckBox] { EnaChannelLMDCheckBoxChange(box); });
            for (QComboBox* selector : {frame->InputRangeULMDComboBox, frame->InputRangeRLMDComboBox})
                connect(selector, &QComboBox::currentIndexChanged, this,
                        [this, selector] { InputRangeLMDComboBoxChange(selector); });
            FitSelectorFont(frame->InputRangeULMDComboBox);
            FitSelectorFont(frame->InputRangeRLMDComboBox);
            frame->DisableChannelFrame();
            ResetChannelFrame(ch);
            frame->show();
        }
    }
}

void TMainForm::WireMeasurementControls() {
    connect(AllChannelsLMDCheckBox, &QCheckBox::stateChanged, this,
            [this] { AllChannelsLMDCheckBoxChange(); });
    for (QComboBox* common : {CommonInputRangeULMDComboBox, CommonInputRangeRLMDComboBox})
        connect(common, &QComboBox::currentIndexChanged, this,
                [this, common] { CommonInputRangeLMDComboBoxChange(common); });
    connect(CommonMeasuringModeLMDComboBox, &QComboBox::currentIndexChanged, this,
            [this] { CommonMeasuringModeLMDComboBoxChange(CommonMeasuringModeLMDComboBox); });
    for (QComboBox* box : {AdcRateComboBox, CorrectionModeLMDComboBox})
        connect(box, &QComboBox::currentIndexChanged, this, [this, box] { LMDComboBoxChange(box); });
    // The field's own completion would show texts that are no mode.
    CorrectionModeLMDComboBox->setCompleter(nullptr);
    // What a key or a paste put into the field is told from the mode text
    // shown before; letters typed in quick succession add up to one search,
    // as in a list.
    connect(CorrectionModeLMDComboBox->lineEdit(), &QLineEdit::textEdited, this,
            [this, search = QString(), clock = QElapsedTimer()](const QString& text) mutable {
                const QComboBox* box = CorrectionModeLMDComboBox;
                const QString shown = box->itemText(box->currentIndex());
                qsizetype head = 0;
                while (head < shown.size() && head < text.size() && shown[head] == text[head])
                    ++head;
                qsizetype tail = 0;
                while (tail < shown.size() - head && tail < text.size() - head &&
                       shown[shown.size() - 1 - tail] == text[text.size() - 1 - tail])
                    ++tail;
                const QString typed = text.mid(head, text.size() - head - tail);
                const bool more = typed.size() == 1 && clock.isValid() &&
                                  clock.elapsed() < QApplication::keyboardInputInterval();
                search = more ? search + typed : typed;
                clock.start();
                CorrectionModeTextEdited(search);
            });
}

void TMainForm::CorrectionModeTextEdited(const QString& text) {
    // What is typed picks the mode it begins and is otherwise undone.
    QComboBox* box = CorrectionModeLMDComboBox;
    const QString typed = text.trimmed();
    if (!typed.isEmpty())
        for (int i = 0; i < box->count(); ++i)
            if (box->itemText(i).trimmed().startsWith(typed, Qt::CaseInsensitive)) {
                box->setCurrentIndex(i); // a new mode stops the measurement
                break;
            }
    box->lineEdit()->setText(box->itemText(box->currentIndex()));
}

void TMainForm::ResetChannelFrame(int ch) {
    TKm808AdcChannelFrame* f = ChannelFrames[ch];
    f->ChannelNumberLMDCheckBox->setCheckState(Qt::Unchecked);
    f->InputRangeULMDComboBox->setCurrentIndex(-1);
    f->InputRangeRLMDComboBox->setCurrentIndex(-1);
    f->MeasuringModeLMDLabel->clear();
    QPalette pal = f->Value1LMDEdit->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        pal.setColor(group, QPalette::Text, Lime);
    f->Value1LMDEdit->setPalette(pal);
    f->ChooseValueFace(QString());
    f->Value1LMDEdit->setText(NoValue);
    f->SetUpdateLamp(2);
}

// A box keeps its number only while the number still means what the title
// says: a reading of the other quantity, or of a channel switched off, goes,
// and with it its over-range colour and its lamp.
static void ClearChannelValue(TKm808AdcChannelFrame* f) {
    f->ChooseValueFace(QString());
    f->Value1LMDEdit->setText(NoValue);
    f->SetValueLook(TKm808AdcChannelFrame::TValueLook::Live);
    f->SetUpdateLamp(2);
}

void TMainForm::ClearChannelValues() {
    for (TKm808AdcChannelFrame* f : ChannelFrames)
        ClearChannelValue(f);
}

void TMainForm::ApplyChannelMeasuringMode(int ch, int mode) {
    TKm808AdcChannelFrame* f = ChannelFrames[ch];
    const bool checked = f->ChannelNumberLMDCheckBox->checkState() == Qt::Checked;
    const QString shownMode = f->MeasuringModeLMDLabel->text();
    const bool usable = mode == 0 || ch <= 7;
    if (!usable)
        f->DisableChannelControls(true);
    else if (checked)
        f->EnableChannelControls(true);
    else
        f->DisableChannelControls(false);

    const QString newMode = mode == 0 ? "DC" : mode == 1 && ch <= 7 ? "R" : QString();
    if (!checked || (!shownMode.isEmpty() && shownMode != newMode && (mode == 0 || mode == 1)))
        ClearChannelValue(f);
    if (mode == 0) {
        f->MeasuringModeLMDLabel->setText("DC");
        f->Value1LabLMDLabel->setText("Напряжение, мВ");
    } else if (mode == 1 && ch <= 7) {
        f->MeasuringModeLMDLabel->setText("R");
        f->Value1LabLMDLabel->setText("Сопротивление, Ом");
    } else {
        if (!checked || ch >= 8)
            f->Value1LabLMDLabel->clear();
        if (!checked && ch >= 8)
            f->MeasuringModeLMDLabel->clear();
    }
    f->ShowRangeSelectorForMode(mode);
}

void TMainForm::EnableChannelFrames() {
    const int mode = CommonMeasuringModeLMDComboBox->currentIndex();
    for (int ch = 0; ch < 16; ++ch) {
        TKm808AdcChannelFrame* f = ChannelFrames[ch];
        f->setEnabled(true);
        f->Km808AdcChannelLMDSimplePanel->setEnabled(true);
        f->ChannelNumberLMDCheckBox->setEnabled(true);
        ApplyChannelMeasuringMode(ch, mode);
    }
}

bool TMainForm::AllChannelsSameState(Qt::CheckState& state) const {
    state = ChannelFrames[0]->ChannelNumberLMDCheckBox->checkState();
    for (const TKm808AdcChannelFrame* f : ChannelFrames)
        if (f->ChannelNumberLMDCheckBox->checkState() != state)
            return false;
    return true;
}

bool TMainForm::AllRangeSelectorsSame(QComboBox* commonSelector, int& index) const {
    auto selector = [&](const TKm808AdcChannelFrame* f) -> QComboBox* {
        if (commonSelector == CommonInputRangeULMDComboBox)
            return f->InputRangeULMDComboBox;
        if (commonSelector == CommonInputRangeRLMDComboBox)
            return f->InputRangeRLMDComboBox;
        return nullptr;
    };
    if (!selector(ChannelFrames[0]))
        return false;
    index = selector(ChannelFrames[0])->currentIndex();
    for (const TKm808AdcChannelFrame* f : ChannelFrames)
        if (selector(f)->currentIndex() != index)
            return false;
    return true;
}

void TMainForm::AllChannelsLMDCheckBoxChange() {
    THandlerGuard guard(HandlersBusy);
    if (!guard.Owned)
        return;
    StopThread();
    const Qt::CheckState state = AllChannelsLMDCheckBox->checkState();
    const int mode = CommonMeasuringModeLMDComboBox->currentIndex();
    for (int ch = 0; ch < 16; ++ch) {
        ChannelFrames[ch]->ChannelNumberLMDCheckBox->setCheckState(state);
        ApplyChannelMeasuringMode(ch, mode);
    }
}

void TMainForm::EnaChannelLMDCheckBoxChange(QObject* sender) {
    THandlerGuard guard(HandlersBusy);
    if (!guard.Owned)
        return;
    auto* box = qobject_cast<QCheckBox*>(sender);
    if (!box) {
        Inform(this, "Ошибка EnaChannelLMDCheckBoxChange()!!!", "Не могу привести тип!");
        return;
    }
    StopThread();
    int ch = 0;
    while (ch < 16 && ChannelFrames[ch]->ChannelNumberLMDCheckBox != box)
        ++ch;
    if (ch == 16) {
        QMessageBox(QMessageBox::NoIcon, "Ошибка EnaChannelLMDCheckBoxChange()!",
                    "Не могу опознать управляюшщий элемент типа TLMDCheckBox!", QMessageBox::Ok, this)
            .exec();
        return;
    }
    Qt::CheckState state;
    AllChannelsLMDCheckBox->setCheckState(AllChannelsSameState(state) ? state : Qt::PartiallyChecked);
    ApplyChannelMeasuringMode(ch, CommonMeasuringModeLMDComboBox->currentIndex());
}

void TMainForm::CommonInputRangeLMDComboBoxChange(QObject* sender) {
    THandlerGuard guard(HandlersBusy);
    if (!guard.Owned)
        return;
    auto* common = qobject_cast<QComboBox*>(sender);
    if (!common)
        return;
    StopThread();
    const int index = common->currentIndex();
    for (TKm808AdcChannelFrame* f : ChannelFrames) {
        if (common == CommonInputRangeULMDComboBox)
            f->InputRangeULMDComboBox->setCurrentIndex(index);
        else if (common == CommonInputRangeRLMDComboBox)
            f->InputRangeRLMDComboBox->setCurrentIndex(index);
    }
}

void TMainForm::InputRangeLMDComboBoxChange(QObject* sender) {
    THandlerGuard guard(HandlersBusy);
    if (!guard.Owned)
        return;
    auto* box = qobject_cast<QComboBox*>(sender);
    if (!box) {
        Inform(this, "Ошибка InputRangeLMDComboBoxChange()!!!", "Не могу привести тип!");
        return;
    }
    StopThread();
    QComboBox* summary = nullptr;
    for (const TKm808AdcChannelFrame* f : ChannelFrames)
        if (f->InputRangeULMDComboBox == box)
            summary = CommonInputRangeULMDComboBox;
    if (!summary)
        for (const TKm808AdcChannelFrame* f : ChannelFrames)
            if (f->InputRangeRLMDComboBox == box)
                summary = CommonInputRangeRLMDComboBox;
    if (!summary)
        return;
    int index = -1;
    summary->setCurrentIndex(AllRangeSelectorsSame(summary, index) ? index : -1);
}

void TMainForm::CommonMeasuringModeLMDComboBoxChange(QObject* sender) {
    THandlerGuard guard(HandlersBusy);
    if (!guard.Owned)
        return;
    auto* box = qobject_cast<QComboBox*>(sender);
    if (!box) {
        Inform(this, "Ошибка CommonMeasuringMethodLMDComboBoxChange()!!!", "Не могу привести тип!");
        return;
    }
    StopThread();
    const int mode = box->currentIndex();
    if (mode != 0 && mode != 1) {
        Inform(this, "Ошибка CommonMeasuringMethodLMDComboBoxChange()!!!", "Неправильный тип измерения!");
        return;
    }
    CommonInputRangeULMDComboBox->setVisible(mode == 0);
    CommonInputRangeRLMDComboBox->setVisible(mode == 1);
    for (int ch = 0; ch < 16; ++ch)
        ApplyChannelMeasuringMode(ch, mode);
}

void TMainForm::LMDComboBoxChange(QObject* sender) {
    if (!qobject_cast<QComboBox*>(sender)) {
        Inform(this, "Ошибка LMDComboBoxChange()!!!", "Не могу привести тип!");
        return;
    }
    THandlerGuard guard(HandlersBusy);
    if (!guard.Owned)
        return;
    StopThread();
}
