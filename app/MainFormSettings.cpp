// The main window's settings procedures: open, load, save and the default file.
#include "app/TMainForm.h"
#include "discovery/DetectionTables.h"
#include "settings/Cp1251Codec.h"
#include "settings/MeasurementChoices.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsLocation.h"
#include "settings/SettingsTable.h"
#include "settings/TSettingsFile.h"
#include "ui/SettingsMessages.h"
#include "ui/TKm808AdcChannelFrame.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace SettingsKeys;

namespace {

const QString SaveCaption = QStringLiteral("ОШИБКА SaveIniFile()!!!");
const QString DefaultCaption = QStringLiteral("ОШИБКА CreateDefaultIniFile()!");

// The selected item as the settings keep it: 0xFFFF when none.
uint16_t Selected(const QComboBox* box) {
    return static_cast<uint16_t>(box->currentIndex());
}

} // namespace

QString TMainForm::SettingsPath() const {
    QString dir =
        SettingsDirectory.isEmpty() ? SettingsDirectoryFor(BuiltSettingsLayout()) : SettingsDirectory;
    return dir + QStringLiteral("/Km808_Viza.ini");
}

std::unique_ptr<TSettingsFile>
TMainForm::OpenSettingsFile(const std::function<void(const QString&)>& report) {
    QString path = SettingsPath();
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0) {
        // O_EXCL never follows a link, so a link placed at the path since
        // cannot make the program create its target.
        int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) {
            report(QStringLiteral("Не могу создать файл настроек!"));
            return nullptr;
        }
        ::close(fd);
        if (!CreateDefaultIniFile(path)) {
            // Left empty, the file would hide the defaults from every later start.
            QFile::remove(path);
            return nullptr;
        }
    } else if (S_ISLNK(st.st_mode) && !QFileInfo::exists(path)) {
        // A dangling link: creating the file would create the link's target.
        report(QStringLiteral("Не могу создать файл настроек!"));
        return nullptr;
    }
    TSettingsFile::OpenFailure why = TSettingsFile::OpenFailure::None;
    std::unique_ptr<TSettingsFile> accessor = TSettingsFile::Open(path, &why);
    if (!accessor)
        report(why == TSettingsFile::OpenFailure::NotCp1251
                   ? QStringLiteral("Файл настроек записан не в кодировке Windows-1251!")
                   : QStringLiteral("Не могу выделить память под файл настроек!"));
    return accessor;
}

bool TMainForm::LoadSettings(TSettingsFile* accessor) {
    if (!accessor)
        return false;
    AutoSaveSettingsLMDCheckBox->setChecked(
        ReadSetting(*accessor, SettingsTable(InputRangesU, InputRangesR), ApplicationSection, AutoSave)
            .toBool());
    AutoSaveSettingKnown = true;
    bool ok = LoadModuleSettings(accessor);
    if (Device.ModuleState == 2)
        ok = LoadCorrectionSettings(accessor) && ok;
    return ok;
}

bool TMainForm::LoadModuleSettings(TSettingsFile* accessor) {
    if (!accessor)
        return false;
    TSelectorSizes sizes;
    sizes.Ranges = CommonInputRangeULMDComboBox->count();
    sizes.Modes = CommonMeasuringModeLMDComboBox->count();
    sizes.Rates = AdcRateComboBox->count();
    sizes.CorrectionModes = CorrectionModeLMDComboBox->count();
    const TMeasurementChoices stored =
        ReadMeasurementChoices(*accessor, InputRangesU, InputRangesR, sizes, Settings);
    ComputationModeLabLMDLabel->setText(Settings.ComputationMethod);
    AmplitudeTypeLabLMDLabel->setText(Settings.AmplitudeType);

    HandlersBusy = true;
    AllChannelsLMDCheckBox->setCheckState(stored.AllChannels ? Qt::Checked : Qt::Unchecked);
    CommonInputRangeULMDComboBox->setCurrentIndex(stored.CommonRangeU);
    CommonInputRangeRLMDComboBox->setCurrentIndex(stored.CommonRangeR);
    CommonMeasuringModeLMDComboBox->setCurrentIndex(stored.CommonMode);
    int mode = CommonMeasuringModeLMDComboBox->currentIndex();
    if (mode == 0 || mode == 1) {
        CommonInputRangeULMDComboBox->setVisible(mode == 0);
        CommonInputRangeRLMDComboBox->setVisible(mode == 1);
    }
    for (int n = 0; n < 16; ++n) {
        TKm808AdcChannelFrame* frame = ChannelFrames[n];
        frame->ChannelNumberLMDCheckBox->setChecked(stored.Checked[n]);
        frame->InputRangeULMDComboBox->setCurrentIndex(stored.RangeU[n]);
        frame->InputRangeRLMDComboBox->setCurrentIndex(stored.RangeR[n]);
        if (mode == 0)
            frame->MeasuringModeLMDLabel->setText(QStringLiteral("DC"));
        else if (mode == 1)
            frame->MeasuringModeLMDLabel->setText(QStringLiteral("R"));
        frame->Value1LMDEdit->setText(QStringLiteral("--------"));
    }
    AdcRateComboBox->setCurrentIndex(stored.RateIndex);
    CorrectionModeLMDComboBox->setCurrentIndex(stored.CorrectionMode);
    Qt::CheckState state = Qt::Unchecked;
    AllChannelsLMDCheckBox->setCheckState(AllChannelsSameState(state) ? state : Qt::PartiallyChecked);
    MeasurementSettingsLoaded = true;
    HandlersBusy = false;
    return true;
}

bool TMainForm::LoadCorrectionSettings(TSettingsFile* accessor) {
    if (!accessor)
        return false;
    Settings.CoefSource = ReadSetting(*accessor, SettingsTable(InputRangesU, InputRangesR),
                                      ApplicationSection, SettingsKeys::CoefSource)
                              .toInt();
    UseModuleCoefficients(Device.ModuleControl, Settings.LoadedCoefs);
    return true;
}

void TMainForm::SaveIniFile(const QString& path) {
    SettingsFile = TSettingsFile::Open(path);
    if (!WriteApplicationSettings(SettingsFile.get()))
        ShowSettingsMessage(this, QStringLiteral("Не могу сохранить файл настроек приложения!"), SaveCaption);
    if (!WriteModuleSettings(SettingsFile.get()))
        ShowSettingsMessage(this, QStringLiteral("Не могу сохранить файл настроек модуля!"), SaveCaption);
}

bool TMainForm::WriteApplicationSettings(TSettingsFile* accessor) {
    if (!accessor)
        return false;
    const std::vector<TSettingRow> table = SettingsTable(InputRangesU, InputRangesR);
    QVariantMap application{{WindowTop, y()}, {WindowLeft, x()}};
    // Unchecked because nothing was ever loaded is not the operator's choice.
    if (AutoSaveSettingKnown)
        application.insert(AutoSave, AutoSaveSettingsLMDCheckBox->isChecked());
    QVariantMap discovery;
    uint16_t crate = Selected(QiraCratesComboBox);
    uint16_t module = Selected(ModulesComboBox);
    // The tables hold 16 crates of 16 modules; an index beyond them names none.
    if (crate < 16) {
        const char* serial = Device.CrateSerials[crate];
        discovery.insert(CrateSerial, Cp1251::Decode(QByteArray(
                                          serial, qstrnlen(serial, sizeof Device.CrateSerials[crate]))));
        if (module < 16)
            discovery.insert(ModuleSlot, Device.ModuleSlots[crate][module]);
    }
    WriteSettings(*accessor, table, ApplicationSection, application);
    WriteSettings(*accessor, table, DiscoverySection, discovery);
    return accessor->Flush();
}

bool TMainForm::WriteModuleSettings(TSettingsFile* accessor) {
    if (!accessor)
        return false;
    // Controls reset by a detection that then failed (or never loaded since
    // the start) hold no settings: the stored ones stay for the next load.
    if (!MeasurementSettingsLoaded)
        return accessor->Flush();
    QVariantMap values{{AdcRateIndex, AdcRateComboBox->currentIndex()},
                       {CorrectionMode, CorrectionModeLMDComboBox->currentIndex()},
                       {AllChannels, AllChannelsLMDCheckBox->checkState() == Qt::Checked},
                       {CommonRangeU, CommonInputRangeULMDComboBox->currentIndex()},
                       {CommonRangeR, CommonInputRangeRLMDComboBox->currentIndex()},
                       {CommonMeasuringMode, CommonMeasuringModeLMDComboBox->currentIndex()}};
    for (int n = 0; n < 16; ++n) {
        const TKm808AdcChannelFrame* frame = ChannelFrames[n];
        values.insert(Channel(n + 1), frame->ChannelNumberLMDCheckBox->isChecked());
        values.insert(ChannelRangeU(n + 1), frame->InputRangeULMDComboBox->currentIndex());
        values.insert(ChannelRangeR(n + 1), frame->InputRangeRLMDComboBox->currentIndex());
    }
    // Written in the table's order, the order these keys always had.
    if (!WriteSettings(*accessor, SettingsTable(InputRangesU, InputRangesR), ModuleSection, values))
        return false;
    return accessor->Flush();
}

bool TMainForm::CreateDefaultIniFile(const QString& path) {
    SettingsFile.reset();
    if (path.isEmpty()) {
        ShowSettingsMessage(this, QStringLiteral("Неправильное название файла штатных настроек!"),
                            DefaultCaption);
        return false;
    }
    SettingsFile = TSettingsFile::Open(path);
    if (!SettingsFile) {
        ShowSettingsMessage(
            this, QStringLiteral("Не могу создать файл штатных настроек '") + path + QStringLiteral("'!"),
            DefaultCaption);
        return false;
    }
    if (!WriteDefaultApplicationSettings(SettingsFile.get())) {
        ShowSettingsMessage(this, QStringLiteral("Не могу создать файл обычных настроек для приложения!"),
                            DefaultCaption);
        return false;
    }
    if (!WriteDefaultModuleSettings(SettingsFile.get())) {
        ShowSettingsMessage(this, QStringLiteral("Не могу создать файл обычных настроек для модуля!"),
                            DefaultCaption);
        return false;
    }
    return true;
}

bool TMainForm::WriteDefaultApplicationSettings(TSettingsFile* accessor) {
    if (!accessor)
        return false;
    WriteFreshPart(*accessor, SettingsTable(InputRangesU, InputRangesR), TSettingPart::Application);
    return accessor->Flush();
}

bool TMainForm::WriteDefaultModuleSettings(TSettingsFile* accessor) {
    if (!accessor)
        return false;
    WriteFreshPart(*accessor, SettingsTable(InputRangesU, InputRangesR), TSettingPart::Module);
    return accessor->Flush();
}

void TMainForm::SaveSettingsButtonClick() {
    if (HandlersBusy)
        return;
    HandlersBusy = true;
    SaveSettingsButton->setEnabled(false);
    SaveIniFile(SettingsPath());
    // The operator sees the button greyed for a moment as the sign of a save.
    QThread::msleep(500);
    SaveSettingsButton->setEnabled(true);
    HandlersBusy = false;
}

void TMainForm::SaveCurrentSettingsClick() {
    if (HoldWhileDiscoveryRuns(HeldSettingsRequest::Save))
        return;
    SaveSettingsButtonClick();
}

void TMainForm::SaveDefaultSettingsClick() {
    if (HoldWhileDiscoveryRuns(HeldSettingsRequest::Defaults))
        return;
    CreateDefaultIniFile(SettingsPath());
}

// A detection resets the controls and then loads the file it read at its
// start: a save made meanwhile would store the reset state, and default
// values written meanwhile would be undone by that load. Held, the request
// acts as if made just after the run, on what the window shows then.
bool TMainForm::HoldWhileDiscoveryRuns(HeldSettingsRequest request) {
    if (!Flags.DiscoveryRunning && Flags.DiscoveryGate)
        return false;
    if (HeldSettingsRequests.isEmpty() || HeldSettingsRequests.last() != request)
        HeldSettingsRequests.append(request);
    if (HeldSettingsRequests.size() == 1)
        QTimer::singleShot(50, this, [this] { RunHeldSettingsRequests(); });
    return true;
}

void TMainForm::RunHeldSettingsRequests() {
    if (HeldSettingsRequests.isEmpty())
        return;
    if (Flags.DiscoveryRunning || !Flags.DiscoveryGate || HandlersBusy) {
        QTimer::singleShot(50, this, [this] { RunHeldSettingsRequests(); });
        return;
    }
    const QList<HeldSettingsRequest> requests = std::exchange(HeldSettingsRequests, {});
    for (HeldSettingsRequest request : requests) {
        if (request == HeldSettingsRequest::Save)
            SaveCurrentSettingsClick();
        else
            SaveDefaultSettingsClick();
    }
}

void TMainForm::FormClose() {
    // Requests held for a detection that the close has waited for still count.
    const QList<HeldSettingsRequest> held = std::exchange(HeldSettingsRequests, {});
    for (HeldSettingsRequest request : held) {
        if (request == HeldSettingsRequest::Save)
            SaveIniFile(SettingsPath());
        else
            CreateDefaultIniFile(SettingsPath());
    }
    // A guard left set by a failed handler skips only the automatic save: the
    // worker and the module must still be ended before the window goes.
    bool skipSave = HandlersBusy;
    HandlersBusy = true;
    if (!skipSave && AutoSaveSettingsLMDCheckBox->isChecked())
        SaveIniFile(SettingsPath());
    SettingsFile.reset();
    StopThread();
    if (KM808_IsOpened(&Device.ModuleControl) == 0)
        KM808_Close(&Device.ModuleControl);
    HandlersBusy = false;
}
