// The worker message dialog: its restyled geometry for both button layouts,
// wrapping of long texts, centring on the main window, colours, and the
// Escape handling switched off while it is open.
#include "ui/WorkerMessageDialog.h"
#include "app/TInitAndConfigThread.h"

#include "app/TMainForm.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

struct SeenDialog {
    bool Modal = false;
    QString Caption;
    QRect Frame;  // border included
    QSize Client; // inside the border
    int PointSize = 0;
    QColor Background;
    QColor TextColour;
    QRect Label; // the message text, in dialog coordinates
    QRect Icon;  // the dialog type's icon, empty when it has none
    QList<QRect> Buttons;
    QStringList ButtonTexts;
    int ButtonIcons = 0; // buttons that carry an icon beside their caption
    bool ShortCutHandlerEnabled = true;
};

// Shows the dialog and reads it from a timer once it is open, as an operator
// would see it, then presses its first button; shortcutsEnabled: the flag the
// dialog holds off while it is open, if any.
SeenDialog ShowAndRead(TMainForm* form, const WorkerMessageRequest& request, ButtonLayout layout,
                       bool* shortcutsEnabled = nullptr) {
    SeenDialog seen;
    WorkerMessageDialog::SetShownObserver([&](QMessageBox& box) {
        QTimer::singleShot(0, &box, [&] {
            seen.Modal = QApplication::activeModalWidget() == &box;
            seen.Caption = box.windowTitle();
            seen.Frame = box.frameGeometry();
            seen.Client = box.size();
            seen.PointSize = box.font().pointSize();
            seen.Background = box.palette().color(QPalette::Window);
            seen.TextColour = box.palette().color(QPalette::WindowText);
            for (QLabel* label : box.findChildren<QLabel*>())
                if (label->text() == request.Text)
                    seen.Label = QRect(label->mapTo(&box, QPoint(0, 0)), label->size());
            if (const QLabel* icon = box.findChild<QLabel*>("qt_msgboxex_icon_label");
                icon && !icon->isHidden())
                seen.Icon = QRect(icon->mapTo(&box, QPoint(0, 0)), icon->size());
            for (QAbstractButton* b : box.buttons()) {
                seen.Buttons << QRect(b->mapTo(&box, QPoint(0, 0)), b->size());
                seen.ButtonTexts << b->text();
                seen.ButtonIcons += b->icon().isNull() ? 0 : 1;
            }
            if (shortcutsEnabled)
                seen.ShortCutHandlerEnabled = *shortcutsEnabled;
            box.buttons().first()->click();
        });
    });
    ShowWorkerMessageDialog(form, shortcutsEnabled, request, layout);
    WorkerMessageDialog::SetShownObserver(nullptr);
    return seen;
}

WorkerMessageRequest Request(const QString& text, QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                             const QStringList& captions = {"Принято"}) {
    return {"Сообщение TMainThread::Execute()!!!", QMessageBox::Critical, buttons, captions, text};
}

QFontMetrics DialogMetrics() {
    QFont f = QApplication::font();
    f.setPointSize(WorkerMessageDialog::FontPointSize);
    return QFontMetrics(f);
}

struct LayoutCase {
    const char* Name;
    ButtonLayout Layout;
    QMessageBox::StandardButtons Buttons;
    QStringList Captions;
};
void PrintTo(const LayoutCase& c, std::ostream* os) {
    *os << c.Name;
}

class DialogButtons : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(DialogButtons, AreCaptionedSizedAndPlacedBelowTheText) {
    const LayoutCase& c = GetParam();
    const SeenDialog seen = ShowAndRead(nullptr, Request("Текст сообщения", c.Buttons, c.Captions), c.Layout);

    ASSERT_EQ(seen.Buttons.size(), c.Captions.size());
    EXPECT_EQ(seen.ButtonTexts, c.Captions);
    const QFontMetrics fm = DialogMetrics();
    const int n = int(c.Captions.size());
    const int client = seen.Client.width();
    int common = 100;
    for (const QString& caption : c.Captions)
        common = std::max(common, fm.horizontalAdvance(caption) + 20);
    for (int l = 0; l < n; ++l) {
        const QRect b = seen.Buttons[l];
        const int w = c.Layout == ButtonLayout::OwnWidth ? fm.horizontalAdvance(c.Captions[l]) + 20 : common;
        const int left = c.Layout == ButtonLayout::OwnWidth ? (client - w) / 2
                                                            : (client - n * w) * (l + 1) / (n + 1) + l * w;
        EXPECT_EQ(b.width(), w) << l;
        EXPECT_EQ(b.left(), left) << l;
        EXPECT_EQ(b.top(), seen.Label.bottom() + 1 + 10) << l;
        EXPECT_EQ(b.height(), fm.height() + 15) << l;
    }
    EXPECT_EQ(seen.Frame.width(), 570);
    EXPECT_EQ(seen.Client.height(), seen.Buttons.last().bottom() + 1 + 10);
    // Each button holds its caption alone, and the dialog's icon beside a
    // one-line text keeps the same gap to the buttons.
    EXPECT_EQ(seen.ButtonIcons, 0);
    ASSERT_FALSE(seen.Icon.isEmpty());
    for (const QRect& b : seen.Buttons)
        EXPECT_GE(b.top(), seen.Icon.bottom() + 1 + 10);
}

INSTANTIATE_TEST_SUITE_P(
    Discovery, DialogButtons,
    ::testing::Values(LayoutCase{"OwnWidthOneButton", ButtonLayout::OwnWidth, QMessageBox::Ok, {"Принято"}},
                      LayoutCase{
                          "CommonWidthOneButton", ButtonLayout::CommonWidth, QMessageBox::Ok, {"Принято"}},
                      LayoutCase{"CommonWidthTwoButtons",
                                 ButtonLayout::CommonWidth,
                                 QMessageBox::Ok | QMessageBox::Cancel,
                                 {"Да", "Отменить всё немедленно"}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(WorkerMessageDialog, LongTextWrapsAndTheHeightFollowsIt) {
    QString text;
    for (int i = 0; i < 40; ++i)
        text += "Очень длинное сообщение об ошибке ";
    const SeenDialog seen = ShowAndRead(nullptr, Request(text), ButtonLayout::OwnWidth);

    const QFontMetrics fm = DialogMetrics();
    EXPECT_EQ(seen.Frame.width(), 570);
    EXPECT_LT(seen.Label.right(), seen.Client.width());
    EXPECT_GE(seen.Label.height(), 5 * fm.height());
    EXPECT_EQ(seen.Client.height(), seen.Label.bottom() + 1 + 10 + fm.height() + 15 + 10);
    EXPECT_NE(seen.Frame.height(), 600);
}

TEST(WorkerMessageDialog, IsModalStyledAndCentredOnTheMainWindow) {
    TMainForm form;
    form.setGeometry(100, 80, 1200, 800);
    const int before = WorkerMessageDialog::ShownCount();

    const SeenDialog seen = ShowAndRead(&form, Request("Текст"), ButtonLayout::CommonWidth);

    EXPECT_TRUE(seen.Modal);
    EXPECT_EQ(seen.Caption, "Сообщение TMainThread::Execute()!!!");
    EXPECT_EQ(seen.PointSize, 12);
    EXPECT_EQ(seen.Background, QColor(255, 128, 32));
    EXPECT_EQ(seen.TextColour, QColor(Qt::white));
    const QRect main = form.frameGeometry();
    EXPECT_EQ(seen.Frame.left(), main.left() + (main.width() - seen.Frame.width()) / 2);
    EXPECT_EQ(seen.Frame.top(), main.top() + (main.height() - seen.Frame.height()) / 2);
    EXPECT_EQ(WorkerMessageDialog::ShownCount(), before + 1);
}

TEST(WorkerMessageDialog, EscapeHandlingIsOffWhileOpenAndRestoredAfter) {
    TMainForm form;
    for (const bool enabled : {true, false}) {
        bool shortcutsEnabled = enabled;
        const SeenDialog seen =
            ShowAndRead(&form, Request("Текст"), ButtonLayout::CommonWidth, &shortcutsEnabled);
        EXPECT_FALSE(seen.ShortCutHandlerEnabled);
        EXPECT_EQ(shortcutsEnabled, enabled);
    }
}

TEST(WorkerMessageDialog, OnlyTheFirstMessageOfAWorkerIsShown) {
    TMainForm form;
    TInitAndConfigThread worker(&form, TInitAndConfigThread::FullDetection, false);
    QStringList shown;
    WorkerMessageDialog::SetShownObserver([&](QMessageBox& box) {
        shown << box.text();
        QTimer::singleShot(0, &box, [&box] { box.buttons().first()->click(); });
    });

    worker.Report("первое");
    worker.Report("второе");
    WorkerMessageDialog::SetShownObserver(nullptr);

    EXPECT_EQ(shown, QStringList{"первое"});
    EXPECT_TRUE(worker.MessageShown);
    EXPECT_EQ(worker.MessageText, "второе");
}

} // namespace
