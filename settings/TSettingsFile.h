// The settings file: an INI text in Windows-1251 with CR LF line ends, held in
// memory from Open to Flush. Section and key names match without regard to
// letter case and to blanks around them; writes change only the line of their
// key, so lines the program does not know survive every save.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>

class TSettingsFile {
public:
    // Reads the file (a missing file reads as empty). Null when the path cannot
    // be used: empty, a directory, or a file that cannot be read.
    static std::unique_ptr<TSettingsFile> Open(const QString& path);
    // An accessor on file content without a file; Flush then fails.
    static std::unique_ptr<TSettingsFile> FromBytes(const QByteArray& bytes);

    QString ReadString(const QString& section, const QString& key, const QString& def) const;
    // Decimal, or hexadecimal after "0x"/"0X".
    int32_t ReadInteger(const QString& section, const QString& key, int32_t def) const;
    // Any non-zero integer is true.
    bool ReadBool(const QString& section, const QString& key, bool def) const;
    // "." is the only decimal separator; non-finite values read as the default.
    double ReadFloat(const QString& section, const QString& key, double def) const;

    // Line breaks in a value become blanks. Names that cannot stand in an INI
    // line (empty, with "=", "]" or a line break) are not written.
    void WriteString(const QString& section, const QString& key, const QString& value);
    void WriteInteger(const QString& section, const QString& key, int32_t value);
    void WriteBool(const QString& section, const QString& key, bool value);
    void WriteFloat(const QString& section, const QString& key, double value);

    // Replaces the file atomically with the content. False on any failure and
    // when the file is marked read-only; the old file then stays whole.
    bool Flush();

    QByteArray ToBytes() const;
    const QString& Path() const { return FilePath; }

private:
    TSettingsFile() = default;
    void Parse(const QByteArray& bytes);
    qsizetype FindSection(const QString& section) const;
    qsizetype SectionEnd(qsizetype header) const;
    qsizetype FindKey(qsizetype header, const QString& key) const;
    std::optional<QString> Value(const QString& section, const QString& key) const;

    QString FilePath;
    QStringList Lines;
};
