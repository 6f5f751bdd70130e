// Reads the version record that the build places in the program's own
// executable (ELF section ".km808_version").
#pragma once

#include <QString>

#include <cstdint>

class PJVersionInfo {
public:
    static constexpr const char* SectionName = ".km808_version";

    // Points the reader at an executable; HaveInfo() tells whether it holds a
    // version record.
    void SetFileName(const QString& fileName);
    bool HaveInfo() const { return Present; }

    // File version: major, minor, release, build.
    uint16_t FileVersion[4] = {};

private:
    bool Present = false;
};
