#include "store/Gzip.h"

#include <array>
#include <cstdint>

namespace {

uint32_t Crc32(const QByteArray& data) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (char ch : data)
        crc = table[(crc ^ uint8_t(ch)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

void AppendLittle32(QByteArray& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.append(char((v >> (8 * i)) & 0xFF));
}

} // namespace

QByteArray GzipBytes(const QByteArray& data) {
    // qCompress: a 4-byte length, then a zlib stream: a 2-byte header, the
    // raw deflate data, a 4-byte Adler-32. gzip wants the raw deflate data.
    const QByteArray zlib = qCompress(data, 6);
    QByteArray out("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10);
    out.append(zlib.constData() + 6, zlib.size() - 10);
    AppendLittle32(out, Crc32(data));
    AppendLittle32(out, uint32_t(data.size()));
    return out;
}
