#include "settings/Cp1251Codec.h"

#include <cerrno>
#include <iconv.h>

namespace {

// An undecodable byte b travels as U+F700 + b.
constexpr char32_t RawByteBase = 0xF700;

class Converter {
public:
    Converter(const char* to, const char* from) : Cd(iconv_open(to, from)) {}
    ~Converter() {
        if (Valid())
            iconv_close(Cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool Valid() const { return Cd != reinterpret_cast<iconv_t>(-1); }
    // Converts as much as it can; returns false when it stopped at a byte it
    // cannot convert (errno tells which kind).
    bool Run(char*& in, size_t& inLeft, char*& out, size_t& outLeft) {
        return iconv(Cd, &in, &inLeft, &out, &outLeft) != static_cast<size_t>(-1);
    }

private:
    iconv_t Cd;
};

void PutUtf8(char*& out, size_t& outLeft, char32_t cp) {
    out[0] = static_cast<char>(0xE0 | (cp >> 12));
    out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp & 0x3F));
    out += 3;
    outLeft -= 3;
}

// Length and code point of the UTF-8 sequence at p (at most left bytes);
// 1 and U+FFFD when it is malformed.
size_t ReadUtf8(const unsigned char* p, size_t left, char32_t& cp) {
    size_t len = p[0] < 0x80           ? 1
                 : (p[0] >> 5) == 0x6  ? 2
                 : (p[0] >> 4) == 0xE  ? 3
                 : (p[0] >> 3) == 0x1E ? 4
                                       : 0;
    if (len == 0 || len > left) {
        cp = 0xFFFD;
        return 1;
    }
    cp = len == 1 ? p[0] : len == 2 ? p[0] & 0x1F : len == 3 ? p[0] & 0x0F : p[0] & 0x07;
    for (size_t i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80) {
            cp = 0xFFFD;
            return 1;
        }
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    return len;
}

} // namespace

QString Cp1251::Decode(const QByteArray& bytes) {
    // Every Windows-1251 character, and every escaped byte, is at most three
    // UTF-8 bytes long.
    QByteArray utf8(bytes.size() * 3, Qt::Uninitialized);
    char* in = const_cast<char*>(bytes.constData());
    size_t inLeft = static_cast<size_t>(bytes.size());
    char* out = utf8.data();
    size_t outLeft = static_cast<size_t>(utf8.size());
    Converter conv("UTF-8", "CP1251");
    while (inLeft > 0) {
        if (conv.Valid() && conv.Run(in, inLeft, out, outLeft))
            break;
        // A byte the code page leaves undefined (or no converter at all).
        if (outLeft < 3)
            break;
        PutUtf8(out, outLeft, RawByteBase + static_cast<unsigned char>(*in));
        ++in;
        --inLeft;
    }
    return QString::fromUtf8(utf8.constData(), out - utf8.constData());
}

QByteArray Cp1251::Encode(const QString& text) {
    QByteArray utf8 = text.toUtf8();
    // Windows-1251 never needs more bytes than UTF-8.
    QByteArray result(utf8.size(), Qt::Uninitialized);
    char* in = utf8.data();
    size_t inLeft = static_cast<size_t>(utf8.size());
    char* out = result.data();
    size_t outLeft = static_cast<size_t>(result.size());
    Converter conv("CP1251", "UTF-8");
    while (inLeft > 0) {
        if (conv.Valid() && conv.Run(in, inLeft, out, outLeft))
            break;
        if (outLeft < 1)
            break;
        char32_t cp = 0;
        size_t len = ReadUtf8(reinterpret_cast<const unsigned char*>(in), inLeft, cp);
        if (cp < 0x80)
            *out++ = static_cast<char>(cp);
        else if (cp >= RawByteBase && cp <= RawByteBase + 0xFF)
            *out++ = static_cast<char>(cp - RawByteBase);
        else
            *out++ = '?';
        --outLeft;
        in += len;
        inLeft -= len;
    }
    result.truncate(out - result.constData());
    return result;
}
