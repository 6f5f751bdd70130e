#include "settings/TSettingsFile.h"

#include "settings/Cp1251Codec.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool IsBlank(QChar c) {
    return c == u' ' || c == u'\t';
}

QStringView TrimBlanks(QStringView s) {
    qsizetype b = 0, e = s.size();
    while (b < e && IsBlank(s[b]))
        ++b;
    while (e > b && IsBlank(s[e - 1]))
        --e;
    return s.mid(b, e - b);
}

// The name of a section header line "[name]".
std::optional<QStringView> SectionName(QStringView line) {
    QStringView t = TrimBlanks(line);
    if (!t.startsWith(u'['))
        return std::nullopt;
    qsizetype close = t.indexOf(u']');
    if (close < 0)
        return std::nullopt;
    return TrimBlanks(t.mid(1, close - 1));
}

// Position of the "=" of an entry line, or -1 for headers, comments and other
// lines.
qsizetype EntryEquals(QStringView line) {
    QStringView t = TrimBlanks(line);
    if (t.startsWith(u'[') || t.startsWith(u';'))
        return -1;
    qsizetype eq = line.indexOf(u'=');
    if (eq < 0 || TrimBlanks(line.left(eq)).isEmpty())
        return -1;
    return eq;
}

bool SameName(QStringView a, QStringView b) {
    return TrimBlanks(a).compare(TrimBlanks(b), Qt::CaseInsensitive) == 0;
}

bool ValidName(const QString& name, bool isSection) {
    QStringView t = TrimBlanks(name);
    if (t.isEmpty() || t.contains(u'\r') || t.contains(u'\n'))
        return false;
    if (isSection)
        return !t.contains(u']');
    return !t.contains(u'=') && !t.startsWith(u'[') && !t.startsWith(u';');
}

std::optional<int32_t> ParseInteger(QStringView text) {
    QStringView t = TrimBlanks(text);
    if (t.size() > 2 && (t.startsWith(u"0x") || t.startsWith(u"0X"))) {
        bool ok = false;
        uint32_t v = t.mid(2).toUInt(&ok, 16);
        // toUInt would also take a sign or blanks after the prefix.
        bool digitsOnly = std::all_of(t.begin() + 2, t.end(), [](QChar c) {
            return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
        });
        if (!ok || !digitsOnly)
            return std::nullopt;
        return static_cast<int32_t>(v);
    }
    QByteArray latin = t.toLatin1();
    const char* b = latin.constData();
    const char* e = b + latin.size();
    if (e - b > 1 && *b == '+' && b[1] != '-')
        ++b;
    int32_t v = 0;
    auto [end, ec] = std::from_chars(b, e, v, 10);
    if (ec != std::errc() || end != e)
        return std::nullopt;
    return v;
}

std::optional<double> ParseReal(QStringView text) {
    QByteArray latin = TrimBlanks(text).toLatin1();
    const char* b = latin.constData();
    const char* e = b + latin.size();
    // A plus sign is as valid here as for integers; from_chars refuses it.
    if (e - b > 1 && *b == '+' && b[1] != '-' && b[1] != '+')
        ++b;
    double v = 0;
    auto [end, ec] = std::from_chars(b, e, v, std::chars_format::general);
    if (b == e || ec != std::errc() || end != e || !std::isfinite(v))
        return std::nullopt;
    return v;
}

// A Windows-1251 text with Cyrillic in it is almost never valid UTF-8 (the
// program's own keys never are), while a file saved by a UTF-8 editor is.
bool IsUtf8Text(const QByteArray& bytes) {
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 0x80; }))
        return false;
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString text = utf8(bytes);
    return !utf8.hasError() && !text.isEmpty();
}

bool WriteAllBytes(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

// A new file beside the settings file, created with the mode the process
// would give a new file, never through an existing name.
int CreateTemporary(const QByteArray& dir, QByteArray& name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = dir + "/.Km808_Viza.ini." + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

} // namespace

std::unique_ptr<TSettingsFile> TSettingsFile::Open(const QString& path, OpenFailure* why) {
    OpenFailure failure = OpenFailure::None;
    if (!why)
        why = &failure;
    *why = OpenFailure::Unusable;
    if (path.isEmpty())
        return nullptr;
    std::unique_ptr<TSettingsFile> file(new TSettingsFile);
    file->FilePath = path;
    QFileInfo info(path);
    if (info.exists()) {
        // An unreadable file must not read as empty: a later save would then
        // replace the operator's settings.
        QFile f(path);
        if (!info.isFile() || !f.open(QIODevice::ReadOnly))
            return nullptr;
        if (f.size() > MaxFileBytes) {
            *why = OpenFailure::TooLarge;
            return nullptr;
        }
        // The size may grow between the test and the read.
        QByteArray bytes = f.read(MaxFileBytes + 1);
        if (f.error() != QFileDevice::NoError)
            return nullptr;
        if (bytes.size() > MaxFileBytes) {
            *why = OpenFailure::TooLarge;
            return nullptr;
        }
        if (IsUtf8Text(bytes)) {
            *why = OpenFailure::NotCp1251;
            return nullptr;
        }
        file->Parse(bytes);
    }
    *why = OpenFailure::None;
    return file;
}

std::unique_ptr<TSettingsFile> TSettingsFile::FromBytes(const QByteArray& bytes) {
    std::unique_ptr<TSettingsFile> file(new TSettingsFile);
    file->Parse(bytes);
    return file;
}

void TSettingsFile::Parse(const QByteArray& bytes) {
    QString text = Cp1251::Decode(bytes);
    Lines.clear();
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'\r' && text[i] != u'\n')
            continue;
        Lines.append(text.mid(start, i - start));
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        Lines.append(text.mid(start));
}

QByteArray TSettingsFile::ToBytes() const {
    QString text;
    for (const QString& line : Lines) {
        text += line;
        text += u"\r\n";
    }
    return Cp1251::Encode(text);
}

qsizetype TSettingsFile::FindSection(const QString& section) const {
    for (qsizetype i = 0; i < Lines.size(); ++i) {
        std::optional<QStringView> name = SectionName(Lines[i]);
        if (name && SameName(*name, section))
            return i;
    }
    return -1;
}

qsizetype TSettingsFile::SectionEnd(qsizetype header) const {
    qsizetype i = header + 1;
    while (i < Lines.size() && !SectionName(Lines[i]))
        ++i;
    return i;
}

qsizetype TSettingsFile::FindKey(qsizetype header, const QString& key) const {
    qsizetype end = SectionEnd(header);
    for (qsizetype i = header + 1; i < end; ++i) {
        qsizetype eq = EntryEquals(Lines[i]);
        if (eq >= 0 && SameName(QStringView(Lines[i]).left(eq), key))
            return i;
    }
    return -1;
}

std::optional<QString> TSettingsFile::Value(const QString& section, const QString& key) const {
    qsizetype header = FindSection(section);
    if (header < 0)
        return std::nullopt;
    qsizetype line = FindKey(header, key);
    if (line < 0)
        return std::nullopt;
    return Lines[line].mid(EntryEquals(Lines[line]) + 1);
}

QString TSettingsFile::ReadString(const QString& section, const QString& key, const QString& def) const {
    return Value(section, key).value_or(def);
}

int32_t TSettingsFile::ReadInteger(const QString& section, const QString& key, int32_t def) const {
    std::optional<QString> v = Value(section, key);
    if (!v)
        return def;
    return ParseInteger(*v).value_or(def);
}

bool TSettingsFile::ReadBool(const QString& section, const QString& key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

double TSettingsFile::ReadFloat(const QString& section, const QString& key, double def) const {
    std::optional<QString> v = Value(section, key);
    if (!v)
        return def;
    return ParseReal(*v).value_or(def);
}

void TSettingsFile::WriteString(const QString& section, const QString& key, const QString& value) {
    if (!ValidName(section, true) || !ValidName(key, false))
        return;
    QString v = value;
    v.replace(u'\r', u' ').replace(u'\n', u' ');
    qsizetype header = FindSection(section);
    if (header < 0) {
        Lines.append(u'[' + section + u']');
        Lines.append(key + u'=' + v);
        return;
    }
    qsizetype line = FindKey(header, key);
    if (line >= 0) {
        Lines[line] = Lines[line].left(EntryEquals(Lines[line]) + 1) + v;
        return;
    }
    // After the section's last non-blank line, so a blank line that separates
    // it from the next section stays where it is.
    qsizetype at = SectionEnd(header);
    while (at > header + 1 && TrimBlanks(Lines[at - 1]).isEmpty())
        --at;
    Lines.insert(at, key + u'=' + v);
}

void TSettingsFile::WriteInteger(const QString& section, const QString& key, int32_t value) {
    WriteString(section, key, QString::number(value));
}

void TSettingsFile::WriteBool(const QString& section, const QString& key, bool value) {
    WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void TSettingsFile::WriteFloat(const QString& section, const QString& key, double value) {
    // "%.15g" in the C locale, whatever the process locale says.
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
    WriteString(section, key, ec == std::errc() ? QString::fromLatin1(buf, end - buf) : QString());
}

bool TSettingsFile::Flush() {
    if (FilePath.isEmpty())
        return false;
    const QByteArray target = QFile::encodeName(FilePath);
    struct stat old {};
    const bool exists = ::lstat(target.constData(), &old) == 0;
    if (!exists && errno != ENOENT)
        return false;
    if (exists) {
        // A link would send the content somewhere the program never chose. The
        // rename below would also replace a file the operator made read-only
        // (and root could write it anyway), so such a file refuses the write.
        if (!S_ISREG(old.st_mode) || !(old.st_mode & S_IWUSR) || ::access(target.constData(), W_OK) != 0)
            return false;
    }
    QByteArray dir = QFile::encodeName(QFileInfo(FilePath).absolutePath());
    QByteArray temporary;
    int fd = CreateTemporary(dir, temporary);
    if (fd < 0)
        return false;
    const QByteArray bytes = ToBytes();
    bool ok = WriteAllBytes(fd, bytes.constData(), size_t(bytes.size()));
    if (ok && exists) {
        struct stat made {};
        ok = ::fstat(fd, &made) == 0;
        // A save must not hand the operator's file to whoever ran it.
        if (ok && (made.st_uid != old.st_uid || made.st_gid != old.st_gid))
            ok = ::fchown(fd, old.st_uid, old.st_gid) == 0;
        if (ok)
            ok = ::fchmod(fd, old.st_mode & 07777) == 0;
    }
    // Space a write could not report (delayed allocation, network file
    // systems) shows up here at the latest; the old file is still whole.
    if (ok)
        ok = ::fsync(fd) == 0;
    if (::close(fd) != 0)
        ok = false;
    if (ok)
        ok = ::rename(temporary.constData(), target.constData()) == 0;
    if (!ok) {
        ::unlink(temporary.constData());
        return false;
    }
    // The rename itself reaches the disk with the directory.
    int dirFd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}
