#include "app/PJVersionInfo.h"

#include "app/ProgramVersionRecord.h"

#include <QFile>

#include <cstring>
#include <elf.h>

namespace {

template <typename T> bool ReadAt(QFile& file, quint64 offset, T& out) {
    return file.seek(qint64(offset)) &&
           file.read(reinterpret_cast<char*>(&out), sizeof out) == qint64(sizeof out);
}

// Finds the named section of a 64-bit little-endian ELF file and reads its
// content into record.
bool ReadSection(QFile& file, const char* name, Km808VersionRecord& record) {
    Elf64_Ehdr header;
    if (!ReadAt(file, 0, header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
        header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_ident[EI_DATA] != ELFDATA2LSB ||
        header.e_shentsize != sizeof(Elf64_Shdr) || header.e_shstrndx >= header.e_shnum)
        return false;
    Elf64_Shdr names;
    if (!ReadAt(file, header.e_shoff + quint64(header.e_shstrndx) * sizeof(Elf64_Shdr), names))
        return false;
    const size_t nameLength = std::strlen(name) + 1;
    for (quint16 i = 0; i < header.e_shnum; ++i) {
        Elf64_Shdr section;
        if (!ReadAt(file, header.e_shoff + quint64(i) * sizeof(Elf64_Shdr), section))
            return false;
        if (section.sh_name >= names.sh_size || names.sh_size - section.sh_name < nameLength)
            continue;
        if (!file.seek(qint64(names.sh_offset) + qint64(section.sh_name)))
            return false;
        const QByteArray candidate = file.read(qint64(nameLength));
        if (candidate.size() != qint64(nameLength) ||
            std::memcmp(candidate.constData(), name, nameLength) != 0)
            continue;
        return section.sh_type == SHT_PROGBITS && section.sh_size >= sizeof record &&
               ReadAt(file, section.sh_offset, record) &&
               std::memcmp(record.Magic, Km808VersionMagic, sizeof record.Magic) == 0;
    }
    return false;
}

} // namespace

void PJVersionInfo::SetFileName(const QString& fileName) {
    Present = false;
    std::memset(FileVersion, 0, sizeof FileVersion);
    QFile file(fileName);
    Km808VersionRecord record;
    if (!file.open(QIODevice::ReadOnly) || !ReadSection(file, SectionName, record))
        return;
    std::memcpy(FileVersion, record.Numbers, sizeof FileVersion);
    Present = true;
}
