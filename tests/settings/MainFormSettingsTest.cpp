#include "FormControl.h"
#include "app/TMainForm.h"
#include "settings/Cp1251Codec.h"
#include "settings/TSettingsFile.h"
#include "ui/SettingsMessages.h"
#include "ui/TKm808AdcChannelFrame.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

const QString App = QStringLiteral("Приложение. Общие");
const QString Discovery = QStringLiteral("Приложение. Обнаружение");
const QString Module = QStringLiteral("Модуль KM808");
const QString SaveCaption = QStringLiteral("ОШИБКА SaveIniFile()!!!");
const QString DefaultCaption = QStringLiteral("ОШИБКА CreateDefaultIniFile()!");

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct Message {
    QString text, caption;
    bool operator==(const Message&) const = default;
};

class MainFormSettings : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Dir.isValid());
        Form.SetSettingsDirectory(Dir.path());
        Path = Form.SettingsPath();
        SettingsMessageOverride() = [this](QWidget*, const QString& text, const QString& caption) {
            Messages.push_back({text, caption});
        };
    }
    void TearDown() override {
        SettingsMessageOverride() = nullptr;
        chmod(QFile::encodeName(Dir.path()).constData(), 0700);
    }
    void WriteFile(const QString& text) { WriteBytes(Cp1251::Encode(text)); }
    void WriteBytes(const QByteArray& bytes) {
        QFile f(Path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    bool Load() {
        auto f = TSettingsFile::Open(Path);
        return Form.LoadSettings(f.get());
    }
    std::unique_ptr<TSettingsFile> Saved() { return TSettingsFile::Open(Path); }
    TKm808AdcChannelFrame* Frame(int n) { return Form.ChannelFrames[n]; }

    QTemporaryDir Dir;
    TMainForm Form;
    QString Path;
    std::vector<Message> Messages;
};

} // namespace

TEST_F(MainFormSettings, PathIsTheFileNameInTheProgramsDirectory) {
    TMainForm plain;
    EXPECT_EQ(plain.SettingsPath(), QCoreApplication::applicationDirPath() + "/Km808_Viza.ini");
    EXPECT_EQ(Path, Dir.path() + "/Km808_Viza.ini");
}

TEST_F(MainFormSettings, FirstStartCreatesTheExactDefaultFileAndLoadsIt) {
    QStringList reports;
    auto accessor = Form.OpenSettingsFile([&](const QString& text) { reports << text; });
    ASSERT_TRUE(accessor);
    EXPECT_EQ(ReadAll(Path), ReadAll(KM808_SETTINGS_FIXTURES "/default-Km808_Viza.ini"));

    Control<QCheckBox>(Form, "AllChannelsLMDCheckBox")->setCheckState(Qt::PartiallyChecked);
    Frame(3)->ChannelNumberLMDCheckBox->setChecked(false);
    ASSERT_TRUE(Form.LoadSettings(accessor.get()));
    EXPECT_TRUE(reports.isEmpty());
    EXPECT_TRUE(Messages.empty());
    EXPECT_FALSE(Control<QCheckBox>(Form, "AutoSaveSettingsLMDCheckBox")->isChecked());
    EXPECT_EQ(Control<QCheckBox>(Form, "AllChannelsLMDCheckBox")->checkState(), Qt::Checked);
    EXPECT_EQ(Control<QComboBox>(Form, "CommonInputRangeULMDComboBox")->currentIndex(), 0);
    EXPECT_EQ(Control<QComboBox>(Form, "CommonInputRangeRLMDComboBox")->currentIndex(), 0);
    EXPECT_EQ(Control<QComboBox>(Form, "CommonMeasuringModeLMDComboBox")->currentIndex(), 0);
    EXPECT_EQ(Control<QComboBox>(Form, "AdcRateComboBox")->currentIndex(), 6);
    EXPECT_EQ(Control<QComboBox>(Form, "CorrectionModeLMDComboBox")->currentIndex(), 0);
    EXPECT_EQ(Control<QLabel>(Form, "ComputationModeLabLMDLabel")->text(), "sum");
    EXPECT_EQ(Control<QLabel>(Form, "AmplitudeTypeLabLMDLabel")->text(), "amp");
    EXPECT_EQ(Form.Settings.AcquisitionTime, 1.0);
    EXPECT_EQ(
        std::vector<int32_t>(Form.Settings.MinSamplesPerChannel, Form.Settings.MinSamplesPerChannel + 4),
        (std::vector<int32_t>{6, 32, 64, 128}));
    EXPECT_EQ(Form.Settings.ValueFormats[5], "0.0000");
    for (int n = 0; n < 16; ++n) {
        EXPECT_TRUE(Frame(n)->ChannelNumberLMDCheckBox->isChecked()) << n;
        EXPECT_EQ(Frame(n)->InputRangeULMDComboBox->currentIndex(), 0);
        EXPECT_EQ(Frame(n)->MeasuringModeLMDLabel->text(), "DC");
        EXPECT_EQ(Frame(n)->Value1LMDEdit->text(), "--------");
    }
    EXPECT_FALSE(Form.HandlersHeld());
}

TEST_F(MainFormSettings, OpeningReportsWhatCannotBeDone) {
    QStringList reports;
    auto report = [&](const QString& text) { reports << text; };
    Form.SetSettingsDirectory(Dir.filePath("missing"));
    EXPECT_FALSE(Form.OpenSettingsFile(report));
    Form.SetSettingsDirectory(Dir.path());
    QDir(Dir.path()).mkdir("Km808_Viza.ini"); // a directory where the file should be
    EXPECT_FALSE(Form.OpenSettingsFile(report));
    EXPECT_EQ(reports,
              QStringList({"Не могу создать файл настроек!", "Не могу выделить память под файл настроек!"}));
    EXPECT_FALSE(Form.LoadSettings(nullptr));
}

TEST_F(MainFormSettings, LoadsPerChannelValuesWhenTheGroupKeysSayNone) {
    QString text = "[Модуль KM808]\r\n"
                   "АЦП. Групповое управление каналами=0\r\n"
                   "АЦП. Групповое управление входным диапазоном для измерения U=-1\r\n"
                   "АЦП. Групповое управление входным диапазоном для измерения R=7\r\n";
    for (int n = 1; n <= 16; ++n) {
        text += QString("АЦП. Управление каналом %1=%2\r\n").arg(n).arg(n % 2);
        if (n != 16)
            text += QString("АЦП. Управление входным диапазоном U канала %1=%2\r\n").arg(n).arg(n % 3);
        text += QString("АЦП. Управление входным диапазоном R канала %1=%2\r\n").arg(n).arg((n + 1) % 3);
    }
    WriteFile(text);
    ASSERT_TRUE(Load());
    EXPECT_EQ(Control<QComboBox>(Form, "CommonInputRangeULMDComboBox")->currentIndex(), -1);
    EXPECT_EQ(Control<QComboBox>(Form, "CommonInputRangeRLMDComboBox")->currentIndex(), -1);
    for (int n = 0; n < 16; ++n) {
        int channel = n + 1;
        EXPECT_EQ(Frame(n)->ChannelNumberLMDCheckBox->isChecked(), channel % 2 == 1) << channel;
        EXPECT_EQ(Frame(n)->InputRangeULMDComboBox->currentIndex(), channel == 16 ? 0 : channel % 3)
            << channel;
        EXPECT_EQ(Frame(n)->InputRangeRLMDComboBox->currentIndex(), (channel + 1) % 3) << channel;
    }
    EXPECT_EQ(Control<QCheckBox>(Form, "AllChannelsLMDCheckBox")->checkState(), Qt::PartiallyChecked);
}

TEST_F(MainFormSettings, UnknownMeasuringModeLeavesSelectorsAndLabelsAlone) {
    Control<QComboBox>(Form, "CommonInputRangeULMDComboBox")->setVisible(false);
    Control<QComboBox>(Form, "CommonInputRangeRLMDComboBox")->setVisible(true);
    for (int n = 0; n < 16; ++n)
        Frame(n)->MeasuringModeLMDLabel->setText("R");
    WriteFile("[Модуль KM808]\r\nАЦП. Групповое управление режимом измерения=2\r\n");
    ASSERT_TRUE(Load());
    EXPECT_EQ(Control<QComboBox>(Form, "CommonMeasuringModeLMDComboBox")->currentIndex(), -1);
    EXPECT_TRUE(Control<QComboBox>(Form, "CommonInputRangeULMDComboBox")->isHidden());
    EXPECT_FALSE(Control<QComboBox>(Form, "CommonInputRangeRLMDComboBox")->isHidden());
    EXPECT_EQ(Frame(3)->MeasuringModeLMDLabel->text(), "R");

    WriteFile("[Модуль KM808]\r\nАЦП. Групповое управление режимом измерения=1\r\n");
    Control<QComboBox>(Form, "CommonInputRangeULMDComboBox")->setVisible(true);
    ASSERT_TRUE(Load());
    EXPECT_TRUE(Control<QComboBox>(Form, "CommonInputRangeULMDComboBox")->isHidden());
    EXPECT_FALSE(Control<QComboBox>(Form, "CommonInputRangeRLMDComboBox")->isHidden());
}

TEST_F(MainFormSettings, LoadsReadingCasesOfTheFile) {
    WriteFile("[Приложение. Общие]\r\nСохранение настроек=2\r\n"
              "[Модуль KM808]\r\n"
              "АЦП. Индекс частоты работы АЦП=0x3\r\n"
              "АЦП. Режим коррекции данных=5\r\n"
              "АЦП. Требуемое время сбора данных, с=0,5\r\n"
              "АЦП. Метод расчёта=fft\r\n"
              "АЦП. Входной диапазон U 10.00 В. U precision=12\r\n"
              "АЦП. Входной диапазон U  2.00 В. U precision=-1\r\n"
              "АЦП. Входной диапазон U  0.40 В. U precision=0\r\n"
              "АЦП. Входной диапазон R 400.00 Ом. R precision=2\r\n");
    ASSERT_TRUE(Load());
    EXPECT_TRUE(Control<QCheckBox>(Form, "AutoSaveSettingsLMDCheckBox")->isChecked());
    EXPECT_EQ(Control<QComboBox>(Form, "AdcRateComboBox")->currentIndex(), 3);
    EXPECT_EQ(Control<QComboBox>(Form, "CorrectionModeLMDComboBox")->currentIndex(), -1);
    EXPECT_EQ(Form.Settings.AcquisitionTime, 1.0);
    EXPECT_EQ(Form.Settings.ComputationMethod, "fft");
    EXPECT_EQ(Control<QLabel>(Form, "ComputationModeLabLMDLabel")->text(), "fft");
    const uint16_t precisions[6] = {10, 10, 0, 2, 4, 4};
    const char* formats[6] = {"0.0000000000", "0.0000000000", "0.", "0.00", "0.0000", "0.0000"};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(Form.Settings.ValuePrecisions[i], precisions[i]) << i;
        EXPECT_EQ(Form.Settings.ValueFormats[i], formats[i]) << i;
    }

    WriteFile("[Приложение. Общие]\r\nСохранение настроек=abc\r\n");
    ASSERT_TRUE(Load());
    EXPECT_FALSE(Control<QCheckBox>(Form, "AutoSaveSettingsLMDCheckBox")->isChecked());
}

TEST_F(MainFormSettings, LoadsCorrectionValuesOnlyWithAnOpenModule) {
    for (int i = 0; i < 9; ++i)
        Form.DeviceState().ModuleControl.ModuleCoefs[i] = 1.5f + i;
    WriteFile("[Приложение. Общие]\r\nИсточник загрузки корректировочных коэфф.=3\r\n");
    Form.DeviceState().ModuleState = 0;
    ASSERT_TRUE(Load());
    EXPECT_EQ(Form.Settings.LoadedCoefs[8], 0.0f);
    Form.DeviceState().ModuleState = 2;
    ASSERT_TRUE(Load());
    EXPECT_EQ(Form.Settings.CoefSource, 3);
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(Form.Settings.LoadedCoefs[i], 1.5f + i);
        const float table = Form.DeviceState().ModuleControl.TableCoefs[i]; // packed: read by value
        EXPECT_EQ(table, 1.5f + i);
    }
}

TEST_F(MainFormSettings, SaveWritesTheWindowAndKeepsEverythingElse) {
    // A window key with one blank after "Top" is another key: it stays, and
    // the save adds the right one.
    WriteFile("; от оператора\r\n[Приложение. Общие]\r\nTop основной панели=5\r\n"
              "[Приложение. Обнаружение]\r\nСерийный номер QIRA крейта=OLD\r\nСлот модуля=4\r\n"
              "[Модуль KM808]\r\nАЦП. Метод расчёта=fft\r\n[Своё]\r\nключ=значение\r\n");
    // The controls hold loaded settings, then the operator's changes.
    ASSERT_TRUE(Load());
    Form.move(120, 45);
    Control<QCheckBox>(Form, "AutoSaveSettingsLMDCheckBox")->setChecked(true);
    Control<QComboBox>(Form, "AdcRateComboBox")->setCurrentIndex(2);
    Control<QCheckBox>(Form, "AllChannelsLMDCheckBox")->setCheckState(Qt::PartiallyChecked);
    Frame(4)->ChannelNumberLMDCheckBox->setChecked(false);
    Frame(5)->ChannelNumberLMDCheckBox->setChecked(true);
    Control<QComboBox>(Form, "CommonInputRangeULMDComboBox")->setCurrentIndex(-1);
    Frame(7)->InputRangeULMDComboBox->setCurrentIndex(2);
    Control<QComboBox>(Form, "CommonMeasuringModeLMDComboBox")->setCurrentIndex(1);
    Control<QComboBox>(Form, "QiraCratesComboBox")->clear();
    Form.SaveIniFile(Path);
    EXPECT_TRUE(Messages.empty());

    auto f = Saved();
    EXPECT_EQ(f->ReadString(App, "Сохранение настроек", ""), "1");
    EXPECT_EQ(f->ReadInteger(App, "Top    основной панели", 0), 45);
    EXPECT_EQ(f->ReadInteger(App, "Left   основной панели", 0), 120);
    EXPECT_EQ(f->ReadString(Discovery, "Серийный номер QIRA крейта", ""), "OLD");
    EXPECT_EQ(f->ReadInteger(Discovery, "Слот модуля", 0), 4);
    EXPECT_EQ(f->ReadInteger(Module, "АЦП. Индекс частоты работы АЦП", 0), 2);
    EXPECT_EQ(f->ReadString(Module, "АЦП. Групповое управление каналами", ""), "0");
    EXPECT_FALSE(f->ReadBool(Module, "АЦП. Управление каналом 5", true));
    EXPECT_TRUE(f->ReadBool(Module, "АЦП. Управление каналом 6", false));
    EXPECT_EQ(f->ReadInteger(Module, "АЦП. Групповое управление входным диапазоном для измерения U", 0), -1);
    EXPECT_EQ(f->ReadInteger(Module, "АЦП. Управление входным диапазоном U канала 8", 0), 2);
    EXPECT_EQ(f->ReadInteger(Module, "АЦП. Групповое управление режимом измерения", 0), 1);
    // Keys only the default file writes, and lines the program does not know.
    EXPECT_EQ(f->ReadString(Module, "АЦП. Метод расчёта", ""), "fft");
    EXPECT_EQ(f->ReadString(App, "Top основной панели", ""), "5");
    EXPECT_EQ(f->ReadString("Своё", "ключ", ""), "значение");
    EXPECT_TRUE(ReadAll(Path).startsWith(Cp1251::Encode("; от оператора\r\n")));
}

TEST_F(MainFormSettings, SaveStoresTheSelectedCrateAndSlot) {
    std::strcpy(Form.DeviceState().CrateSerials[1], "QC-0042");
    Form.DeviceState().ModuleSlots[1][0] = 3;
    Form.DeviceState().ModuleSlots[1][1] = 9;
    Control<QComboBox>(Form, "QiraCratesComboBox")->addItems({"1: QC-0001", "2: QC-0042"});
    Control<QComboBox>(Form, "QiraCratesComboBox")->setCurrentIndex(1);
    Control<QComboBox>(Form, "ModulesComboBox")->addItems({"Слот 3: KM808", "Слот 9: KM808"});
    Control<QComboBox>(Form, "ModulesComboBox")->setCurrentIndex(1);
    Form.SaveIniFile(Path);
    EXPECT_EQ(Saved()->ReadString(Discovery, "Серийный номер QIRA крейта", ""), "QC-0042");
    EXPECT_EQ(Saved()->ReadInteger(Discovery, "Слот модуля", 0), 9);

    // A crate without a chosen module keeps the stored slot.
    Control<QComboBox>(Form, "ModulesComboBox")->setCurrentIndex(-1);
    Form.DeviceState().ModuleSlots[1][1] = 10;
    Form.SaveIniFile(Path);
    EXPECT_EQ(Saved()->ReadInteger(Discovery, "Слот модуля", 0), 9);
}

TEST_F(MainFormSettings, DefaultsRewriteValuesInPlaceAndLeaveTheWindowAlone) {
    ASSERT_TRUE(Form.CreateDefaultIniFile(Path));
    QByteArray defaults = ReadAll(Path);
    WriteFile(Cp1251::Decode(defaults).replace("Слот модуля=-1", "Слот модуля=5\r\nЧужой=1") +
              "[Своё]\r\nk=v\r\n");
    Control<QComboBox>(Form, "AdcRateComboBox")->setCurrentIndex(1);
    Form.SaveIniFile(Path);

    Form.SaveDefaultSettingsClick();
    EXPECT_EQ(ReadAll(Path),
              Cp1251::Encode(Cp1251::Decode(defaults).replace("Слот модуля=-1", "Слот модуля=-1\r\nЧужой=1") +
                             "[Своё]\r\nk=v\r\n"));
    EXPECT_EQ(Control<QComboBox>(Form, "AdcRateComboBox")->currentIndex(), 1);
    EXPECT_TRUE(Messages.empty());
}

TEST_F(MainFormSettings, ReadOnlyFileGivesMessagesAndStaysWhole) {
    WriteFile("[Модуль KM808]\r\nАЦП. Индекс частоты работы АЦП=1\r\n");
    QByteArray old = ReadAll(Path);
    chmod(QFile::encodeName(Path).constData(), 0444);
    Form.SaveIniFile(Path);
    EXPECT_EQ(Messages, (std::vector<Message>{{"Не могу сохранить файл настроек приложения!", SaveCaption},
                                              {"Не могу сохранить файл настроек модуля!", SaveCaption}}));
    Messages.clear();
    EXPECT_FALSE(Form.CreateDefaultIniFile(Path));
    EXPECT_EQ(Messages, (std::vector<Message>{
                            {"Не могу создать файл обычных настроек для приложения!", DefaultCaption}}));
    EXPECT_EQ(ReadAll(Path), old);
}

TEST_F(MainFormSettings, DefaultFileNamesABadPath) {
    EXPECT_FALSE(Form.CreateDefaultIniFile(QString()));
    EXPECT_FALSE(Form.CreateDefaultIniFile(Dir.path()));
    EXPECT_EQ(Messages,
              (std::vector<Message>{
                  {"Неправильное название файла штатных настроек!", DefaultCaption},
                  {"Не могу создать файл штатных настроек '" + Dir.path() + "'!", DefaultCaption}}));
    EXPECT_FALSE(Form.HoldsSettingsFile());
}

TEST_F(MainFormSettings, SaveButtonSavesUnlessAHandlerIsBusy) {
    Form.HoldHandlers(true);
    Form.SaveSettingsButtonClick();
    EXPECT_FALSE(QFile::exists(Path));

    Form.HoldHandlers(false);
    Control<QCheckBox>(Form, "AutoSaveSettingsLMDCheckBox")->setChecked(true);
    EXPECT_FALSE(Control<QPushButton>(Form, "SaveSettingsButton")->isEnabled());
    Form.SaveCurrentSettingsClick();
    EXPECT_EQ(Saved()->ReadInteger(App, "Сохранение настроек", 0), 1);
    EXPECT_TRUE(Control<QPushButton>(Form, "SaveSettingsButton")->isEnabled());
    EXPECT_FALSE(Form.HandlersHeld());
}

TEST_F(MainFormSettings, CloseSavesOnlyWithAutoSaveAndAFreeGuard) {
    Form.FormClose();
    EXPECT_FALSE(QFile::exists(Path));

    Control<QCheckBox>(Form, "AutoSaveSettingsLMDCheckBox")->setChecked(true);
    Form.HoldHandlers(true);
    Form.FormClose();
    EXPECT_FALSE(QFile::exists(Path));
    EXPECT_FALSE(Form.HandlersHeld());

    Form.FormClose();
    EXPECT_EQ(Saved()->ReadInteger(App, "Сохранение настроек", 0), 1);
    EXPECT_FALSE(Form.HoldsSettingsFile());
    EXPECT_FALSE(Form.HandlersHeld());
}

namespace {

QByteArray DefaultFile() {
    return ReadAll(KM808_SETTINGS_FIXTURES "/default-Km808_Viza.ini");
}

// The default file with some lines replaced.
QByteArray FileWith(const QList<std::pair<QString, QString>>& lines) {
    QString text = Cp1251::Decode(DefaultFile());
    for (const auto& [from, to] : lines) {
        EXPECT_TRUE(text.contains(from + "\r\n")) << from.toStdString();
        text.replace(from + "\r\n", to + "\r\n");
    }
    return Cp1251::Encode(text);
}

// Stored settings unlike the defaults, the window at 120, 45, auto-save on.
const QList<std::pair<QString, QString>> Stored = {
    {"Сохранение настроек=0", "Сохранение настроек=1"},
    {"Top    основной панели=-1", "Top    основной панели=45"},
    {"Left   основной панели=-1", "Left   основной панели=120"},
    {"АЦП. Индекс частоты работы АЦП=6", "АЦП. Индекс частоты работы АЦП=3"},
    {"АЦП. Режим коррекции данных=0", "АЦП. Режим коррекции данных=1"},
    {"АЦП. Групповое управление каналами=1", "АЦП. Групповое управление каналами=0"},
    {"АЦП. Управление каналом 2=1", "АЦП. Управление каналом 2=0"},
    {"АЦП. Групповое управление входным диапазоном для измерения U=0",
     "АЦП. Групповое управление входным диапазоном для измерения U=-1"},
    {"АЦП. Управление входным диапазоном U канала 3=0", "АЦП. Управление входным диапазоном U канала 3=2"},
};

} // namespace

// A detection that fails leaves the controls reset; neither a save nor the
// automatic save on close may store that state, however often, and the next
// load brings the stored settings back.
TEST_F(MainFormSettings, FailedDetectionLeavesTheStoredSettingsAlone) {
    const QByteArray stored = FileWith(Stored);
    WriteBytes(stored);
    Form.move(120, 45);
    ASSERT_TRUE(Load());
    EXPECT_TRUE(Control<QCheckBox>(Form, "AutoSaveSettingsLMDCheckBox")->isChecked());

    for (int round = 0; round < 2; ++round) {
        // "Обнаружить" with the crate server gone: the controls are reset and
        // the run ends before its load.
        Form.FindDeviceLMDButtonClick();
        QCoreApplication::removePostedEvents(&Form, TPrivateMessageEvent::StartInitDevices);
        Form.WorkerFlags().DiscoveryGate = true;
        ASSERT_EQ(Control<QComboBox>(Form, "AdcRateComboBox")->currentIndex(), -1);
        Form.SaveCurrentSettingsClick();
        EXPECT_EQ(ReadAll(Path), stored) << "save, round " << round;
        Form.FormClose();
        EXPECT_EQ(ReadAll(Path), stored) << "close, round " << round;
    }
    EXPECT_TRUE(Messages.empty());
    ASSERT_TRUE(Load());
    EXPECT_EQ(Control<QComboBox>(Form, "AdcRateComboBox")->currentIndex(), 3);
    EXPECT_EQ(Frame(2)->InputRangeULMDComboBox->currentIndex(), 2);
    EXPECT_FALSE(Frame(1)->ChannelNumberLMDCheckBox->isChecked());
}

// The crate server down from the start: nothing was ever loaded. A save
// stores the window's position only; the auto-save flag changes only when the
// operator changes it.
TEST_F(MainFormSettings, SaveBeforeAnyLoadStoresOnlyWhatIsMeaningful) {
    const QByteArray stored = FileWith(Stored);
    WriteBytes(stored);
    Form.move(300, 200);
    Form.SaveSettingsButtonClick();
    EXPECT_EQ(ReadAll(Path),
              FileWith(Stored + QList<std::pair<QString, QString>>{
                                    {"Top    основной панели=45", "Top    основной панели=200"},
                                    {"Left   основной панели=120", "Left   основной панели=300"}}));

    Control<QCheckBox>(Form, "AutoSaveSettingsLMDCheckBox")->setChecked(true); // the operator's click
    Control<QCheckBox>(Form, "AutoSaveSettingsLMDCheckBox")->setChecked(false);
    Form.SaveSettingsButtonClick();
    EXPECT_EQ(Saved()->ReadInteger(App, "Сохранение настроек", 7), 0);
    EXPECT_EQ(Saved()->ReadInteger(Module, "АЦП. Индекс частоты работы АЦП", 7), 3);
}

// Ctrl+S and Ctrl+D pressed while a detection runs act once it has ended, on
// what the window shows then; nothing is written meanwhile.
TEST_F(MainFormSettings, SaveAndDefaultsWaitForTheDetectionRun) {
    const QByteArray stored = FileWith(Stored);
    WriteBytes(stored);
    ASSERT_TRUE(Load());

    Form.FindDeviceLMDButtonClick();
    QCoreApplication::removePostedEvents(&Form, TPrivateMessageEvent::StartInitDevices);
    Form.WorkerFlags().DiscoveryRunning = true;
    Form.WorkerFlags().DiscoveryGate = true;
    Form.SaveCurrentSettingsClick();
    QTest::qWait(300);
    EXPECT_EQ(ReadAll(Path), stored) << "written while the run lasts";
    // The run ends with a load of other settings than those stored.
    auto other = TSettingsFile::FromBytes(
        FileWith({{"АЦП. Индекс частоты работы АЦП=6", "АЦП. Индекс частоты работы АЦП=5"}}));
    ASSERT_TRUE(Form.LoadSettings(other.get()));
    Form.WorkerFlags().DiscoveryRunning = false;
    QTest::qWait(300);
    EXPECT_EQ(Saved()->ReadInteger(Module, "АЦП. Индекс частоты работы АЦП", 7), 5);
    EXPECT_EQ(Saved()->ReadInteger(Module, "АЦП. Групповое управление каналами", 7), 1);

    Form.WorkerFlags().DiscoveryRunning = true;
    Form.SaveDefaultSettingsClick();
    Form.SaveDefaultSettingsClick();
    QTest::qWait(300);
    EXPECT_EQ(Saved()->ReadInteger(Module, "АЦП. Индекс частоты работы АЦП", 7), 5);
    Form.WorkerFlags().DiscoveryRunning = false;
    QTest::qWait(300);
    EXPECT_EQ(ReadAll(Path), DefaultFile());
    EXPECT_EQ(Control<QComboBox>(Form, "AdcRateComboBox")->currentIndex(), 5);

    // A request still held when the window closes is carried out first.
    Form.WorkerFlags().DiscoveryRunning = true;
    Form.SaveCurrentSettingsClick();
    Form.WorkerFlags().DiscoveryRunning = false;
    Control<QCheckBox>(Form, "AutoSaveSettingsLMDCheckBox")->setChecked(false);
    Form.FormClose();
    EXPECT_EQ(Saved()->ReadInteger(Module, "АЦП. Индекс частоты работы АЦП", 7), 5);
    EXPECT_TRUE(Messages.empty());
}

// Links at the settings path, and files the program will not take in: the
// operator is told, and nothing is created or changed.
TEST_F(MainFormSettings, LinksAndForeignFilesAreToldAndLeftAlone) {
    QStringList reports;
    auto report = [&](const QString& text) { reports << text; };
    const QString target = Dir.filePath("elsewhere.ini");
    ASSERT_TRUE(QFile::link(target, Path));
    EXPECT_FALSE(Form.OpenSettingsFile(report));
    EXPECT_FALSE(QFile::exists(target));
    EXPECT_EQ(reports, QStringList{"Не могу создать файл настроек!"});

    // A link to an existing file is read, never written.
    const QByteArray foreign = FileWith(Stored);
    QFile t(target);
    ASSERT_TRUE(t.open(QIODevice::WriteOnly));
    t.write(foreign);
    t.close();
    reports.clear();
    auto accessor = Form.OpenSettingsFile(report);
    ASSERT_TRUE(accessor);
    ASSERT_TRUE(Form.LoadSettings(accessor.get()));
    Form.SaveIniFile(Path);
    EXPECT_FALSE(Form.CreateDefaultIniFile(Path));
    EXPECT_EQ(ReadAll(target), foreign);
    EXPECT_TRUE(QFileInfo(Path).isSymLink());
    EXPECT_EQ(Messages, (std::vector<Message>{
                            {"Не могу сохранить файл настроек приложения!", SaveCaption},
                            {"Не могу сохранить файл настроек модуля!", SaveCaption},
                            {"Не могу создать файл обычных настроек для приложения!", DefaultCaption}}));

    // A UTF-8 file: said once at the detection, refused by every save.
    QFile::remove(Path);
    const QByteArray utf8 = Cp1251::Decode(foreign).toUtf8();
    QFile u(Path);
    ASSERT_TRUE(u.open(QIODevice::WriteOnly));
    u.write(utf8);
    u.close();
    Messages.clear();
    EXPECT_FALSE(Form.OpenSettingsFile(report));
    Form.SaveIniFile(Path);
    EXPECT_EQ(reports.last(), "Файл настроек записан не в кодировке Windows-1251!");
    EXPECT_EQ(Messages.size(), 2u);
    EXPECT_EQ(ReadAll(Path), utf8);

    // A file far beyond any real one costs a message, not a stall.
    ASSERT_TRUE(u.open(QIODevice::WriteOnly));
    u.write(QByteArray(50 * 1024 * 1024, '\n'));
    u.close();
    EXPECT_FALSE(Form.OpenSettingsFile(report));
    EXPECT_EQ(reports.last(), "Не могу выделить память под файл настроек!");
    EXPECT_EQ(QFileInfo(Path).size(), 50 * 1024 * 1024);
}

TEST(SettingsMessage, IsAnInformationBoxWithOk) {
    QString caption, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_TRUE(box);
        caption = box->windowTitle();
        text = box->text();
        icon = box->icon();
        buttons = box->standardButtons();
        box->accept();
    });
    ShowSettingsMessage(nullptr, "Не могу сохранить файл настроек модуля!", "ОШИБКА SaveIniFile()!!!");
    EXPECT_EQ(caption, "ОШИБКА SaveIniFile()!!!");
    EXPECT_EQ(text, "Не могу сохранить файл настроек модуля!");
    EXPECT_EQ(icon, QMessageBox::Information);
    EXPECT_EQ(buttons, QMessageBox::Ok);
}
