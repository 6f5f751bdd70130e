// The channel frames and the common measurement controls: item texts, the
// mode switch, spreading common choices and summarising the frames back.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "FormControl.h"
#include "FormFixture.h"
#include "ModalCatcher.h"
#include "ui/TKm808AdcChannelFrame.h"
#include "ui/TLed.h"

namespace {

QStringList Items(const QComboBox* box) {
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    return items;
}

// A window after a detection that found a module: frames enabled, voltage mode.
class ControlsTest : public FormTest {
protected:
    void SetUp() override {
        FormTest::SetUp();
        Control<QComboBox>(*Form, "CommonMeasuringModeLMDComboBox")->setCurrentIndex(0);
        Form->EnableChannelFrames();
        ASSERT_FALSE(Form->HandlersHeld());
    }
    TKm808AdcChannelFrame* Frame(int ch) { return Form->ChannelFrames[ch]; }
};

TEST_F(ControlsTest, SelectorItemsCarryTheirExactSpacing) {
    struct Case {
        QComboBox* Box;
        QStringList Expected;
    } cases[] = {
        {Control<QComboBox>(*Form, "CommonInputRangeULMDComboBox"), {"   10.0 В", "    2.0 В", "    0.4 В"}},
        {Control<QComboBox>(*Form, "CommonInputRangeRLMDComboBox"), {" 400.0 Ом", "1200.0 Ом", "4000.0 Ом"}},
        {Control<QComboBox>(*Form, "CommonMeasuringModeLMDComboBox"), {"  DC", "    R"}},
        {Control<QComboBox>(*Form, "AdcRateComboBox"),
         {"      5.0", "    100.0", "    200.0", "    500.0", "   1000.0", "   2000.0", "   4000.0"}},
        {Frame(0)->InputRangeULMDComboBox, {"     10.0 В", "      2.0 В", "      0.4 В"}},
        {Frame(15)->InputRangeRLMDComboBox, {"  400.0 Ом", " 1200.0 Ом", " 4000.0 Ом"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Items(c.Box), c.Expected) << c.Box->objectName().toStdString();
}

TEST_F(ControlsTest, FramesFormTwoColumnsOfEight) {
    for (int ch = 0; ch < 16; ++ch) {
        const TKm808AdcChannelFrame* f = Frame(ch);
        EXPECT_EQ(f->objectName(), QString("Km808AdcChannel%1Frame").arg(ch));
        EXPECT_EQ(f->geometry(), QRect(475 * (ch / 8) + 1, 66 * (ch % 8) + 2, 475, 66));
        EXPECT_EQ(f->ChannelNumberLMDCheckBox->text(), QString("Канал %1").arg(ch + 1));
        EXPECT_EQ(f->parentWidget(), Control<QWidget>(*Form, "AdcIndividualParsLMDSimplePanel"));
    }
}

TEST(ChannelFrameCreation, FramesStartDisabledAndReset) {
    TMainForm form;
    for (const TKm808AdcChannelFrame* f : form.ChannelFrames) {
        EXPECT_FALSE(f->Km808AdcChannelLMDSimplePanel->isEnabled());
        EXPECT_FALSE(f->ChannelNumberLMDCheckBox->isEnabled());
        EXPECT_FALSE(f->ChannelNumberLMDCheckBox->isChecked());
        EXPECT_EQ(f->Value1LMDEdit->text(), "--------");
        EXPECT_EQ(f->InputRangeULMDComboBox->currentIndex(), -1);
        EXPECT_EQ(f->InputRangeRLMDComboBox->currentIndex(), -1);
        EXPECT_FALSE(f->FlashLed->IsOn());
        EXPECT_FALSE(f->IsChannelActive());
    }
    EXPECT_FALSE(form.HandlersHeld());
    EXPECT_EQ(form.StartupStage(), 1);
}

TEST_F(ControlsTest, ResistanceModeLeavesOnlyTheFirstEightChannels) {
    Control<QCheckBox>(*Form, "AllChannelsLMDCheckBox")->click();
    Control<QComboBox>(*Form, "CommonMeasuringModeLMDComboBox")->setCurrentIndex(1);

    EXPECT_TRUE(Control<QComboBox>(*Form, "CommonInputRangeULMDComboBox")->isHidden());
    EXPECT_FALSE(Control<QComboBox>(*Form, "CommonInputRangeRLMDComboBox")->isHidden());
    for (int ch = 0; ch < 16; ++ch) {
        const TKm808AdcChannelFrame* f = Frame(ch);
        SCOPED_TRACE(ch);
        if (ch < 8) {
            EXPECT_EQ(f->MeasuringModeLMDLabel->text(), "R");
            EXPECT_EQ(f->Value1LabLMDLabel->text(), "Сопротивление, Ом");
            EXPECT_FALSE(f->InputRangeRLMDComboBox->isHidden());
            EXPECT_TRUE(f->InputRangeULMDComboBox->isHidden());
            EXPECT_TRUE(f->ChannelNumberLMDCheckBox->isEnabled());
            EXPECT_TRUE(f->IsChannelActive());
        } else {
            EXPECT_FALSE(f->ChannelNumberLMDCheckBox->isEnabled());
            for (QWidget* w :
                 {static_cast<QWidget*>(f->InputRangeULMDComboBox), static_cast<QWidget*>(f->Value1LMDEdit),
                  static_cast<QWidget*>(f->FlashLed), static_cast<QWidget*>(f->Value1LabLMDLabel)})
                EXPECT_FALSE(w->isEnabled());
            EXPECT_TRUE(f->MeasuringModeLMDLabel->isHidden());
            EXPECT_TRUE(f->InputRangeULMDComboBox->isHidden());
            EXPECT_TRUE(f->InputRangeRLMDComboBox->isHidden());
            EXPECT_TRUE(f->Value1LabLMDLabel->text().isEmpty());
            EXPECT_FALSE(f->IsChannelActive()); // checked, but unusable
        }
    }

    Control<QComboBox>(*Form, "CommonMeasuringModeLMDComboBox")->setCurrentIndex(0);
    for (int ch = 0; ch < 16; ++ch) {
        EXPECT_EQ(Frame(ch)->MeasuringModeLMDLabel->text(), "DC");
        EXPECT_FALSE(Frame(ch)->InputRangeULMDComboBox->isHidden());
        EXPECT_TRUE(Frame(ch)->IsChannelActive());
    }
}

TEST_F(ControlsTest, NoModeChosenDisablesTheUpperChannels) {
    Frame(0)->ChannelNumberLMDCheckBox->click();
    Form->HoldHandlers(true);
    Control<QComboBox>(*Form, "CommonMeasuringModeLMDComboBox")->setCurrentIndex(-1);
    Form->HoldHandlers(false);
    Form->EnableChannelFrames();

    EXPECT_TRUE(Frame(0)->InputRangeULMDComboBox->isEnabled());
    EXPECT_EQ(Frame(0)->MeasuringModeLMDLabel->text(), "DC");
    EXPECT_FALSE(Frame(1)->InputRangeULMDComboBox->isEnabled());
    EXPECT_TRUE(Frame(1)->ChannelNumberLMDCheckBox->isEnabled());
    EXPECT_EQ(Frame(1)->Value1LMDEdit->text(), "--------");
    EXPECT_TRUE(Frame(1)->Value1LabLMDLabel->text().isEmpty());
    EXPECT_FALSE(Frame(8)->ChannelNumberLMDCheckBox->isEnabled());
}

TEST_F(ControlsTest, UncheckedChannelKeepsItsBoxAndTitle) {
    Control<QCheckBox>(*Form, "AllChannelsLMDCheckBox")->click();
    Frame(3)->Value1LMDEdit->setText("12.3456");
    Frame(3)->ChannelNumberLMDCheckBox->click();

    const TKm808AdcChannelFrame* f = Frame(3);
    EXPECT_TRUE(f->ChannelNumberLMDCheckBox->isEnabled());
    EXPECT_FALSE(f->InputRangeULMDComboBox->isEnabled());
    EXPECT_FALSE(f->Value1LMDEdit->isEnabled());
    EXPECT_EQ(f->Value1LMDEdit->text(), "--------");
    EXPECT_EQ(f->Value1LabLMDLabel->text(), "Напряжение, мВ");
    EXPECT_FALSE(f->IsChannelActive());
    EXPECT_TRUE(Form->ChannelActive(2));
}

TEST_F(ControlsTest, AllChannelsBoxSummarisesTheFrames) {
    Control<QCheckBox>(*Form, "AllChannelsLMDCheckBox")->click();
    for (const TKm808AdcChannelFrame* f : Form->ChannelFrames)
        EXPECT_TRUE(f->ChannelNumberLMDCheckBox->isChecked());

    Frame(5)->ChannelNumberLMDCheckBox->click();
    EXPECT_EQ(Control<QCheckBox>(*Form, "AllChannelsLMDCheckBox")->checkState(), Qt::PartiallyChecked);
    Frame(5)->ChannelNumberLMDCheckBox->click();
    EXPECT_EQ(Control<QCheckBox>(*Form, "AllChannelsLMDCheckBox")->checkState(), Qt::Checked);

    // A click on the undecided summary switches every channel on.
    Frame(5)->ChannelNumberLMDCheckBox->click();
    Control<QCheckBox>(*Form, "AllChannelsLMDCheckBox")->click();
    EXPECT_EQ(Control<QCheckBox>(*Form, "AllChannelsLMDCheckBox")->checkState(), Qt::Checked);
    for (const TKm808AdcChannelFrame* f : Form->ChannelFrames)
        EXPECT_TRUE(f->ChannelNumberLMDCheckBox->isChecked());
    EXPECT_FALSE(Form->HandlersHeld());
}

TEST_F(ControlsTest, CommonRangeSpreadsAndEmptiesWhenFramesDiffer) {
    Control<QComboBox>(*Form, "CommonMeasuringModeLMDComboBox")
        ->setCurrentIndex(1); // upper channels disabled
    Control<QComboBox>(*Form, "CommonInputRangeULMDComboBox")->setCurrentIndex(1);
    for (const TKm808AdcChannelFrame* f : Form->ChannelFrames)
        EXPECT_EQ(f->InputRangeULMDComboBox->currentIndex(), 1);

    Control<QComboBox>(*Form, "CommonMeasuringModeLMDComboBox")->setCurrentIndex(0);
    Frame(7)->InputRangeULMDComboBox->setCurrentIndex(2);
    EXPECT_EQ(Control<QComboBox>(*Form, "CommonInputRangeULMDComboBox")->currentIndex(), -1);
    Frame(7)->InputRangeULMDComboBox->setCurrentIndex(1);
    EXPECT_EQ(Control<QComboBox>(*Form, "CommonInputRangeULMDComboBox")->currentIndex(), 1);

    Control<QComboBox>(*Form, "CommonInputRangeRLMDComboBox")->setCurrentIndex(2);
    Frame(0)->InputRangeRLMDComboBox->setCurrentIndex(0);
    EXPECT_EQ(Control<QComboBox>(*Form, "CommonInputRangeRLMDComboBox")->currentIndex(), -1);
    EXPECT_EQ(Control<QComboBox>(*Form, "CommonInputRangeULMDComboBox")->currentIndex(), 1);
}

TEST_F(ControlsTest, ChangesMadeUnderTheGuardRunNoHandler) {
    Form->HoldHandlers(true);
    Control<QCheckBox>(*Form, "AllChannelsLMDCheckBox")->setCheckState(Qt::Checked);
    Control<QComboBox>(*Form, "CommonInputRangeULMDComboBox")->setCurrentIndex(2);
    Control<QComboBox>(*Form, "CommonMeasuringModeLMDComboBox")->setCurrentIndex(1);
    Frame(2)->ChannelNumberLMDCheckBox->setChecked(true);
    Frame(4)->InputRangeULMDComboBox->setCurrentIndex(0);
    Control<QCheckBox>(*Form, "AutoSaveSettingsLMDCheckBox")->setChecked(true);
    EXPECT_TRUE(Form->HandlersHeld());

    for (int ch = 0; ch < 16; ++ch) {
        EXPECT_EQ(Frame(ch)->ChannelNumberLMDCheckBox->isChecked(), ch == 2) << ch;
        EXPECT_EQ(Frame(ch)->InputRangeULMDComboBox->currentIndex(), ch == 4 ? 0 : -1) << ch;
        EXPECT_EQ(Frame(ch)->MeasuringModeLMDLabel->text(), "DC") << ch;
    }
    EXPECT_EQ(Control<QComboBox>(*Form, "CommonInputRangeULMDComboBox")->currentIndex(), 2);
    EXPECT_FALSE(Control<QComboBox>(*Form, "CommonInputRangeULMDComboBox")->isHidden());
    EXPECT_TRUE(Control<QPushButton>(*Form, "SaveSettingsButton")->isEnabled());
}

TEST_F(ControlsTest, HandlersRejectForeignSenders) {
    QCheckBox foreignBox;
    QLabel notASelector;
    struct Case {
        std::function<void()> Call;
        QString Caption;
        QString Text;
    } cases[] = {
        {[&] { Form->EnaChannelLMDCheckBoxChange(&foreignBox); }, "Ошибка EnaChannelLMDCheckBoxChange()!",
         "Не могу опознать управляюшщий элемент типа TLMDCheckBox!"},
        {[&] { Form->EnaChannelLMDCheckBoxChange(&notASelector); }, "Ошибка EnaChannelLMDCheckBoxChange()!!!",
         "Не могу привести тип!"},
        {[&] { Form->InputRangeLMDComboBoxChange(&notASelector); }, "Ошибка InputRangeLMDComboBoxChange()!!!",
         "Не могу привести тип!"},
        {[&] { Form->CommonMeasuringModeLMDComboBoxChange(&notASelector); },
         "Ошибка CommonMeasuringMethodLMDComboBoxChange()!!!", "Не могу привести тип!"},
        {[&] { Form->LMDComboBoxChange(&notASelector); }, "Ошибка LMDComboBoxChange()!!!",
         "Не могу привести тип!"},
    };
    for (const Case& c : cases) {
        ModalCatcher catcher;
        c.Call();
        ASSERT_EQ(catcher.Captions.size(), 1);
        EXPECT_EQ(catcher.Captions[0], c.Caption);
        EXPECT_EQ(catcher.Texts[0], c.Text);
        EXPECT_FALSE(Form->HandlersHeld());
    }
    EXPECT_EQ(Control<QCheckBox>(*Form, "AllChannelsLMDCheckBox")->checkState(), Qt::Unchecked);
}

TEST_F(ControlsTest, ValueUnderThePointerIsSelectedWhileTheApplicationIsActive) {
    Form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
    QLineEdit* value = Frame(0)->Value1LMDEdit;
    QCursor::setPos(value->mapToGlobal(value->rect().center()));
    ASSERT_EQ(QCursor::pos(), value->mapToGlobal(value->rect().center()));

    Frame(0)->ApplicationActive = false;
    value->setText("1.0000");
    EXPECT_FALSE(value->hasSelectedText());
    Frame(0)->ApplicationActive = true;
    value->setText("2.0000");
    EXPECT_EQ(value->selectedText(), "2.0000");

    QCursor::setPos(Form->mapToGlobal(QPoint(5, 5)));
    value->setText("3.0000");
    EXPECT_FALSE(value->hasSelectedText());
}

TEST(CommonRangeSelectors, OnlyTheVoltageSelectorShowsBeforeAModeIsChosen) {
    TMainForm form;
    EXPECT_EQ(Control<QComboBox>(form, "CommonMeasuringModeLMDComboBox")->currentIndex(), -1);
    EXPECT_FALSE(Control<QComboBox>(form, "CommonInputRangeULMDComboBox")->isHidden());
    EXPECT_TRUE(Control<QComboBox>(form, "CommonInputRangeRLMDComboBox")->isHidden());
}

TEST_F(ControlsTest, SelectionOfTheValueShowsOnlyWithTheFocus) {
    Form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
    QLineEdit* value = Frame(0)->Value1LMDEdit;
    value->setText("1.2345");
    value->selectAll();
    ASSERT_TRUE(value->hasSelectedText());
    auto selectionLooksLikeText = [value] {
        const QPalette pal = value->palette();
        return pal.color(QPalette::Active, QPalette::Highlight) ==
                   pal.color(QPalette::Active, QPalette::Base) &&
               pal.color(QPalette::Active, QPalette::HighlightedText) ==
                   pal.color(QPalette::Active, QPalette::Text);
    };
    EXPECT_TRUE(selectionLooksLikeText());

    QFocusEvent in(QEvent::FocusIn, Qt::MouseFocusReason);
    QApplication::sendEvent(value, &in);
    EXPECT_EQ(value->palette().color(QPalette::Active, QPalette::Highlight), QColor(Qt::white));
    EXPECT_EQ(value->palette().color(QPalette::Active, QPalette::HighlightedText), QColor(0, 128, 0));

    QFocusEvent out(QEvent::FocusOut, Qt::MouseFocusReason);
    QApplication::sendEvent(value, &out);
    EXPECT_TRUE(selectionLooksLikeText());
}

TEST_F(ControlsTest, UpdateLampStates) {
    TKm808AdcChannelFrame* f = Frame(0);
    f->SetUpdateLamp(0);
    EXPECT_EQ(f->FlashLed->Color(), QColor(0, 128, 0));
    f->SetUpdateLamp(7);
    EXPECT_EQ(f->FlashLed->Color(), QColor(0, 128, 0));
    f->SetUpdateLamp(1);
    EXPECT_EQ(f->FlashLed->Color(), QColor(255, 0, 0));
    EXPECT_TRUE(f->FlashLed->IsOn());
    f->SetUpdateLamp(2);
    EXPECT_FALSE(f->FlashLed->IsOn());
}

// A number stays in its box only while it still means what the title says:
// after a switch between voltage and resistance it was measured in the other
// quantity, and a box of a channel switched off shows no reading at all.
TEST_F(ControlsTest, ValueOfTheOtherQuantityIsNotShownUnderTheNewTitle) {
    using Look = TKm808AdcChannelFrame::TValueLook;
    struct Case {
        const char* name;
        int fromMode, toMode, ch;
        bool uncheck;
        const char* shown; // expected text after the change; nullptr: the number stays
    };
    const Case cases[] = {
        {"voltage to resistance", 0, 1, 0, false, "--------"},
        {"resistance to voltage", 1, 0, 7, false, "--------"},
        {"voltage to resistance, upper channel", 0, 1, 8, false, "--------"},
        {"same mode chosen again", 0, 0, 2, false, nullptr},
        {"over-range channel switched off", 0, 0, 5, true, "--------"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Control<QCheckBox>(*Form, "AllChannelsLMDCheckBox")->setCheckState(Qt::Checked);
        Control<QComboBox>(*Form, "CommonMeasuringModeLMDComboBox")->setCurrentIndex(c.fromMode);
        Form->CommonMeasuringModeLMDComboBoxChange(
            Control<QComboBox>(*Form, "CommonMeasuringModeLMDComboBox"));
        TKm808AdcChannelFrame* f = Frame(c.ch);
        f->Value1LMDEdit->setText("-9981.5499");
        f->SetValueLook(Look::OverRange);
        f->SetUpdateLamp(1);

        if (c.uncheck)
            f->ChannelNumberLMDCheckBox->click();
        else {
            Control<QComboBox>(*Form, "CommonMeasuringModeLMDComboBox")->setCurrentIndex(c.toMode);
            Form->CommonMeasuringModeLMDComboBoxChange(
                Control<QComboBox>(*Form, "CommonMeasuringModeLMDComboBox"));
        }

        if (!c.shown) {
            EXPECT_EQ(f->Value1LMDEdit->text(), "-9981.5499");
            EXPECT_EQ(f->ValueLook(), Look::OverRange);
            EXPECT_TRUE(f->FlashLed->IsOn());
            continue;
        }
        EXPECT_EQ(f->Value1LMDEdit->text(), c.shown);
        EXPECT_EQ(f->ValueLook(), Look::Live);
        EXPECT_FALSE(f->FlashLed->IsOn());
    }
}

} // namespace
