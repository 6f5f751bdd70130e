// The module library: one record, one connection to the crate server, bound
// to one module by KM808_Open.
#include "km808api.h"

#include "channel_table.h"
#include "module_state.h"
#include "server_link.h"
#include "wire_format.h"

#include <cstring>
#include <poll.h>
#include <sys/socket.h>

using namespace qira;

namespace {

constexpr int kCallTimeoutMs = 5000;
// A Recv reply may arrive this late after the time-out the server honours.
constexpr int kRecvGraceMs = 1000;
// Words of a Recv reply may take this long per KiB on top.
constexpr int64_t kRecvMsPerKiB = 1;

// The record's socket, or -1 when it holds no connection of its own (never
// opened, closed, or a copy of another record).
int socketOf(const KM808_CONTROL* m, const ModuleState& st) {
    return st.magic == kOpenMagic ? connections::fdOf(st.fd, m) : -1;
}

int32_t serverCode(int32_t status) {
    return KM808_ERR_SERVER_BASE - status;
}

// A broken or late exchange leaves the stream out of step; the socket is shut
// so that every later call fails at once, until KM808_Close.
int32_t linkFailed(KM808_CONTROL* m, LinkResult why = LinkResult::Broken) {
    ModuleState st = loadState(m);
    const int fd = socketOf(m, st);
    if (fd >= 0) {
        shutdown(fd, SHUT_RDWR);
        st.flags |= FlagLinkDead;
        storeState(m, st);
    }
    return why == LinkResult::TimedOut ? KM808_ERR_TIMEOUT : KM808_ERR_CONNECTION;
}

int32_t control(KM808_CONTROL* m, const std::vector<uint8_t>& request, std::vector<uint8_t>& reply,
                int32_t& status) {
    const int fd = socketOf(m, loadState(m));
    if (fd < 0)
        return KM808_ERR_NOT_OPEN;
    const LinkResult r =
        ServerLink::exchange(fd, request, kMaxControlReplyPayload, reply, deadlineIn(kCallTimeoutMs));
    if (r != LinkResult::Done)
        return linkFailed(m, r);
    if (!decodeStatus(reply.data(), reply.size(), status))
        return linkFailed(m);
    return 0;
}

// For calls whose reply is the status alone.
int32_t simpleCall(KM808_CONTROL* m, MessageType type) {
    std::vector<uint8_t> reply;
    int32_t status = 0;
    if (const int32_t r = control(m, encodeEmpty(type), reply, status))
        return r;
    if (status != StatusOk)
        return serverCode(status);
    return reply.size() == 4 ? 0 : linkFailed(m);
}

void clearLibraryFields(KM808_CONTROL* m) {
    std::memset(m->Private, 0, sizeof m->Private);
    m->FrameLength = 0;
    m->AcquisitionRunning = 0;
    std::memset(m->ModuleName, 0, sizeof m->ModuleName);
    std::memset(m->SerialNumber, 0, sizeof m->SerialNumber);
    m->FirmwareVersion = 0;
    std::memset(m->ModuleCoefs, 0, sizeof m->ModuleCoefs);
}

AdcSettings settingsOf(const KM808_CONTROL* m) {
    AdcSettings s;
    const int32_t n = m->LogicalChannelCount;
    if (n >= 0 && n <= KM808_MAX_TABLE)
        for (int32_t i = 0; i < n; ++i) {
            const KM808_TABLE_ENTRY& e = m->LogicalChannelTable[i];
            s.table.push_back(TableEntry{e.ModeCode, e.PhysicalChannel, e.RangeCode});
        }
    s.calibrationSlots = m->CalibrationSlotCount;
    s.option1 = m->OptionByte1;
    s.option2 = m->OptionByte2;
    s.divider = m->FrequencyDivider;
    return s;
}

} // namespace

namespace qira {

uint32_t tableHash(const KM808_CONTROL* m) {
    uint32_t h = 2166136261u;
    auto mix = [&h](const void* p, size_t n) {
        const auto* b = static_cast<const uint8_t*>(p);
        for (size_t i = 0; i < n; ++i)
            h = (h ^ b[i]) * 16777619u;
    };
    const int32_t n = m->LogicalChannelCount;
    mix(&n, sizeof n);
    if (n > 0 && n <= KM808_MAX_TABLE)
        mix(m->LogicalChannelTable, size_t(n) * sizeof(KM808_TABLE_ENTRY));
    mix(&m->CalibrationSlotCount, sizeof m->CalibrationSlotCount);
    return h;
}

} // namespace qira

extern "C" {

int32_t KM808_Init(KM808_CONTROL* m) {
    if (!m)
        return KM808_ERR_ARGUMENT;
    connections::remove(loadState(m).fd, m);
    clearLibraryFields(m);
    return 0;
}

int32_t KM808_Open(KM808_CONTROL* m, uint32_t address, uint16_t port, const char* crateSerial,
                   uint16_t slot) {
    if (!m || !crateSerial || slot < 1 || slot > 16)
        return KM808_ERR_ARGUMENT;
    if (socketOf(m, loadState(m)) >= 0)
        return KM808_ERR_ALREADY_OPEN;
    clearLibraryFields(m);
    if (address == KM808_LOOPBACK_ADDRESS && port == KM808_DEFAULT_PORT)
        resolveServer(address, port);
    // Connecting and the server's answer share the one time-out.
    const Deadline deadline = deadlineIn(kCallTimeoutMs);
    ServerLink::ConnectFailure why;
    const int fd = ServerLink::connectTo(address, port, deadline, why);
    if (fd < 0)
        return why == ServerLink::ConnectFailure::TimedOut       ? KM808_ERR_TIMEOUT
               : why == ServerLink::ConnectFailure::NoDescriptor ? KM808_ERR_NO_DESCRIPTOR
                                                                 : KM808_ERR_CONNECTION;
    char serial[kSerialSize] = {};
    strncpy(serial, crateSerial, kSerialSize - 1);
    std::vector<uint8_t> reply;
    int32_t status = 0;
    const LinkResult r =
        ServerLink::exchange(fd, encodeOpen(serial, slot), kMaxControlReplyPayload, reply, deadline);
    if (r != LinkResult::Done || !decodeStatus(reply.data(), reply.size(), status) || reply.size() != 4) {
        ServerLink::closeSocket(fd);
        return r == LinkResult::TimedOut ? KM808_ERR_TIMEOUT : KM808_ERR_CONNECTION;
    }
    if (status != StatusOk) {
        ServerLink::closeSocket(fd);
        return serverCode(status);
    }
    ModuleState st{};
    st.magic = kOpenMagic;
    st.fd = connections::add(fd, m);
    if (st.fd == 0)
        return KM808_ERR_NO_DESCRIPTOR;
    storeState(m, st);
    return 0;
}

int32_t KM808_IsOpened(KM808_CONTROL* m) {
    return m && socketOf(m, loadState(m)) >= 0 ? 0 : 1;
}

int32_t KM808_Close(KM808_CONTROL* m) {
    if (!m)
        return KM808_ERR_ARGUMENT;
    const ModuleState st = loadState(m);
    const int fd = socketOf(m, st);
    if (fd < 0) {
        if (st.magic == kOpenMagic) {
            // A copy of an open record: forget the connection, it is not ours.
            ModuleState forgotten = st;
            forgotten.magic = 0;
            forgotten.fd = 0;
            storeState(m, forgotten);
            m->AcquisitionRunning = 0;
        }
        return KM808_ERR_NOT_OPEN;
    }
    // The server frees the module when the connection ends, so a failed or
    // late Close request changes nothing; on a link known dead none is sent.
    if (!(st.flags & FlagLinkDead)) {
        std::vector<uint8_t> reply;
        ServerLink::exchange(fd, encodeEmpty(MessageType::Close), kMaxControlReplyPayload, reply,
                             deadlineIn(kCallTimeoutMs));
    }
    connections::remove(st.fd, m);
    ModuleState closed = st;
    closed.magic = 0;
    closed.fd = 0;
    closed.flags = 0;
    storeState(m, closed);
    m->AcquisitionRunning = 0;
    return 0;
}

int32_t KM808_GetConfig(KM808_CONTROL* m) {
    if (!m)
        return KM808_ERR_ARGUMENT;
    std::vector<uint8_t> reply;
    int32_t status = 0;
    if (const int32_t r = control(m, encodeEmpty(MessageType::GetConfig), reply, status))
        return r;
    if (status != StatusOk)
        return serverCode(status);
    ModuleIdentity id;
    if (!decodeIdentity(reply.data(), reply.size(), id))
        return linkFailed(m);
    std::memcpy(m->ModuleName, id.name, sizeof m->ModuleName);
    std::memcpy(m->SerialNumber, id.serial, sizeof m->SerialNumber);
    m->FirmwareVersion = id.firmware;
    std::memcpy(m->ModuleCoefs, id.coefs, sizeof m->ModuleCoefs);
    ModuleState st = loadState(m);
    std::memcpy(st.coefs, id.coefs, sizeof st.coefs);
    st.flags = coefsValid(id.coefs) ? st.flags | FlagHaveCoefs : st.flags & ~FlagHaveCoefs;
    storeState(m, st);
    return 0;
}

int32_t KM808_SetADC(KM808_CONTROL* m) {
    if (!m)
        return KM808_ERR_ARGUMENT;
    if (socketOf(m, loadState(m)) < 0)
        return KM808_ERR_NOT_OPEN;
    const AdcSettings settings = settingsOf(m);
    if (m->LogicalChannelCount < 1 || m->LogicalChannelCount > KM808_MAX_TABLE)
        return KM808_ERR_ARGUMENT;
    const int32_t frameLength = validateSettings(settings);
    if (frameLength == 0)
        return KM808_ERR_ARGUMENT;
    std::vector<uint8_t> reply;
    int32_t status = 0;
    if (const int32_t r = control(m, encodeSetADC(settings), reply, status))
        return r;
    ModuleState st = loadState(m);
    // Whatever the outcome, the module no longer holds the table applied before.
    st.flags &= ~FlagConfigured;
    storeState(m, st);
    if (status != StatusOk)
        return serverCode(status);
    int32_t served = 0;
    if (!decodeFrameLength(reply.data(), reply.size(), served) || served != frameLength)
        return linkFailed(m);
    m->FrameLength = frameLength;
    st.flags |= FlagConfigured;
    st.frameLength = frameLength;
    st.tableHash = tableHash(m);
    storeState(m, st);
    return 0;
}

int32_t KM808_Calibrate(KM808_CONTROL* m) {
    if (!m)
        return KM808_ERR_ARGUMENT;
    std::vector<uint8_t> reply;
    int32_t status = 0;
    if (const int32_t r = control(m, encodeEmpty(MessageType::Calibrate), reply, status))
        return r;
    if (status != StatusOk)
        return serverCode(status);
    CalibrationCodes codes;
    if (!decodeCalibration(reply.data(), reply.size(), codes))
        return linkFailed(m);
    ModuleState st = loadState(m);
    // A zero and reference that give no usable span (a faulty module, or a
    // server that lies) would turn every reading into a false value.
    const uint32_t used = (st.flags & FlagConfigured) ? scalesUsedMask(m) : (1u << kScaleCount) - 1;
    for (int s = 0; s < kScaleCount; ++s)
        if ((used & (1u << s)) && !calibrationPlausible(st, s, codes.zero[s], codes.reference[s]))
            return KM808_ERR_CALIBRATION;
    std::memcpy(st.calZero, codes.zero, sizeof st.calZero);
    std::memcpy(st.calReference, codes.reference, sizeof st.calReference);
    std::memcpy(st.trackZero, codes.zero, sizeof st.trackZero);
    std::memcpy(st.trackReference, codes.reference, sizeof st.trackReference);
    st.flags |= FlagCalibrated;
    storeState(m, st);
    return 0;
}

int32_t KM808_Start(KM808_CONTROL* m) {
    if (!m)
        return KM808_ERR_ARGUMENT;
    const int32_t r = simpleCall(m, MessageType::Start);
    if (r == 0)
        m->AcquisitionRunning = 1;
    return r;
}

int32_t KM808_Stop(KM808_CONTROL* m) {
    if (!m)
        return KM808_ERR_ARGUMENT;
    const int32_t r = simpleCall(m, MessageType::Stop);
    if (r == 0)
        m->AcquisitionRunning = 0;
    return r;
}

int32_t KM808_CheckLink(KM808_CONTROL* m) {
    if (!m)
        return KM808_ERR_ARGUMENT;
    const ModuleState st = loadState(m);
    const int fd = socketOf(m, st);
    if (fd < 0)
        return KM808_ERR_NOT_OPEN;
    if (st.flags & FlagLinkDead)
        return KM808_ERR_CONNECTION;
    // Between calls the server sends nothing: anything readable is its
    // closing of the connection (or bytes out of step), either way dead.
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 0) <= 0)
        return 0; // nothing there (or nothing known): the next call tells
    return linkFailed(m);
}

int32_t KM808_Recv(KM808_CONTROL* m, uint32_t* words, uint32_t* marks, uint32_t count, uint32_t timeoutMs) {
    (void)marks; // the module sends no marks
    if (!m || (count > 0 && !words))
        return KM808_ERR_ARGUMENT;
    const int fd = socketOf(m, loadState(m));
    if (fd < 0)
        return KM808_ERR_NOT_OPEN;
    if (count > kMaxRecvWords)
        count = kMaxRecvWords;
    if (count > uint32_t(INT32_MAX))
        count = uint32_t(INT32_MAX);
    const uint32_t wait = timeoutMs > 3600000u ? 3600000u : timeoutMs;
    // One deadline for the request, the reply and its words: a server that
    // trickles cannot hold the caller longer than the time-out it asked for.
    const Deadline deadline = deadlineIn(int64_t(wait) + kRecvGraceMs);
    const auto request = encodeRecv(count, wait);
    if (const LinkResult r = ServerLink::sendAll(fd, request.data(), request.size(), deadline);
        r != LinkResult::Done)
        return linkFailed(m, r);
    uint8_t head[kHeaderSize];
    if (const LinkResult r = ServerLink::recvAll(fd, head, sizeof head, deadline); r != LinkResult::Done)
        return linkFailed(m, r);
    Header h;
    std::string reason;
    if (!decodeHeader(head, h, reason) || h.type != (uint16_t(MessageType::Recv) | kReplyBit) || h.length < 4)
        return linkFailed(m);
    uint8_t fixed[kRecvReplyFixed] = {};
    if (const LinkResult r =
            ServerLink::recvAll(fd, fixed, h.length >= kRecvReplyFixed ? kRecvReplyFixed : 4, deadline);
        r != LinkResult::Done)
        return linkFailed(m, r);
    int32_t status = 0;
    uint32_t n = 0;
    if (!decodeRecvFixed(fixed, h.length, count, status, n))
        return linkFailed(m);
    if (status != StatusOk)
        return serverCode(status);
    // Words go straight into the caller's buffer, no copy.
    const Deadline wordsDeadline =
        deadline + std::chrono::milliseconds(int64_t(n) * 4 / 1024 * kRecvMsPerKiB);
    if (n > 0) {
        if (const LinkResult r = ServerLink::recvAll(fd, words, size_t(n) * 4, wordsDeadline);
            r != LinkResult::Done)
            return linkFailed(m, r);
    }
    return int32_t(n);
}

} // extern "C"
