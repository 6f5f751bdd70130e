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
    enum class OpenFailure { None, Unusable, TooLarge, NotCp1251 };
    // A real file is a few kilobytes; anything far beyond that is not one of
    // ours and must not cost memory and time at every detection.
    static constexpr qint64 MaxFileBytes = 64 * 1024;

    // Reads the file (a missing file reads as empty). Null when the path cannot
    // be used: empty, a directory, a file that cannot be read, a file above
    // MaxFileBytes, or a UTF-8 text (its Cyrillic keys would never match, and
    // a save would mix two encodings in it). why tells which.
    static std::unique_ptr<TSettingsFile> Open(const QString& path, OpenFailure* why = nullptr);
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

    // Replaces the file atomically with the content, keeping its owner and
    // mode. False on any failure (a failed write, sync or close included), when
    // the file is marked read-only, and when the path is a symbolic link or
    // anything but a plain file: the program writes only the file it means.
    // The old file then stays whole.
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
