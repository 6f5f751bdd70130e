// Feeds arbitrary bytes to the crate server's request decoding, as a session
// does: header, then the payload of the announced type, then the table check.
#include "channel_table.h"
#include "wire_format.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    while (size >= qira::kHeaderSize) {
        qira::Header h;
        std::string reason;
        if (!qira::decodeHeader(data, h, reason))
            return 0;
        data += qira::kHeaderSize;
        size -= qira::kHeaderSize;
        if (h.length > qira::kMaxRequestPayload || h.length > size)
            return 0;
        qira::Request r;
        if (qira::decodeRequest(h.type, data, h.length, r, reason) && r.type == qira::MessageType::SetADC) {
            const int32_t frameLength = qira::validateSettings(r.adc);
            if (frameLength != 0 && qira::scalesUsed(r.adc.table).empty())
                __builtin_trap();
        }
        data += h.length;
        size -= h.length;
    }
    return 0;
}
