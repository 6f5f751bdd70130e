// The window as an operator reaches it: drop-down lists opened and clicked
// with the mouse, keys typed into the editable field, Ctrl+Tab, and values
// wider than their box.
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QWheelEvent>

#include "FormControl.h"
#include "FormFixture.h"
#include "acquisition/DisplayFormat.h"
#include "ui/DesignLook.h"
#include "ui/TKm808AdcChannelFrame.h"
#include "ui/TLed.h"

namespace {

// Types the text key by key, letters outside ASCII included.
void Type(QWidget* widget, const QString& text) {
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key(c.toUpper().unicode()), QString(c), Qt::NoModifier);
}

// A window after a detection that found a module, shown, every channel on.
class OperatorTest : public FormTest {
protected:
    void SetUp() override {
        FormTest::SetUp();
        Form->DeviceState().ModuleState = 2;
        Control<QComboBox>(*Form, "CommonMeasuringModeLMDComboBox")->setCurrentIndex(0);
        Form->EnableChannelFrames();
        Control<QCheckBox>(*Form, "AllChannelsLMDCheckBox")->click();
        Form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
        ASSERT_FALSE(Form->HandlersHeld());
    }
    TKm808AdcChannelFrame* Frame(int ch) { return Form->ChannelFrames[ch]; }

    // Opens the list with the mouse on the selector, then clicks the item;
    // true when the selector took it and the list closed.
    static bool PickWithTheMouse(QComboBox* box, int item) {
        // An editable selector opens from its arrow; its field takes text.
        QPoint at = box->rect().center();
        if (box->isEditable())
            at = DesignLook::ComboPart(box, QStyle::SC_ComboBoxArrow).center();
        QTest::mouseClick(box, Qt::LeftButton, {}, at);
        QAbstractItemView* list = box->view();
        if (!QTest::qWaitFor([list] { return list->isVisible(); }, 2000))
            return false;
        // The list ignores a release that comes right after it opened.
        QTest::qWait(QApplication::doubleClickInterval() + 100);
        const QRect rect = list->visualRect(list->model()->index(item, box->modelColumn()));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
        (void)QTest::qWaitFor([list] { return !list->isVisible(); }, 1000);
        return box->currentIndex() == item && !list->isVisible();
    }
};

TEST_F(OperatorTest, EveryDropDownTakesAMouseClick) {
    Control<QComboBox>(*Form, "QiraCratesComboBox")->addItems({"1: QE000001", "2: QE000002"});
    Control<QComboBox>(*Form, "ModulesComboBox")->addItems({"Слот 3: KM808", "Слот 9: KM808"});
    auto pickAll = [](const std::vector<QComboBox*>& boxes) {
        for (QComboBox* box : boxes) {
            ASSERT_TRUE(box->isVisible() && box->isEnabled()) << box->objectName().toStdString();
            const int item = (box->currentIndex() + 1) % box->count();
            EXPECT_TRUE(PickWithTheMouse(box, item)) << box->objectName().toStdString() << " of "
                                                     << box->parentWidget()->objectName().toStdString()
                                                     << " / " << box->window()->objectName().toStdString();
        }
    };
    std::vector<QComboBox*> voltage = {
        Control<QComboBox>(*Form, "QiraCratesComboBox"), Control<QComboBox>(*Form, "ModulesComboBox"),
        Control<QComboBox>(*Form, "CommonInputRangeULMDComboBox"),
        Control<QComboBox>(*Form, "AdcRateComboBox"), Control<QComboBox>(*Form, "CorrectionModeLMDComboBox")};
    for (int ch = 0; ch < 16; ++ch)
        voltage.push_back(Frame(ch)->InputRangeULMDComboBox);
    pickAll(voltage);

    ASSERT_TRUE(PickWithTheMouse(Control<QComboBox>(*Form, "CommonMeasuringModeLMDComboBox"), 1));
    std::vector<QComboBox*> resistance = {Control<QComboBox>(*Form, "CommonInputRangeRLMDComboBox")};
    for (int ch = 0; ch < 8; ++ch)
        resistance.push_back(Frame(ch)->InputRangeRLMDComboBox);
    pickAll(resistance);
}

// Columns of a painted image that hold any text pixel (text on black).
std::pair<int, int> InkColumns(const QImage& image, const QRect& area) {
    int first = -1;
    int last = -1;
    for (int x = area.left(); x <= area.right(); ++x)
        for (int y = area.top(); y <= area.bottom(); ++y)
            if (qGray(image.pixel(x, y)) > 60) {
                if (first < 0)
                    first = x;
                last = x;
                break;
            }
    return {first, last};
}

TEST_F(OperatorTest, ValueBoxShowsTheWholeNumber) {
    QLineEdit* box = Frame(0)->Value1LMDEdit;
    const int designPx = box->font().pixelSize();
    ASSERT_EQ(designPx, 27);
    const struct {
        const char* Text;
        bool DesignFont;
    } cases[] = {
        {"--------", true},     {"1250.0008", true},         {"-10000.0006", false},
        {"-4000.00000", false}, {"3900.000500", false},      {"-10000.0000000000", false},
        {"-1.2345", true},      {"-9999.9999999999", false},
    };
    for (const auto& c : cases) {
        box->setText(c.Text);
        const QString name = c.Text;
        EXPECT_EQ(box->font().pixelSize() == designPx, c.DesignFont) << c.Text;
        EXPECT_EQ(box->font().family(), QFont("Courier New").family()) << c.Text;

        // What the box paints inside its border against the text alone in
        // the box's font: the same ink from the sign to the last digit.
        const QImage shown = box->grab().toImage();
        const auto [left, right] = InkColumns(shown, box->rect().adjusted(4, 4, -4, -4));
        QImage alone(1000, 80, QImage::Format_RGB32);
        alone.fill(Qt::black);
        {
            QPainter p(&alone);
            p.setFont(box->font());
            p.setPen(QColor(0, 255, 0));
            p.drawText(20, 55, name);
        }
        const auto [aloneLeft, aloneRight] = InkColumns(alone, alone.rect());
        EXPECT_NEAR(right - left, aloneRight - aloneLeft, 1) << c.Text;
        EXPECT_GT(left, 4) << c.Text;
        EXPECT_LT(right, box->width() - 5) << c.Text;
    }
}

TEST_F(OperatorTest, SelectorTextsAreNotCutByTheArrow) {
    std::vector<QComboBox*> boxes = {Control<QComboBox>(*Form, "CommonInputRangeULMDComboBox"),
                                     Control<QComboBox>(*Form, "CommonInputRangeRLMDComboBox"),
                                     Control<QComboBox>(*Form, "CommonMeasuringModeLMDComboBox"),
                                     Control<QComboBox>(*Form, "AdcRateComboBox"),
                                     Control<QComboBox>(*Form, "CorrectionModeLMDComboBox")};
    for (TKm808AdcChannelFrame* f : Form->ChannelFrames) {
        boxes.push_back(f->InputRangeULMDComboBox);
        boxes.push_back(f->InputRangeRLMDComboBox);
    }
    for (QComboBox* box : boxes) {
        const QRect field = DesignLook::ComboPart(box, QStyle::SC_ComboBoxEditField);
        // The style paints the text one pixel inside the field, clipped.
        for (int i = 0; i < box->count(); ++i)
            EXPECT_LE(box->fontMetrics().horizontalAdvance(box->itemText(i)), field.width() - 2)
                << box->objectName().toStdString() << " '" << box->itemText(i).toStdString() << "'";
    }
}

TEST_F(OperatorTest, NoKeyReachesAHiddenPage) {
    QTabWidget* pages = Control<QTabWidget>(*Form, "MainLMDPageControl");
    const struct {
        Qt::Key Key;
        Qt::KeyboardModifiers Modifiers;
    } keys[] = {
        {Qt::Key_Tab, Qt::ControlModifier},
        {Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier},
        {Qt::Key_Tab, Qt::ControlModifier | Qt::ShiftModifier},
        {Qt::Key_PageDown, Qt::ControlModifier},
        {Qt::Key_PageUp, Qt::ControlModifier},
    };
    for (QWidget* focus : std::initializer_list<QWidget*>{Control<QComboBox>(*Form, "AdcRateComboBox"),
                                                          Frame(3)->InputRangeULMDComboBox}) {
        for (int repeat = 0; repeat < 3; ++repeat)
            for (const auto& k : keys) {
                focus->setFocus();
                QTest::keyClick(focus, k.Key, k.Modifiers);
                EXPECT_EQ(pages->currentWidget(), Control<QWidget>(*Form, "MultimeterLMDTabSheet"))
                    << focus->objectName().toStdString() << " key " << k.Key;
                pages->setCurrentIndex(0);
            }
    }
    // The tab bar's own keys and the wheel over it.
    QTabBar* bar = pages->tabBar();
    for (Qt::Key key : {Qt::Key_Right, Qt::Key_Left, Qt::Key_End, Qt::Key_Home}) {
        bar->setFocus();
        QTest::keyClick(bar, key);
        EXPECT_EQ(pages->currentWidget(), Control<QWidget>(*Form, "MultimeterLMDTabSheet"))
            << "tab bar key " << key;
    }
    for (int delta : {-120, 120, -120}) {
        const QPointF at = bar->tabRect(0).center();
        QWheelEvent wheel(at, bar->mapToGlobal(at), {}, {0, delta}, Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(bar, &wheel);
        EXPECT_EQ(pages->currentWidget(), Control<QWidget>(*Form, "MultimeterLMDTabSheet"))
            << "wheel " << delta;
    }
    // Whatever asks for a hidden page, the shown page stays.
    pages->setCurrentWidget(Control<QWidget>(*Form, "VerificationLMDTabSheet"));
    EXPECT_EQ(pages->currentWidget(), Control<QWidget>(*Form, "MultimeterLMDTabSheet"));
}

TEST_F(OperatorTest, CorrectionModeFieldShowsTheModeInForce) {
    QComboBox* mode = Control<QComboBox>(*Form, "CorrectionModeLMDComboBox");
    QLineEdit* field = mode->lineEdit();
    mode->setCurrentIndex(0);
    field->setFocus();
    // Letters typed in quick succession are one search, as in a list.
    const struct {
        const char* Typed;
        int Mode;
    } cases[] = {
        {"qwerty", 0}, {"п", 1}, {"Пос", 1}, {"н", 0}, {"12345", 0}, {"ПОСТОЯННАЯ", 1}, {" ", 1}, {"Нх", 0},
    };
    for (const auto& c : cases) {
        QTest::qWait(QApplication::keyboardInputInterval() + 50);
        field->selectAll();
        Type(field, QString::fromUtf8(c.Typed));
        EXPECT_EQ(mode->currentIndex(), c.Mode) << c.Typed;
        EXPECT_EQ(field->text(), mode->itemText(c.Mode)) << c.Typed;
    }
    // Typed at the end of the shown text, or deleted from it.
    const QString shown = mode->itemText(0);
    field->end(false);
    Type(field, "x");
    EXPECT_EQ(field->text(), shown);
    field->end(false);
    QTest::keyClick(field, Qt::Key_Backspace);
    EXPECT_EQ(field->text(), shown);
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Delete);
    EXPECT_EQ(field->text(), shown);
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(mode->currentIndex(), 0);
}

// One wheel notch at the middle of the widget under it, delivered as the
// window system does: to that widget, then up to its parents.
void WheelNotch(QWidget* under, int delta) {
    const QPointF at = QRectF(under->rect()).center();
    QWheelEvent wheel(at, under->mapToGlobal(at), {}, {0, delta}, Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(under, &wheel);
}

TEST_F(OperatorTest, ASelectorTakesTheWheelOnlyWithTheFocusAndNeverInTheChannelArea) {
    Form->HoldHandlers(true);
    Control<QComboBox>(*Form, "QiraCratesComboBox")->addItems({"1: QE000001", "2: QE000002", "3: QE000003"});
    Control<QComboBox>(*Form, "ModulesComboBox")
        ->addItems({"Слот 3: KM808", "Слот 9: KM808", "Слот 11: KM808"});
    Control<QComboBox>(*Form, "AdcRateComboBox")->setCurrentIndex(1);
    Form->HoldHandlers(false);
    Form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
    const struct {
        QComboBox* Box;
        bool TakesItFocused;
    } cases[] = {
        {Control<QComboBox>(*Form, "QiraCratesComboBox"), true},
        {Control<QComboBox>(*Form, "ModulesComboBox"), true},
        {Control<QComboBox>(*Form, "CommonInputRangeULMDComboBox"), true},
        {Control<QComboBox>(*Form, "CommonMeasuringModeLMDComboBox"), true},
        {Control<QComboBox>(*Form, "AdcRateComboBox"), true},
        {Control<QComboBox>(*Form, "CorrectionModeLMDComboBox"), true},
        {Frame(3)->InputRangeULMDComboBox, false},
        {Frame(12)->InputRangeULMDComboBox, false},
    };
    for (const auto& c : cases) {
        const std::string name = c.Box->objectName().toStdString();
        c.Box->setCurrentIndex(1);
        QWidget* under = c.Box;
        Control<QPushButton>(*Form, "FindDeviceLMDButton")->setFocus();
        for (int delta : {120, -120, -120})
            WheelNotch(under, delta);
        EXPECT_EQ(c.Box->currentIndex(), 1) << name << " without the focus";
        // A real wheel event gives a selector with this policy the focus
        // before anyone sees the event.
        EXPECT_NE(c.Box->focusPolicy() & Qt::WheelFocus, Qt::WheelFocus) << name;
        c.Box->setFocus();
        ASSERT_TRUE(c.Box->hasFocus()) << name;
        WheelNotch(under, 120);
        EXPECT_EQ(c.Box->currentIndex() != 1, c.TakesItFocused) << name << " with the focus";
    }
}

TEST_F(OperatorTest, ReturnAndEnterPressTheFocusedButton) {
    Form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
    QPushButton* start = Control<QPushButton>(*Form, "StartMultimeterLMDSpeedButton");
    start->setEnabled(true);
    const struct {
        Qt::Key Key;
        Qt::KeyboardModifiers Modifiers;
    } keys[] = {{Qt::Key_Return, Qt::NoModifier}, {Qt::Key_Enter, Qt::KeypadModifier}};
    for (const auto& k : keys) {
        Control<QPushButton>(*Form, "FindDeviceLMDButton")->setFocus();
        const size_t requests = Counter.Requests.size();
        QTest::keyClick(Control<QPushButton>(*Form, "FindDeviceLMDButton"), k.Key, k.Modifiers);
        QCoreApplication::processEvents();
        ASSERT_EQ(Counter.Requests.size(), requests + 1) << "key " << k.Key;
        EXPECT_EQ(Counter.Requests.back().Action, 3u);

        start->setFocus();
        const int starts = Counter.WorkerStarts;
        QTest::keyClick(start, k.Key, k.Modifiers);
        QCoreApplication::processEvents();
        EXPECT_TRUE(start->isChecked()) << "key " << k.Key;
        EXPECT_EQ(Counter.WorkerStarts, starts + 1) << "key " << k.Key;
        QTest::keyClick(start, k.Key, k.Modifiers);
        EXPECT_FALSE(start->isChecked()) << "key " << k.Key;
    }
}

TEST_F(OperatorTest, ADoubleClickSelectsTheWholeValue) {
    Form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
    QLineEdit* box = Frame(2)->Value1LMDEdit;
    for (const char* text : {"999.9981", "-4000.12", "12.0000000001"}) {
        box->setText(text);
        box->deselect();
        // On the digits after the point, where a word would end at the point.
        const QPoint at(box->width() * 3 / 4, box->height() / 2);
        QTest::mouseDClick(box, Qt::LeftButton, {}, at);
        EXPECT_EQ(box->selectedText(), QString(text));
    }
}

TEST_F(OperatorTest, ValueDigitsKeepTheRunsFaceAcrossPowersOfTenAndZero) {
    TKm808AdcChannelFrame* frame = Frame(0);
    const QString format = "0.0000000000";
    frame->ChooseValueFace(FormatFloat(format, -10000.0));
    const int runPx = frame->Value1LMDEdit->font().pixelSize();
    for (double v : {9.9999999999, 10.0, -0.0000000001, 0.0, 999.99, -1000.0, 9999.9999999999}) {
        frame->Value1LMDEdit->setText(FormatFloat(format, v));
        EXPECT_EQ(frame->Value1LMDEdit->font().pixelSize(), runPx) << v;
    }
    // A narrower range in the next run gets its own, larger face.
    frame->ChooseValueFace(FormatFloat("0.0000", -400.0));
    EXPECT_GT(frame->Value1LMDEdit->font().pixelSize(), runPx);
}

TEST_F(OperatorTest, TheChannelScrollBoxShowsItsFocus) {
    Form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
    QScrollArea* box = Control<QScrollArea>(*Form, "AdcIndividualParsLMDScrollBox");
    Control<QPushButton>(*Form, "FindDeviceLMDButton")->setFocus();
    const QImage unfocused = box->grab().toImage();
    // Reached with Tab, as the operator does.
    for (int i = 0; i < 100 && !box->hasFocus(); ++i)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_TRUE(box->hasFocus());
    const QImage focused = box->grab().toImage();
    EXPECT_NE(focused, unfocused);
    Control<QPushButton>(*Form, "FindDeviceLMDButton")->setFocus();
    EXPECT_EQ(box->grab().toImage(), unfocused);
}

// Another crate or module: the readings and lamps of the one before go.
TEST_F(OperatorTest, AnotherModuleClearsTheValuesAndLamps) {
    Form->HoldHandlers(true);
    Control<QComboBox>(*Form, "QiraCratesComboBox")->addItems({"1: QE000001", "2: QE000002"});
    Control<QComboBox>(*Form, "QiraCratesComboBox")->setCurrentIndex(0);
    Control<QComboBox>(*Form, "ModulesComboBox")->addItems({"Слот 3: KM808", "Слот 9: KM808"});
    Control<QComboBox>(*Form, "ModulesComboBox")->setCurrentIndex(0);
    Form->HoldHandlers(false);
    for (QComboBox* selector :
         {Control<QComboBox>(*Form, "ModulesComboBox"), Control<QComboBox>(*Form, "QiraCratesComboBox")}) {
        Form->DeviceState().SelectedCrateIndex = 0;
        Form->DeviceState().SelectedModuleIndex[0] = 0;
        for (int ch = 0; ch < 16; ++ch) {
            const bool over = ch % 3 == 0;
            Frame(ch)->Value1LMDEdit->setText(over ? "10500.000" : "1250.000");
            Frame(ch)->SetValueLook(over ? TKm808AdcChannelFrame::TValueLook::OverRange
                                         : TKm808AdcChannelFrame::TValueLook::Live);
            Frame(ch)->SetUpdateLamp(over ? 1 : 0);
            Frame(ch)->ChooseValueFace("-10000.0000000000");
        }
        const size_t requests = Counter.Requests.size();
        selector->setCurrentIndex(1 - selector->currentIndex());
        QCoreApplication::processEvents();
        ASSERT_EQ(Counter.Requests.size(), requests + 1) << selector->objectName().toStdString();
        for (int ch = 0; ch < 16; ++ch) {
            SCOPED_TRACE(selector->objectName().toStdString() + " channel " + std::to_string(ch + 1));
            EXPECT_EQ(Frame(ch)->Value1LMDEdit->text(), "--------");
            EXPECT_EQ(Frame(ch)->ValueLook(), TKm808AdcChannelFrame::TValueLook::Live);
            EXPECT_FALSE(Frame(ch)->FlashLed->IsOn());
            EXPECT_EQ(Frame(ch)->Value1LMDEdit->font().pixelSize(), 27) << "the designed face";
        }
    }
}

} // namespace
