// The designed controls of the top group, the pages, the hidden equipment strip
// and the context menu, at their designed places.
#include "app/DesignedSizes.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>

#include "app/TMainForm.h"
#include "app/TPageControl.h"
#include "ui/DesignLook.h"
#include "ui/TCaptionCheckBox.h"
#include "ui/TLed.h"

using namespace DesignLook;

namespace {

QFrame* MakePanel(QWidget* parent, const char* name, const QRect& geometry, bool bevel = true) {
    auto* panel = new QFrame(parent);
    panel->setObjectName(name);
    panel->setGeometry(geometry);
    if (bevel)
        panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    return panel;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QRect& geometry, const QString& text,
                  const QFont& font, bool framed = false) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setGeometry(geometry);
    label->setFont(font);
    label->setWordWrap(!framed);
    label->setAlignment(framed ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter);
    if (framed)
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    return label;
}

TLed* MakeLed(QWidget* parent, const char* name, const QRect& geometry) {
    auto* led = new TLed(parent);
    led->setObjectName(name);
    led->setGeometry(geometry);
    return led;
}

} // namespace

void TMainForm::BuildTopGroup() {
    ModuleDetectionLMDGroupBox = new QGroupBox(this);
    ModuleDetectionLMDGroupBox->setObjectName("ModuleDetectionLMDGroupBox");
    ModuleDetectionLMDGroupBox->setGeometry(0, 0, MainFormDesign::ClientWidth,
                                            MainFormDesign::TopGroupHeight);

    FindDeviceLMDButton = new QPushButton("Обнаружить", ModuleDetectionLMDGroupBox);
    FindDeviceLMDButton->setObjectName("FindDeviceLMDButton");
    FindDeviceLMDButton->setGeometry(5, 5, 156, 68);
    FindDeviceLMDButton->setFont(Arial(24));
    SetTextColor(FindDeviceLMDButton, Navy);
    FindDeviceLMDButton->setCursor(Qt::PointingHandCursor);

    SelectedModuleLMDSimplePanel = MakePanel(ModuleDetectionLMDGroupBox, "SelectedModuleLMDSimplePanel",
                                             {163, 3, MainFormDesign::ModulePanelWidth, 72});
    QWidget* sel = SelectedModuleLMDSimplePanel;
    QiraCratesLabLMDLabel = MakeLabel(sel, "QiraCratesLabLMDLabel", {4, 14, 55, 19}, "Крейт", Arial(15));
    QiraCratesComboBox = new QComboBox(sel);
    QiraCratesComboBox->setObjectName("QiraCratesComboBox");
    QiraCratesComboBox->setGeometry(61, 10, 170, 28);
    QiraCratesComboBox->setFont(CourierNew(17, true));
    QiraCrateStatusLed = MakeLed(sel, "QiraCrateStatusLed", {233, 12, 23, 23});
    ModulesLabLMDLabel = MakeLabel(sel, "ModulesLabLMDLabel", {4, 42, 55, 19}, "Модуль", Arial(15));
    ModulesComboBox = new QComboBox(sel);
    ModulesComboBox->setObjectName("ModulesComboBox");
    ModulesComboBox->setGeometry(61, 39, 170, 28);
    ModulesComboBox->setFont(CourierNew(17, true));
    ModuleStatusLed = MakeLed(sel, "ModuleStatusLed", {233, 39, 23, 23});
    ModuleSerialNumberLabLMDLabel =
        MakeLabel(sel, "ModuleSerialNumberLabLMDLabel", {274, 5, 66, 34}, "Серийный номер", Arial(13));
    ModuleSerialNumberLabLMDLabel->setAlignment(Qt::AlignCenter);
    ModuleFirmwareVersionLabLMDLabel = MakeLabel(sel, "ModuleFirmwareVersionLabLMDLabel", {362, 5, 105, 34},
                                                 "Версия микропрограммы", Arial(13));
    ModuleFirmwareVersionLabLMDLabel->setAlignment(Qt::AlignCenter);
    ModuleSerialNumberLMDLabel = MakeLabel(sel, "ModuleSerialNumberLMDLabel", {260, 41, 100, 29}, "????????",
                                           CourierNew(18, true), true);
    ModuleSerialNumberLMDLabel->setToolTip("Серийный номер модуля");
    ModuleFirmwareVersionLMDLabel = MakeLabel(sel, "ModuleFirmwareVersionLMDLabel", {360, 41, 109, 29},
                                              "??.??.??.??", CourierNew(17, true), true);
    ModuleFirmwareVersionLMDLabel->setToolTip("Версия микропрограммы модуля");
    Bevel3 = new QFrame(sel);
    Bevel3->setObjectName("Bevel3");
    Bevel3->setFrameStyle(QFrame::VLine | QFrame::Sunken);
    Bevel3->setGeometry(MainFormDesign::Bevel3Left, 3, 2, 66);
    GeneratorStatusLed = MakeLed(sel, "GeneratorStatusLed", {479, 6, 23, 23});
    MultimeterStatusLed = MakeLed(sel, "MultimeterStatusLed", {479, 38, 23, 23});

    StartMultimeterLMDSimplePanel = MakePanel(ModuleDetectionLMDGroupBox, "StartMultimeterLMDSimplePanel",
                                              {MainFormDesign::StartPanelLeft, 3, 260, 72});
    StartMultimeterLMDSpeedButton = new QPushButton("С   Т   А   Р   Т", StartMultimeterLMDSimplePanel);
    StartMultimeterLMDSpeedButton->setObjectName("StartMultimeterLMDSpeedButton");
    StartMultimeterLMDSpeedButton->setGeometry(5, 7, 251, 61);
    StartMultimeterLMDSpeedButton->setCheckable(true);
    StartMultimeterLMDSpeedButton->setFont(PixelFont("Times New Roman", 35, true));
    SetTextColor(StartMultimeterLMDSpeedButton, Green);
    StartMultimeterLMDSpeedButton->setCursor(Qt::PointingHandCursor);

    SaveIniSettingLMDGroupBox = new QGroupBox("Настройки", ModuleDetectionLMDGroupBox);
    SaveIniSettingLMDGroupBox->setObjectName("SaveIniSettingLMDGroupBox");
    SaveIniSettingLMDGroupBox->setGeometry(MainFormDesign::SettingsGroupLeft, 3, 242, 72);
    SaveIniSettingLMDGroupBox->setFont(Arial(20));
    SetTextColor(SaveIniSettingLMDGroupBox, Maroon);
    AutoSaveSettingsLMDCheckBox =
        new TCaptionCheckBox(SaveIniSettingLMDGroupBox, TCaptionCheckBox::Placement::Right);
    AutoSaveSettingsLMDCheckBox->setObjectName("AutoSaveSettingsLMDCheckBox");
    AutoSaveSettingsLMDCheckBox->setText("    Авто Сохранение");
    AutoSaveSettingsLMDCheckBox->setGeometry(3, 28, 97, 38);
    AutoSaveSettingsLMDCheckBox->setFont(Arial(13));
    SetTextColor(AutoSaveSettingsLMDCheckBox, Qt::black);
    SaveSettingsButton = new QPushButton("Сохранить", SaveIniSettingLMDGroupBox);
    SaveSettingsButton->setObjectName("SaveSettingsButton");
    SaveSettingsButton->setGeometry(99, 25, 140, 44);
    SaveSettingsButton->setFont(Arial(23));
    SetTextColor(SaveSettingsButton, Navy);
}

void TMainForm::BuildPages() {
    const int pageHeight = MainFormDesign::ClientHeight - MainFormDesign::TopGroupHeight;
    MainLMDSimplePanel =
        MakePanel(this, "MainLMDSimplePanel",
                  {0, MainFormDesign::TopGroupHeight, MainFormDesign::ClientWidth, pageHeight}, false);
    auto* pages = new TPageControl(MainLMDSimplePanel);
    MainLMDPageControl = pages;
    pages->setObjectName("MainLMDPageControl");
    pages->setGeometry(MainLMDSimplePanel->rect());
    pages->setFont(Arial(20));

    MultimeterLMDTabSheet = new QWidget;
    MultimeterLMDTabSheet->setObjectName("MultimeterLMDTabSheet");
    CorrectionFactorsLMDTabSheet = new QWidget;
    CorrectionFactorsLMDTabSheet->setObjectName("CorrectionFactorsLMDTabSheet");
    VerificationLMDTabSheet = new QWidget;
    VerificationLMDTabSheet->setObjectName("VerificationLMDTabSheet");
    pages->addTab(MultimeterLMDTabSheet, "Мультиметр");
    pages->addTab(CorrectionFactorsLMDTabSheet, "Коэффициенты");
    pages->addTab(VerificationLMDTabSheet, "Поверка");

    MultimeterLMDSimplePanel =
        MakePanel(MultimeterLMDTabSheet, "MultimeterLMDSimplePanel",
                  {0, 0, MainFormDesign::MultimeterPanelWidth, MainFormDesign::MultimeterPanelHeight});
    AdcStreamLMDSimplePanel = MakePanel(MultimeterLMDSimplePanel, "AdcStreamLMDSimplePanel", {}, false);
    BuildMeasurementGroups();
    BuildEquipmentStrip();
    LayoutMultimeterPanel(MainFormDesign::MultimeterPanelWidth, MainFormDesign::MultimeterPanelHeight);
}

void TMainForm::BuildEquipmentStrip() {
    // Kept as plain containers: the window hides them and never shows them again.
    EquipmentLMDSimplePanel = MakePanel(MultimeterLMDSimplePanel, "EquipmentLMDSimplePanel", {}, false);
    const int half = (MainFormDesign::MultimeterPanelWidth - 2) / 2;
    GeneratorLMDGroupBox = new QGroupBox(EquipmentLMDSimplePanel);
    GeneratorLMDGroupBox->setObjectName("GeneratorLMDGroupBox");
    GeneratorLMDGroupBox->setGeometry(0, 0, half, MainFormDesign::EquipmentHeight);
    MultimeterLMDGroupBox = new QGroupBox(EquipmentLMDSimplePanel);
    MultimeterLMDGroupBox->setObjectName("MultimeterLMDGroupBox");
    MultimeterLMDGroupBox->setGeometry(half, 0, half, MainFormDesign::EquipmentHeight);
    VoltmeterValueLMDLabel = MakeLabel(MultimeterLMDGroupBox, "VoltmeterValueLMDLabel", {10, 30, 200, 40}, "",
                                       CourierNew(27, true), true);
    AmperemeterValueLMDLabel = MakeLabel(MultimeterLMDGroupBox, "AmperemeterValueLMDLabel",
                                         {230, 30, 200, 40}, "", CourierNew(27, true), true);
}

void TMainForm::BuildContextMenu() {
    PopupMenu = new QMenu(this);
    PopupMenu->setObjectName("PopupMenu");
    PopupMenu->setToolTipsVisible(true);
    auto add = [this](const char* name, const QString& text, const QKeySequence& keys) {
        auto* action = new QAction(text, this);
        action->setObjectName(name);
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        PopupMenu->addAction(action);
        // Shortcuts keep working after the menu stops opening on a right click.
        addAction(action);
        return action;
    };
    RebootDeviceMenuItem = add("RebootDeviceMenuItem", "Перезагрузка Изделия", QKeySequence("Ctrl+R"));
    QFont bold = RebootDeviceMenuItem->font();
    bold.setBold(true);
    RebootDeviceMenuItem->setFont(bold);
    PopupMenu->setDefaultAction(RebootDeviceMenuItem);
    PopupMenu->addSeparator();
    SaveDefaultSettings = add("SaveDefaultSettings", "Сохранение штатных настроек", QKeySequence("Ctrl+D"));
    SaveCurrentSettings = add("SaveCurrentSettings", "Сохранение текущих настроек", QKeySequence("Ctrl+S"));
    PopupMenu->addSeparator();
    AboutProgram = add("AboutProgram", "О программе ...", QKeySequence("Ctrl+A"));
    PopupMenu->addSeparator();
    ApplicationExit = add("ApplicationExit", "Выход", QKeySequence("Ctrl+Q"));
    ApplicationExit->setToolTip("Спокойный выход из программы");
}
