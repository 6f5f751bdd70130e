// The main window's designed sizes that the fitting and layout start from.
#pragma once

namespace MainFormDesign {

constexpr int ClientWidth = 1176; // Wd
constexpr int ClientHeight = 888; // Hd
constexpr int TopGroupHeight = 77;
constexpr int ModulePanelWidth = 509; // SelectedModuleLMDSimplePanel
constexpr int Bevel3Left = 471;
constexpr int StartPanelLeft = 672;
constexpr int SettingsGroupLeft = 932;

// The multimeter page's panel: the measurement stream above the equipment strip.
constexpr int MultimeterPanelWidth = 965;
constexpr int MultimeterPanelHeight = 766;
constexpr int EquipmentHeight = 98;
constexpr int CommonGroupHeight = 99;
constexpr int ChannelAreaWidth = 950; // AdcIndividualParsLMDSimplePanel minimum
constexpr int ChannelAreaHeight = 530;
constexpr int AcquisitionTimePanelWidth = 111;
constexpr int ComputationInfoPanelWidth = 46;

} // namespace MainFormDesign
