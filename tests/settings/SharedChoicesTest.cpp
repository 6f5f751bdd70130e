// The window and km808-measure load the same settings files the same way:
// each file of the table is loaded into a window and read as the client's
// run choice, and every measurement choice is compared.
#include "FormControl.h"
#include "app/TMainForm.h"
#include "measure/RunChoice.h"
#include "settings/Cp1251Codec.h"
#include "settings/MeasurementSettingsFile.h"
#include "settings/SettingsTable.h"
#include "settings/TSettingsFile.h"
#include "ui/TKm808AdcChannelFrame.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>

#include <gtest/gtest.h>

namespace {

QString Fixture(const char* name) {
    QFile f(QStringLiteral(KM808_SETTINGS_FIXTURES "/") + name);
    return f.open(QIODevice::ReadOnly) ? Cp1251::Decode(f.readAll()) : QString();
}

const QString Module = QStringLiteral("[Модуль KM808]\n");

TEST(SharedChoices, WindowAndClientLoadEveryFileAlike) {
    const struct {
        const char* name;
        QString text;
    } files[] = {
        {"default file", Fixture("default-Km808_Viza.ini")},
        {"empty file", QString()},
        {"per-channel ranges and checks",
         Module + "АЦП. Групповое управление каналами=0\n"
                  "АЦП. Групповое управление входным диапазоном для измерения U=-1\n"
                  "АЦП. Управление каналом 2=1\nАЦП. Управление каналом 9=1\n"
                  "АЦП. Управление входным диапазоном U канала 2=2\n"
                  "АЦП. Управление входным диапазоном U канала 9=7\n"
                  "АЦП. Управление входным диапазоном R канала 2=1\n"},
        {"resistance mode", Module + "АЦП. Групповое управление режимом измерения=1\n"
                                     "АЦП. Групповое управление входным диапазоном для измерения R=2\n"
                                     "АЦП. Индекс частоты работы АЦП=3\nАЦП. Режим коррекции данных=1\n"},
        {"values naming no item",
         Module + "АЦП. Групповое управление режимом измерения=5\nАЦП. Индекс частоты работы АЦП=9\n"
                  "АЦП. Режим коррекции данных=-3\n"
                  "АЦП. Групповое управление входным диапазоном для измерения R=3\n"},
        {"computation settings",
         Module + "АЦП. Метод расчёта=fft\nАЦП. Требуемое время сбора данных, с=0.25\n"
                  "АЦП. Входной диапазон U  2.00 В. U precision=2\n"
                  "АЦП. Входной диапазон R 4000.00 Ом. R precision=12\n"
                  "АЦП. Минимальное кол-во отсчётов на канал при работе на частоте АЦП 100 Гц=40\n"},
    };
    for (const auto& f : files) {
        SCOPED_TRACE(f.name);
        ASSERT_FALSE(QString(f.name) == "default file" && f.text.isEmpty()) << "the fixture is missing";
        const auto file = TSettingsFile::FromBytes(Cp1251::Encode(f.text));
        TMainForm form;
        ASSERT_TRUE(form.LoadModuleSettings(file.get()));
        const TRunChoice choice = ReadRunChoice(*file);
        const TChannelChoice& c = choice.Config.Channels;

        EXPECT_EQ(c.CommonMode, Control<QComboBox>(form, "CommonMeasuringModeLMDComboBox")->currentIndex());
        EXPECT_EQ(c.RateIndex, Control<QComboBox>(form, "AdcRateComboBox")->currentIndex());
        EXPECT_EQ(choice.Config.CorrectionMode,
                  Control<QComboBox>(form, "CorrectionModeLMDComboBox")->currentIndex());
        for (int n = 0; n < 16; ++n) {
            const TKm808AdcChannelFrame* frame = form.ChannelFrames[n];
            EXPECT_EQ(choice.Checked[n], frame->ChannelNumberLMDCheckBox->isChecked()) << n;
            EXPECT_EQ(c.RangeU[n], frame->InputRangeULMDComboBox->currentIndex()) << n;
            EXPECT_EQ(c.RangeR[n], frame->InputRangeRLMDComboBox->currentIndex()) << n;
        }
        const TMeasurementSettings& a = choice.Config.Settings;
        const TMeasurementSettings& b = form.Settings;
        EXPECT_EQ(a.ComputationMethod, b.ComputationMethod);
        EXPECT_EQ(a.AmplitudeType, b.AmplitudeType);
        EXPECT_EQ(a.AcquisitionTime, b.AcquisitionTime);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(a.MinSamplesPerChannel[i], b.MinSamplesPerChannel[i]) << i;
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(a.ValueFormats[i], b.ValueFormats[i]) << i;
    }
}

} // namespace
