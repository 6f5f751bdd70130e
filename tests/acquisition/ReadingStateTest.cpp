// What the value boxes and lamps say about a reading: live, at or beyond its
// range's limit, or left over from a measurement that ended on a failure.
#include "FormControl.h"
#include "MeasurementWindow.h"

#include "ui/TKm808AdcChannelFrame.h"
#include "ui/TLed.h"

#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

#define REQUIRE_WINDOW(w) ASSERT_TRUE((w).Failure.isEmpty()) << (w).Failure.toStdString()

// Colours by name, so that a failure reads plainly.
const std::string LampGreen = "#008000";
const std::string LampRed = "#ff0000";
const std::string ModuleGreen = "#00ff00";
const std::string LiveText = "#00ff00";
const std::string OverRangeText = "#ff0000";
const std::string StaleText = "#808080";

std::string TextColor(const TKm808AdcChannelFrame* f) {
    return f->Value1LMDEdit->palette().color(QPalette::Active, QPalette::Text).name().toStdString();
}

std::string Lamp(const TLed* led) {
    return led->Color().name().toStdString();
}

struct ChannelCase {
    const char* What;
    int Channel; // 0-based
    int Range;   // index into the mode's ranges
    bool Beyond; // the reading must not look valid
};

void ExpectLooks(MeasurementWindow& w, const std::vector<ChannelCase>& cases) {
    for (const ChannelCase& c : cases) {
        const TKm808AdcChannelFrame* f = w.Form->ChannelFrames[c.Channel];
        SCOPED_TRACE(c.What);
        EXPECT_FALSE(std::isnan(w.Value(c.Channel)))
            << "the number stays: " << w.ValueText(c.Channel).toStdString();
        EXPECT_EQ(TextColor(f), c.Beyond ? OverRangeText : LiveText);
        EXPECT_TRUE(f->FlashLed->IsOn());
        EXPECT_EQ(Lamp(f->FlashLed), c.Beyond ? LampRed : LampGreen);
    }
}

void MeasureAndExpect(const QByteArray& config, MeasurementSetup s, const std::vector<ChannelCase>& cases) {
    MeasurementWindow w(config);
    REQUIRE_WINDOW(w);
    s.Active.clear();
    for (const ChannelCase& c : cases) {
        s.Active.push_back(c.Channel);
        (s.Mode == 0 ? s.RangeU : s.RangeR)[c.Channel] = c.Range;
    }
    w.Configure(s);
    w.PressStart();
    ASSERT_TRUE(w.WaitBlocks(2)) << w.Messages.join("|").toStdString();
    ExpectLooks(w, cases);
    w.PressStop();
    ASSERT_TRUE(w.WaitIdle());
}

// Voltage: the converter clips at full scale, so with a gain error 12.5 V on
// the 10 V range reads just below 10 V; a reading at the range's limit
// itself and negative overloads count as well.
TEST(ReadingState, VoltageBeyondItsRangeIsShownAsSuch) {
    const QByteArray config = EmulatorConfig({{1, 12.5}, {2, 1.5}, {3, -0.5}, {4, 0.3}, {5, -12.0}, {6, 9.5}},
                                             R"("gain_error": 0.002, "offset_error_v": 0.0015)");
    MeasurementSetup s;
    MeasureAndExpect(config, s,
                     {{"12.5 V on 10 V (clipped)", 0, 0, true},
                      {"1.5 V on 2 V", 1, 1, false},
                      {"-0.5 V on 0.4 V", 2, 2, true},
                      {"0.3 V on 0.4 V", 3, 2, false},
                      {"-12 V on 10 V", 4, 0, true},
                      {"9.5 V on 10 V", 5, 0, false}});
}

// Resistance: the 400 Ω range clips near 500 Ω (560 to 3900 Ω and an open
// input all read about 497.5 Ω); 4500 Ω on the 4000 Ω range is not clipped
// but lies beyond the range.
TEST(ReadingState, ResistanceBeyondItsRangeIsShownAsSuch) {
    const QByteArray config = EmulatorConfig(
        {{1, 0, 560}, {2, 0, 330}, {3, 0, 3900}, {4, 0, 0}, {5, 0, 4500}, {6, 0, 1000}, {7, 0, 3300}},
        R"("gain_error": 0.002, "offset_error_v": 0.0015)");
    MeasurementSetup s;
    s.Mode = 1;
    MeasureAndExpect(config, s,
                     {{"560 Ohm on 400", 0, 0, true},
                      {"330 Ohm on 400", 1, 0, false},
                      {"3900 Ohm on 400", 2, 0, true},
                      {"open input on 1200", 3, 1, true},
                      {"4500 Ohm on 4000", 4, 2, true},
                      {"1000 Ohm on 1200", 5, 1, false},
                      {"3300 Ohm on 4000", 6, 2, false}});
}

// A measurement that ends on a failure leaves its numbers but not the look
// of a running one; the module lamp says whether the link still answers.
TEST(ReadingState, AfterAFailureValuesAreStaleAndTheModuleLampTellsTheLink) {
    MeasurementWindow w(EmulatorConfig({{1, 1.25}, {2, 12.5}}, R"("faults": {"drop_after_words": 3000})"));
    REQUIRE_WINDOW(w);
    MeasurementSetup s;
    s.Active = {0, 1};
    w.Configure(s);
    w.PressStart();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.Messages.isEmpty(); }, 20000));
    ASSERT_TRUE(w.WaitIdle());
    EXPECT_EQ(w.Messages.join("|").toStdString(), "Не могу получить данные с модуля!");
    for (int ch : {0, 1}) {
        const TKm808AdcChannelFrame* f = w.Form->ChannelFrames[ch];
        EXPECT_NEAR(w.Value(ch), ch == 0 ? 1250.0 : 10000.0, 30.0) << ch;
        EXPECT_EQ(TextColor(f), StaleText) << ch;
        EXPECT_FALSE(f->FlashLed->IsOn()) << ch;
    }
    // The data link dropped but the module still answers.
    EXPECT_EQ(Lamp(Control<TLed>(*w.Form, "ModuleStatusLed")), ModuleGreen);
    EXPECT_EQ(Control<TLed>(*w.Form, "ModuleStatusLed")->toolTip().toStdString(),
              "Статус модуля 'KM808' -> OK");

    // The crate server goes away during the next measurement: the lamp turns red.
    w.Messages.clear();
    w.PressStart();
    ASSERT_TRUE(w.WaitBlocks(1)) << w.Messages.join("|").toStdString();
    EXPECT_EQ(TextColor(w.Form->ChannelFrames[0]), LiveText);
    w.Emulator->Kill();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.Messages.isEmpty(); }, 20000));
    ASSERT_TRUE(w.WaitIdle());
    EXPECT_EQ(TextColor(w.Form->ChannelFrames[0]), StaleText);
    EXPECT_EQ(Lamp(Control<TLed>(*w.Form, "ModuleStatusLed")), LampRed);
    EXPECT_EQ(Control<TLed>(*w.Form, "ModuleStatusLed")->toolTip().toStdString(),
              "Статус модуля 'KM808' -> BAD");

    // While no server answers, a start says so instead of a set-up failure.
    w.Messages.clear();
    w.PressStart();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.Messages.isEmpty(); }, 20000));
    ASSERT_TRUE(w.WaitIdle());
    EXPECT_EQ(w.Messages.join("|").toStdString(),
              "Нет связи с модулем!!!\nПроверьте сервер крейтов и нажмите \"Обнаружить\".");
    EXPECT_EQ(Lamp(Control<TLed>(*w.Form, "ModuleStatusLed")), LampRed);

    // Once a server answers again the next start measures without a detection.
    w.Emulator = std::make_unique<EmulatorProcess>(EmulatorConfig({{1, 1.25}, {2, 12.5}}));
    ASSERT_TRUE(w.Emulator->Started());
    w.Messages.clear();
    w.PressStart();
    ASSERT_TRUE(w.WaitBlocks(1)) << w.Messages.join("|").toStdString();
    EXPECT_TRUE(w.Messages.isEmpty());
    EXPECT_EQ(TextColor(w.Form->ChannelFrames[0]), LiveText);
    EXPECT_EQ(Lamp(Control<TLed>(*w.Form, "ModuleStatusLed")), ModuleGreen);
    EXPECT_EQ(Control<TLed>(*w.Form, "ModuleStatusLed")->toolTip().toStdString(),
              "Статус модуля 'KM808' -> OK");
    w.PressStop();
    ASSERT_TRUE(w.WaitIdle());
}

// A crate server restarted between measurements: the first start reopens the
// module and measures; a different module now in the slot is refused rather
// than measured under the old one's serial.
TEST(ReadingState, AfterAServerRestartTheFirstStartReopensAndChecksTheModule) {
    // The same set-up with one field of the module changed.
    const auto config = [](const QByteArray& from = {}, const QByteArray& to = {}) {
        QByteArray text = EmulatorConfig({{1, 1.25}});
        return from.isEmpty() ? text : text.replace(from, to);
    };
    MeasurementWindow w(config());
    REQUIRE_WINDOW(w);
    MeasurementSetup s;
    w.Configure(s);
    const auto restartWith = [&](const QByteArray& from, const QByteArray& to) {
        w.Emulator->Kill();
        w.Emulator = std::make_unique<EmulatorProcess>(config(from, to));
        return w.Emulator->Started();
    };

    // Firmware 1.6 instead of 1.5, same serial: measured, the new identity shown.
    ASSERT_TRUE(restartWith(R"("firmware": 261)", R"("firmware": 262)"));
    w.PressStart();
    ASSERT_TRUE(w.WaitBlocks(1)) << w.Messages.join("|").toStdString();
    EXPECT_TRUE(w.Messages.isEmpty()) << w.Messages.join("|").toStdString();
    EXPECT_NEAR(w.Value(0), 1250.0, 1.0);
    EXPECT_EQ(Control<QLabel>(*w.Form, "ModuleFirmwareVersionLMDLabel")->text().toStdString(), "1.6");
    w.PressStop();
    ASSERT_TRUE(w.WaitIdle());

    ASSERT_TRUE(restartWith(R"("serial": "KM0000301")", R"("serial": "KM0000999")"));
    w.Messages.clear();
    w.PressStart();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.Messages.isEmpty(); }, 20000));
    ASSERT_TRUE(w.WaitIdle());
    EXPECT_EQ(w.Messages.join("|").toStdString(), "В слоте теперь другой модуль!!!\nНажмите \"Обнаружить\".");
    EXPECT_EQ(Control<QLabel>(*w.Form, "ModuleSerialNumberLMDLabel")->text().toStdString(), "????????");
    EXPECT_EQ(Lamp(Control<TLed>(*w.Form, "ModuleStatusLed")), LampRed);
    EXPECT_NE(KM808_IsOpened(&w.Form->DeviceState().ModuleControl), 0);
}

} // namespace
