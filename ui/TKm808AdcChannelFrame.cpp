#include "ui/TKm808AdcChannelFrame.h"

#include <QComboBox>
#include <QCursor>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionFrame>

#include "ui/DesignLook.h"
#include "ui/TCaptionCheckBox.h"
#include "ui/TLed.h"

namespace {

QLabel* MakeLabel(QWidget* parent, const QRect& geometry, const QString& text, int px) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(geometry);
    label->setFont(DesignLook::Arial(px));
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    return label;
}

QComboBox* MakeSelector(QWidget* parent, const QRect& geometry, int px) {
    auto* box = new QComboBox(parent);
    box->setGeometry(geometry);
    box->setFont(DesignLook::Arial(px));
    return box;
}

} // namespace

TKm808AdcChannelFrame::TKm808AdcChannelFrame(QWidget* owner, int ch, const double* u, int nu, const double* r,
                                             int nr)
    : QFrame(owner) {
    setObjectName("Km808AdcChannelFrame");
    setFont(DesignLook::Arial(17));
    resize(495, 86);
    hide();

    Km808AdcChannelLMDSimplePanel = new QFrame(this);
    Km808AdcChannelLMDSimplePanel->setObjectName("Km808AdcChannelLMDSimplePanel");
    Km808AdcChannelLMDSimplePanel->setGeometry(0, 0, 475, 66);
    Km808AdcChannelLMDSimplePanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    QWidget* panel = Km808AdcChannelLMDSimplePanel;

    ChannelNumberLMDCheckBox = new TCaptionCheckBox(panel);
    ChannelNumberLMDCheckBox->setGeometry(4, 5, 84, 56);
    ChannelNumberLMDCheckBox->setFont(DesignLook::Arial(15, true));
    ChannelNumberLMDCheckBox->setToolTip("Управление активностью канала");

    Value1LMDEdit = new QLineEdit(panel);
    Value1LMDEdit->setGeometry(279, 27, 166, 37);
    Value1LMDEdit->setReadOnly(true);
    Value1LMDEdit->setAlignment(Qt::AlignCenter);
    Value1LMDEdit->setFont(DesignLook::CourierNew(27, true));
    Value1LMDEdit->setFocusPolicy(Qt::ClickFocus);
    Value1LMDEdit->setContextMenuPolicy(Qt::PreventContextMenu);
    QPalette pal = Value1LMDEdit->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        pal.setColor(group, QPalette::Base, Qt::black);
        pal.setColor(group, QPalette::Text, QColor(0, 255, 0));
    }
    // Without the focus the selection looks like plain text.
    pal.setColor(QPalette::Inactive, QPalette::Highlight, Qt::black);
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText, QColor(0, 255, 0));
    Value1LMDEdit->setPalette(pal);
    ShowValueSelection(false);

    FlashLed = new TLed(panel);
    FlashLed->setGeometry(448, 34, 22, 22);
    FlashLed->setToolTip("Признак обновления канала");

    InputRangeLabLMDComboBox = MakeLabel(panel, {92, 5, 97, 30}, "Предел измерений", 13);
    InputRangeULMDComboBox = MakeSelector(panel, {88, 37, 115, 26}, 16);
    MeasuringModeNotUsedLMDComboBox = MakeSelector(panel, {207, 37, 67, 26}, 16);
    MeasuringModeNotUsedLMDComboBox->hide();
    MeasuringModeLabLMDComboBox = MakeLabel(panel, {207, 5, 67, 30}, "Режим измерений", 13);
    Value1LabLMDLabel = MakeLabel(panel, {287, 4, 153, 23}, "Напряжение, мВ", 15);
    Value1LabLMDLabel->setWordWrap(false);
    InputRangeRLMDComboBox = MakeSelector(panel, {88, 37, 115, 26}, 16);
    MeasuringModeLMDLabel = MakeLabel(panel, {215, 38, 49, 24}, "DC", 17);
    MeasuringModeLMDLabel->setWordWrap(false);
    MeasuringModeLMDLabel->setFrameStyle(QFrame::Panel | QFrame::Sunken);

    ChannelIndex = uint16_t(ch);
    ChannelNumberLMDCheckBox->setText("Канал " + QString::number(ch + 1));
    for (QObject* tagged : std::initializer_list<QObject*>{ChannelNumberLMDCheckBox, InputRangeULMDComboBox,
                                                           InputRangeRLMDComboBox, MeasuringModeLMDLabel})
        tagged->setProperty("Tag", ch);

    InputRangeULMDComboBox->clear();
    for (int i = 0; i < nu; ++i)
        InputRangeULMDComboBox->addItem(QString(u[i] <= 9.99999 ? 6 : 5, ' ') +
                                        QString::number(u[i], 'f', 1) + " В");
    InputRangeULMDComboBox->setMaxVisibleItems(qMax(1, nu));
    InputRangeRLMDComboBox->clear();
    for (int i = 0; i < nr; ++i)
        InputRangeRLMDComboBox->addItem(QString(r[i] <= 999.99999 ? 2 : 1, ' ') +
                                        QString::number(r[i], 'f', 1) + " Ом");
    InputRangeRLMDComboBox->setMaxVisibleItems(qMax(1, nr));

    MeasuringModeLMDLabel->setText("DC");
    MeasuringModeLMDLabel->show();
    if (ch >= 8) {
        InputRangeULMDComboBox->show();
        InputRangeRLMDComboBox->hide();
    }

    SetUpdateLamp(2);
    ApplicationActive = false;

    // Fitted before the change handler selects the text.
    connect(Value1LMDEdit, &QLineEdit::textChanged, this, [this] { FitValueText(); });
    connect(Value1LMDEdit, &QLineEdit::textChanged, this, [this] { ValueLMDEditChange(); });
    Value1LMDEdit->installEventFilter(this);
    ChannelNumberLMDCheckBox->installEventFilter(this);
    connect(ChannelNumberLMDCheckBox, &QCheckBox::stateChanged, this, [this] { UpdateChannelActive(); });
    UpdateChannelActive();
}

void TKm808AdcChannelFrame::EnableChannelControls(bool checkBoxEnabled) {
    ChannelNumberLMDCheckBox->setEnabled(checkBoxEnabled);
    for (QWidget* w : std::initializer_list<QWidget*>{
             InputRangeULMDComboBox, InputRangeRLMDComboBox, InputRangeLabLMDComboBox,
             MeasuringModeLabLMDComboBox, MeasuringModeLMDLabel, Value1LMDEdit, Value1LabLMDLabel, FlashLed})
        w->setEnabled(true);
    UpdateChannelActive();
}

void TKm808AdcChannelFrame::DisableChannelControls(bool checkBoxDisabled) {
    ChannelNumberLMDCheckBox->setEnabled(!checkBoxDisabled);
    for (QWidget* w : std::initializer_list<QWidget*>{
             InputRangeULMDComboBox, InputRangeRLMDComboBox, InputRangeLabLMDComboBox,
             MeasuringModeLabLMDComboBox, MeasuringModeLMDLabel, Value1LMDEdit, Value1LabLMDLabel, FlashLed})
        w->setEnabled(false);
    UpdateChannelActive();
}

void TKm808AdcChannelFrame::DisableChannelFrame() {
    Km808AdcChannelLMDSimplePanel->setEnabled(false);
    // The panel's own controls only: a selector's drop-down list is a child of
    // the selector too, and nothing would ever enable it again.
    for (QWidget* w : Km808AdcChannelLMDSimplePanel->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (!w->isWindow())
            w->setEnabled(false);
    UpdateChannelActive();
}

void TKm808AdcChannelFrame::SetUpdateLamp(int state) {
    switch (state) {
    case 0:
        FlashLed->SetColor(QColor(0, 128, 0));
        break;
    case 1:
        FlashLed->SetColor(QColor(255, 0, 0));
        break;
    case 2:
        FlashLed->SetOff();
        break;
    default:
        break;
    }
}

QColor TKm808AdcChannelFrame::ValueLookColor(TValueLook look) {
    switch (look) {
    case TValueLook::OverRange:
        return QColor(255, 0, 0);
    case TValueLook::Stale:
        return QColor(128, 128, 128);
    case TValueLook::Live:
        break;
    }
    return QColor(0, 255, 0);
}

void TKm808AdcChannelFrame::SetValueLook(TValueLook look) {
    CurrentValueLook = look;
    const QColor color = ValueLookColor(look);
    QPalette pal = Value1LMDEdit->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        pal.setColor(group, QPalette::Text, color);
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText, color);
    Value1LMDEdit->setPalette(pal);
    ShowValueSelection(Value1LMDEdit->hasFocus());
}

void TKm808AdcChannelFrame::ShowRangeSelectorForMode(int mode) {
    if (mode == 0) {
        MeasuringModeLMDLabel->show();
        InputRangeULMDComboBox->show();
        InputRangeRLMDComboBox->hide();
    } else if (ChannelIndex >= 8) {
        MeasuringModeLMDLabel->hide();
        InputRangeULMDComboBox->hide();
        InputRangeRLMDComboBox->hide();
        return;
    } else if (mode == 1) {
        MeasuringModeLMDLabel->show();
        InputRangeULMDComboBox->hide();
        InputRangeRLMDComboBox->show();
    } else {
        return;
    }
    InputRangeULMDComboBox->update();
    InputRangeRLMDComboBox->update();
}

bool TKm808AdcChannelFrame::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Value1LMDEdit && event->type() == QEvent::FocusIn) {
        ShowValueSelection(true);
    } else if (watched == Value1LMDEdit && event->type() == QEvent::FocusOut) {
        ShowValueSelection(false);
        ValueLMDEditExit();
    } else if (watched == Value1LMDEdit && event->type() == QEvent::MouseButtonDblClick) {
        // The operator is copying the reading: all of it, not the digits on
        // one side of the point.
        Value1LMDEdit->selectAll();
        return true;
    } else if (watched == ChannelNumberLMDCheckBox && event->type() == QEvent::EnabledChange)
        UpdateChannelActive();
    return QFrame::eventFilter(watched, event);
}

void TKm808AdcChannelFrame::UpdateChannelActive() {
    ChannelActive.store(ChannelNumberLMDCheckBox->isEnabledTo(this) && ChannelNumberLMDCheckBox->isChecked(),
                        std::memory_order_relaxed);
}

void TKm808AdcChannelFrame::ShowValueSelection(bool shown) {
    // A line edit paints its selection whether it has the focus or not; an
    // unfocused one hides it by painting it in the box's own colours.
    QPalette pal = Value1LMDEdit->palette();
    pal.setColor(QPalette::Active, QPalette::Highlight,
                 shown ? QColor(Qt::white) : pal.color(QPalette::Active, QPalette::Base));
    pal.setColor(QPalette::Active, QPalette::HighlightedText,
                 shown ? QColor(0, 128, 0) : pal.color(QPalette::Active, QPalette::Text));
    Value1LMDEdit->setPalette(pal);
}

void TKm808AdcChannelFrame::ValueLMDEditChange() {
    if (ApplicationActive && Value1LMDEdit->rect().contains(Value1LMDEdit->mapFromGlobal(QCursor::pos())))
        Value1LMDEdit->selectAll();
}

void TKm808AdcChannelFrame::ValueLMDEditExit() {
    if (ApplicationActive)
        Value1LMDEdit->deselect();
}

namespace {

// Width a line edit leaves for its text without scrolling it: its contents
// less the text margins, its own inner margin of 2 px a side and the caret.
int TextRoom(const QLineEdit* edit) {
    QStyleOptionFrame opt;
    opt.initFrom(edit);
    opt.rect = edit->contentsRect();
    opt.lineWidth =
        edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, edit) : 0;
    opt.midLineWidth = 0;
    opt.state |= QStyle::State_Sunken;
    if (edit->isReadOnly())
        opt.state |= QStyle::State_ReadOnly;
    const QRect contents = edit->style()->subElementRect(QStyle::SE_LineEditContents, &opt, edit);
    const QMargins margins = edit->textMargins();
    const int caret = edit->style()->pixelMetric(QStyle::PM_TextCursorWidth, &opt, edit);
    return contents.width() - margins.left() - margins.right() - 2 * 2 - 1 - caret;
}

} // namespace

int TKm808AdcChannelFrame::FittingFacePx(const QString& text, int largestPx) const {
    constexpr int SmallestPx = 10;
    const int room = TextRoom(Value1LMDEdit);
    QFont font = DesignLook::CourierNew(largestPx, true);
    while (font.pixelSize() > SmallestPx && QFontMetricsF(font).horizontalAdvance(text) + 1 > room)
        font.setPixelSize(font.pixelSize() - 1);
    return font.pixelSize();
}

void TKm808AdcChannelFrame::ChooseValueFace(const QString& widest) {
    constexpr int DesignPx = 27;
    ValueFacePx = FittingFacePx(widest, DesignPx);
    FitValueText();
}

void TKm808AdcChannelFrame::FitValueText() {
    // A text wider than the box would be shown from its end, sign and leading
    // digits cut off; such a text gets the run's face made smaller instead.
    const QFont font = DesignLook::CourierNew(FittingFacePx(Value1LMDEdit->text(), ValueFacePx), true);
    if (Value1LMDEdit->font() != font)
        Value1LMDEdit->setFont(font);
    Value1LMDEdit->setCursorPosition(0);
}
