// Placeholder definitions until the settings procedures land.
#include "app/TMainForm.h"
#include "settings/TSettingsFile.h"

std::unique_ptr<TSettingsFile> TMainForm::OpenSettingsFile(const std::function<void(const QString&)>&) {
    return nullptr;
}
bool TMainForm::LoadSettings(TSettingsFile*) { return false; }
bool TMainForm::LoadModuleSettings(TSettingsFile*) { return false; }
bool TMainForm::LoadCorrectionSettings(TSettingsFile*) { return false; }
void TMainForm::SaveIniFile(const QString&) {}
bool TMainForm::WriteApplicationSettings(TSettingsFile*) { return false; }
bool TMainForm::WriteModuleSettings(TSettingsFile*) { return false; }
bool TMainForm::CreateDefaultIniFile(const QString&) { return false; }
bool TMainForm::WriteDefaultApplicationSettings(TSettingsFile*) { return false; }
bool TMainForm::WriteDefaultModuleSettings(TSettingsFile*) { return false; }
void TMainForm::SaveSettingsButtonClick() {}
void TMainForm::SaveCurrentSettingsClick() {}
void TMainForm::SaveDefaultSettingsClick() {}
void TMainForm::FormClose() {}
