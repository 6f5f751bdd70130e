// What the server reports about a module, taken as it is: two modules with the
// same (or no) serial are still two modules, and a serial or name that looks
// like markup is shown literally.
#include "DiscoveryFixture.h"
#include "EmulatorProcess.h"
#include "FormControl.h"

#include "settings/SettingsKeys.h"
#include "settings/TSettingsFile.h"
#include "ui/TLed.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QHelpEvent>
#include <QLabel>
#include <QTest>
#include <QTextDocument>
#include <QToolTip>
#include <gtest/gtest.h>

using namespace DiscoveryTesting;

namespace {

// The slot of the module opened last.
int LastOpenedSlot(EmulatorProcess& emulator) {
    const QStringList opens = emulator.LogLines("Open");
    return opens.isEmpty() ? -1 : opens.last().split(' ', Qt::SkipEmptyParts).value(3).toInt();
}

struct SameSerialCase {
    const char* Name;
    const char* Serial;
};

void PrintTo(const SameSerialCase& c, std::ostream* os) {
    *os << c.Name;
}

class SameSerial : public ::testing::TestWithParam<SameSerialCase> {};

TEST_P(SameSerial, ChoosingTheOtherModuleOpensItAndSavesItsSlot) {
    const QByteArray serial = GetParam().Serial;
    EmulatorProcess emulator(Config({Crate("QR000001", {Km808Slot(3, serial), Km808Slot(9, serial)})}));
    ASSERT_TRUE(emulator.Started()) << emulator.Error.toStdString();
    DialogRecorder recorder;
    WindowUnderTest window;
    TMainForm& form = *window.Form;
    ASSERT_TRUE(window.StartUp());
    ASSERT_EQ(Control<QComboBox>(form, "ModulesComboBox")->count(), 2);
    ASSERT_EQ(LastOpenedSlot(emulator), 3);
    EXPECT_EQ(Control<QLabel>(form, "ModuleSerialNumberLMDLabel")->text().toStdString(),
              serial.toStdString());

    Control<QComboBox>(form, "ModulesComboBox")->setCurrentIndex(1);
    ASSERT_TRUE(WaitForIdle(form));
    EXPECT_EQ(LastOpenedSlot(emulator), 9);
    EXPECT_EQ(form.DeviceState().SelectedModuleIndex[0], 1);
    EXPECT_EQ(form.DeviceState().ModuleState, 2);

    // Choosing the open one again reopens nothing.
    const int opens = emulator.LogLines("Open").size();
    Control<QComboBox>(form, "ModulesComboBox")->setCurrentIndex(0);
    ASSERT_TRUE(WaitForIdle(form));
    EXPECT_EQ(LastOpenedSlot(emulator), 3);
    Control<QComboBox>(form, "ModulesComboBox")->setCurrentIndex(1);
    ASSERT_TRUE(WaitForIdle(form));
    EXPECT_EQ(emulator.LogLines("Open").size(), opens + 2);

    const QString path = QDir(window.SettingsDir.path()).filePath("Km808_Viza.ini");
    form.SaveIniFile(path);
    EXPECT_EQ(
        TSettingsFile::Open(path)->ReadInteger(SettingsKeys::DiscoverySection, SettingsKeys::ModuleSlot, -1),
        9);
    EXPECT_TRUE(recorder.Texts.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Serials, SameSerial,
                         ::testing::Values(SameSerialCase{"Same", "KM0000001"}, SameSerialCase{"Blank", ""}),
                         [](const auto& info) { return std::string(info.param.Name); });

// The text a hint shows, as the operator reads it.
QString ShownHint(QWidget* widget) {
    QHelpEvent help(QEvent::ToolTip, QPoint(2, 2), widget->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(widget, &help);
    QLabel* tip = nullptr;
    (void)QTest::qWaitFor([&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == "qtooltip_label" && w->isVisible())
                tip = qobject_cast<QLabel*>(w);
        return tip != nullptr;
    });
    if (tip == nullptr)
        return "(no hint shown)";
    const bool rich = tip->textFormat() == Qt::RichText ||
                      (tip->textFormat() == Qt::AutoText && Qt::mightBeRichText(tip->text()));
    QString shown = tip->text();
    if (rich) {
        QTextDocument document;
        document.setHtml(shown);
        shown = document.toPlainText();
    }
    QToolTip::hideText();
    return shown;
}

// What a label shows, as the operator reads it.
QString ShownLabel(const QLabel* label) {
    const bool rich = label->textFormat() == Qt::RichText ||
                      (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text()));
    if (!rich)
        return label->text();
    QTextDocument document;
    document.setHtml(label->text());
    return document.toPlainText();
}

TEST(DeviceText, MarkupFromTheServerIsShownLiterally) {
    EmulatorProcess emulator(
        Config({Crate("QR<b>1</b>", {Km808Slot(3, "<h1>BIG</h1>", R"("name": "<h1>KM")")})}));
    ASSERT_TRUE(emulator.Started()) << emulator.Error.toStdString();
    DialogRecorder recorder;
    WindowUnderTest window;
    TMainForm& form = *window.Form;
    ASSERT_TRUE(window.StartUp());
    ASSERT_EQ(form.DeviceState().ModuleState, 2);

    EXPECT_EQ(ShownLabel(Control<QLabel>(form, "ModuleSerialNumberLMDLabel")).toStdString(), "<h1>BIG</h1>");
    EXPECT_EQ(Control<QComboBox>(form, "QiraCratesComboBox")->currentText().toStdString(), "1: QR<b>1</b>");
    EXPECT_EQ(Control<TLed>(form, "ModuleStatusLed")->toolTip().toStdString(),
              "Статус модуля '<h1>KM' -> OK");
    EXPECT_EQ(ShownHint(Control<TLed>(form, "ModuleStatusLed")).toStdString(),
              "Статус модуля '<h1>KM' -> OK");
    // An ordinary hint is shown as before.
    EXPECT_EQ(ShownHint(Control<TLed>(form, "QiraCrateStatusLed")).toStdString(), "Статус QIRA крейта -> OK");
    // The settings' texts shown in labels are plain text as well.
    Control<QLabel>(form, "ComputationModeLabLMDLabel")->setText("<i>sum</i>");
    EXPECT_EQ(ShownLabel(Control<QLabel>(form, "ComputationModeLabLMDLabel")).toStdString(), "<i>sum</i>");
}

} // namespace
