// Placeholder until the settings-file accessor lands.
#pragma once
class TSettingsFile {
public:
    virtual ~TSettingsFile() = default;
};
