// Arbitrary bytes as a settings file: reading must keep every byte (only line
// ends become CR LF), and whatever is written must read back, also after the
// file has been written out and read again.
#include "settings/Cp1251Codec.h"
#include "settings/TSettingsFile.h"

#include <QRegularExpression>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void Check(bool ok, const char* what) {
    if (!ok) {
        fprintf(stderr, "settings fuzzer: %s\n", what);
        abort();
    }
}

QByteArray CrLfLines(const QByteArray& in) {
    QByteArray out;
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] == '\r' || in[i] == '\n') {
            if (in[i] == '\r' && i + 1 < in.size() && in[i + 1] == '\n')
                ++i;
            out += "\r\n";
        } else {
            out += in[i];
        }
    }
    if (!out.isEmpty() && !out.endsWith("\r\n"))
        out += "\r\n";
    return out;
}

QString Clean(QString s, const char* drop) {
    for (const char* c = drop; *c; ++c)
        s.remove(QChar(*c));
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    auto file = TSettingsFile::FromBytes(bytes);
    Check(file->ToBytes() == CrLfLines(bytes), "reading lost or changed bytes");

    static const QRegularExpression lineBreak("\r\n|\r|\n");
    QStringList lines = Cp1251::Decode(bytes).split(lineBreak);
    file->ReadInteger(lines.value(0), lines.value(1), 0);
    file->ReadFloat(lines.value(0), lines.value(1), 0);

    // Names from the input made writable: a section without "]" and line
    // breaks, a key without "=" and line breaks that starts with a letter.
    struct Written {
        QString section, key, value;
    };
    QList<Written> written;
    for (qsizetype i = 0; i + 2 < lines.size() && written.size() < 4; i += 3) {
        Written w{QStringLiteral("S") + Clean(lines[i], "]\r\n"),
                  QStringLiteral("K") + Clean(lines[i + 1], "=\r\n"), lines[i + 2]};
        file->WriteString(w.section, w.key, w.value);
        written.append(w);
    }
    int32_t number = 0;
    double real = 0;
    if (size >= sizeof number + sizeof real) {
        std::memcpy(&number, data, sizeof number);
        std::memcpy(&real, data + sizeof number, sizeof real);
    }
    file->WriteInteger(QStringLiteral("N"), QStringLiteral("i"), number);
    file->WriteFloat(QStringLiteral("N"), QStringLiteral("r"), real);

    auto again = TSettingsFile::FromBytes(file->ToBytes());
    Check(again->ToBytes() == file->ToBytes(), "a written file reads back differently");
    for (const TSettingsFile* f : {file.get(), again.get()}) {
        // A later write to the same names replaces the earlier value.
        for (qsizetype i = 0; i < written.size(); ++i) {
            bool replaced = false;
            for (qsizetype j = i + 1; j < written.size(); ++j)
                replaced = replaced || (written[j].section.trimmed().compare(written[i].section.trimmed(),
                                                                             Qt::CaseInsensitive) == 0 &&
                                        written[j].key.trimmed().compare(written[i].key.trimmed(),
                                                                         Qt::CaseInsensitive) == 0);
            if (!replaced)
                Check(f->ReadString(written[i].section, written[i].key, {}) == written[i].value,
                      "string lost");
        }
        Check(f->ReadInteger(QStringLiteral("N"), QStringLiteral("i"), 0) == number, "integer lost");
        double back = f->ReadFloat(QStringLiteral("N"), QStringLiteral("r"), 0);
        Check(!std::isfinite(real) ? back == 0 : std::fabs(back - real) <= std::fabs(real) * 1e-14,
              "real lost");
    }
    return 0;
}
