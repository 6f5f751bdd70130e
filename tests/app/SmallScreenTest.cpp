// The main window on a 1280x768 screen, lower than the fitted window: the
// window takes the work-area height and the channel area scrolls.
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QTest>
#include <QWheelEvent>

#include "../ui/FormFixture.h"
#include "FormControl.h"
#include "ui/TKm808AdcChannelFrame.h"

namespace {

using SmallScreen = FormTest;

void Wheel(QWidget* target, const QPoint& globalPos, int delta) {
    QWheelEvent event(target->mapFromGlobal(globalPos), globalPos, QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &event);
}

TEST_F(SmallScreen, WindowTakesTheWorkAreaHeightAndTheChannelsScroll) {
    ASSERT_EQ(QGuiApplication::primaryScreen()->geometry(), QRect(0, 0, 1280, 768));
    Form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
    QTest::qWait(50);

    const QRect area = Form->screen()->availableGeometry();
    EXPECT_EQ(Form->frameGeometry().height(), area.height());
    EXPECT_EQ(Form->frameGeometry().top(), 0);
    EXPECT_EQ(Form->width(), 1139); // already wider than the panel and its bar

    QScrollArea* box = Control<QScrollArea>(*Form, "AdcIndividualParsLMDScrollBox");
    QScrollBar* bar = box->verticalScrollBar();
    EXPECT_TRUE(bar->isVisible());
    const int s = Form->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, box);
    EXPECT_EQ(bar->width(), s);
    EXPECT_EQ(Control<QFrame>(*Form, "MultimeterLMDSimplePanel")->height(),
              Control<QWidget>(*Form, "MultimeterLMDTabSheet")->height() - 10);
    EXPECT_EQ(Control<QFrame>(*Form, "MultimeterLMDSimplePanel")->width(), 965 + s);
    EXPECT_EQ(Control<QFrame>(*Form, "MultimeterLMDSimplePanel")->x(),
              (Control<QWidget>(*Form, "MultimeterLMDTabSheet")->width() -
               Control<QFrame>(*Form, "MultimeterLMDSimplePanel")->width()) /
                  2);
    EXPECT_EQ(bar->maximum() + box->viewport()->height(), 530);
    EXPECT_GE(box->viewport()->width(), 950);
}

TEST_F(SmallScreen, WheelScrollsOnlyOverTheScrollBoxItself) {
    Form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
    QTest::qWait(50);
    QScrollBar* bar = Control<QScrollArea>(*Form, "AdcIndividualParsLMDScrollBox")->verticalScrollBar();
    ASSERT_TRUE(bar->isVisible());

    QLabel* overFrame = Form->ChannelFrames[1]->InputRangeLabLMDComboBox;
    const QPoint framePoint = overFrame->mapToGlobal(overFrame->rect().center());
    ASSERT_EQ(QApplication::widgetAt(framePoint), overFrame);
    Wheel(overFrame, framePoint, -120);
    EXPECT_EQ(bar->value(), 0);

    const QPoint barPoint = bar->mapToGlobal(bar->rect().center());
    Wheel(bar, barPoint, -120);
    EXPECT_EQ(bar->value(), 1);
    Wheel(bar, barPoint, 120);
    EXPECT_EQ(bar->value(), 0);
    EXPECT_TRUE(Control<QScrollArea>(*Form, "AdcIndividualParsLMDScrollBox")->hasFocus() ||
                !Form->isActiveWindow());
}

} // namespace
