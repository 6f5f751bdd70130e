// The display of a block's values in the channel frames, on a window that is
// not shown and a worker that is not started.
#include "app/ChannelDisplay.h"
#include "FormControl.h"
#include "app/TMainForm.h"
#include "app/TMainThread.h"
#include "ui/TKm808AdcChannelFrame.h"
#include "ui/TLed.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

namespace {

class ChannelDisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        Form.HoldHandlers(true);
        Control<QComboBox>(Form, "CommonMeasuringModeLMDComboBox")->setCurrentIndex(0);
        Form.EnableChannelFrames();
        for (int c : {0, 2, 9})
            Form.ChannelFrames[c]->ChannelNumberLMDCheckBox->setChecked(true);
        Form.HoldHandlers(false);
        Worker.ChannelQuantity[2] = 1;
    }

    TMainForm Form;
    TMainThread Worker{&Form, &Form.DeviceState().ModuleControl};
};

TEST_F(ChannelDisplayTest, ValuesShownWithTheRangeDecimalsAndLampsBlinkOnce) {
    // The run's formats, as the start of a measurement hands them over.
    Worker.ValueFormats[0] = "0.000";
    Worker.ValueFormats[1] = "0.";
    Worker.ValueFormats[5] = "0.0";
    Form.HoldHandlers(true);
    Form.ChannelFrames[3]->ChannelNumberLMDCheckBox->setChecked(true);
    Form.ChannelFrames[4]->ChannelNumberLMDCheckBox->setChecked(true);
    Form.ChannelFrames[15]->ChannelNumberLMDCheckBox->setEnabled(false);
    Form.ChannelFrames[15]->Value1LMDEdit->setText("kept");
    Form.HoldHandlers(false);
    Worker.VoltageValues[0] = 1.25;   // 10 V range, 3 decimals
    Worker.VoltageValues[9] = 0.7504; // 2 V range, no decimals
    Worker.ChannelRange[9] = 1;
    Worker.ResistanceValues[3] = 3210.04; // 4000 Ω, 1 decimal
    Worker.ChannelQuantity[3] = 1;
    Worker.ChannelRangeR[3] = 2;
    Worker.ChannelRange[4] = -1; // a selector that showed no item
    Form.ChannelFrames[4]->Value1LMDEdit->setText("untouched");

    for (TKm808AdcChannelFrame* f : Form.ChannelFrames)
        f->SetUpdateLamp(0);
    const bool active[16] = {true, true, true, true, true, true, true, true,
                             true, true, true, true, true, true, true, true};
    RecordReading(Worker, active);
    ShowChannelValues(Form, Worker.Reading);
    EXPECT_EQ(Form.ChannelFrames[0]->Value1LMDEdit->text(), "1250.000");
    EXPECT_EQ(Form.ChannelFrames[0]->Value1LMDEdit->palette().color(QPalette::Text), QColor(0, 255, 0));
    EXPECT_EQ(Form.ChannelFrames[9]->Value1LMDEdit->text(), "750");
    EXPECT_EQ(Form.ChannelFrames[3]->Value1LMDEdit->text(), "3210.0");
    EXPECT_EQ(Form.ChannelFrames[1]->Value1LMDEdit->text(), "--------");
    EXPECT_EQ(Form.ChannelFrames[4]->Value1LMDEdit->text(), "untouched");
    EXPECT_EQ(Form.ChannelFrames[15]->Value1LMDEdit->text(), "kept");
    for (TKm808AdcChannelFrame* f : Form.ChannelFrames)
        EXPECT_FALSE(f->FlashLed->IsOn());

    ShowFrameLeds(Form, Worker.Reading);
    for (int c = 0; c < 16; ++c) {
        const bool active = c == 0 || c == 2 || c == 3 || c == 4 || c == 9;
        EXPECT_EQ(Form.ChannelFrames[c]->FlashLed->IsOn(), active) << c;
    }
}

TEST_F(ChannelDisplayTest, EachMeasuringChannelKeepsItsRangesFaceForTheRun) {
    Worker.ValueFormats[0] = "0.0000000000"; // the run's formats, not the window's
    Worker.ValueFormats[2] = "0.0000000000";
    std::fill(std::begin(Worker.ChannelPosition), std::end(Worker.ChannelPosition), NoChannelPosition);
    Worker.ChannelPosition[0] = 0; // 10 V
    Worker.ChannelPosition[9] = 1; // 0.4 V
    Worker.ChannelRange[9] = 2;
    auto px = [&](int c) { return Form.ChannelFrames[c]->Value1LMDEdit->font().pixelSize(); };
    const int idlePx = px(1);
    ChooseValueFaces(Form, Worker);
    const int runPx = px(0);
    EXPECT_LT(runPx, px(9)) << "the wider range has the longer texts";
    EXPECT_EQ(px(1), idlePx) << "a channel without readings";
    bool active[16];
    std::fill(std::begin(active), std::end(active), true);
    for (double volts : {0.0099999999999, 0.01, -1e-13, 9.9999}) {
        Worker.VoltageValues[0] = volts;
        RecordReading(Worker, active);
        ShowChannelValues(Form, Worker.Reading);
        EXPECT_EQ(px(0), runPx) << Form.ChannelFrames[0]->Value1LMDEdit->text().toStdString();
    }
}

} // namespace
