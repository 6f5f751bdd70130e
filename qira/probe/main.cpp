// qira-probe: lists the crates and their modules, or measures one block on
// all channels of one KM808 and prints the values.
#include "km808api.h"
#include "qiraapi.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const int kDividers[] = {1600, 80, 40, 16, 8, 4, 2};
const int kRates[] = {5, 100, 200, 500, 1000, 2000, 4000};

int usage(const char* why) {
    if (why)
        fprintf(stderr, "qira-probe: %s\n", why);
    fprintf(stderr, "usage: qira-probe                       list crates, slot types and KM808 modules\n"
                    "       qira-probe CRATE SLOT [options]  measure one block on every channel\n"
                    "options:\n"
                    "  --mode u|r         voltage on 16 channels (default) or resistance on channels 1-8\n"
                    "  --range 0|1|2      u: 10 V, 2 V, 0.4 V; r: 400, 1200, 4000 Ohm (default 0)\n"
                    "  --rate HZ          5, 100, 200, 500, 1000, 2000 or 4000 (default 1000)\n"
                    "  --frames N         module frames in the block (default 100)\n"
                    "  --continuous       continuous calibration instead of calibrating once\n"
                    "  --loop             measure again and again until interrupted\n");
    return 2;
}

int listAll() {
    char crates[16][16] = {};
    CrateControl c;
    QIRA_Init(&c);
    c.ChannelSelector = 0;
    if (QIRA_Open(&c) != 0 || QIRA_GetCrates(&c, crates) != 0) {
        QIRA_Close(&c);
        fprintf(stderr, "qira-probe: no crate server answers\n");
        return 1;
    }
    QIRA_Close(&c);
    for (int i = 0; i < 16 && crates[i][0]; ++i) {
        uint16_t types[16] = {};
        std::memcpy(c.CrateSerial, crates[i], 16);
        c.CrateSerial[15] = 0;
        if (QIRA_Open(&c) != 0 || QIRA_GetCrateModules(&c, types) != 0) {
            QIRA_Close(&c);
            printf("crate %s: slot types cannot be read\n", crates[i]);
            continue;
        }
        QIRA_Close(&c);
        printf("crate %s\n", crates[i]);
        for (int s = 0; s < 16; ++s) {
            if (types[s] == 0)
                continue;
            printf("  slot %2d: type 0x%04X", s + 1, types[s]);
            if (types[s] == KM808_TYPE_CODE) {
                KM808_CONTROL m{};
                if (KM808_Open(&m, KM808_LOOPBACK_ADDRESS, KM808_DEFAULT_PORT, crates[i], uint16_t(s + 1)) ==
                        0 &&
                    KM808_GetConfig(&m) == 0)
                    printf("  %s serial %s firmware %d.%d", m.ModuleName, m.SerialNumber,
                           m.FirmwareVersion >> 8, m.FirmwareVersion & 0xFF);
                else
                    printf("  KM808 (does not answer)");
                if (KM808_IsOpened(&m) == 0)
                    KM808_Close(&m);
            }
            printf("\n");
        }
    }
    return 0;
}

struct Options {
    bool resistance = false;
    int range = 0;
    int rateIndex = 4;
    unsigned frames = 100;
    bool continuous = false;
    bool loop = false;
};

bool parseOptions(int argc, char** argv, Options& o) {
    for (int i = 3; i < argc; ++i) {
        const std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        char* end = nullptr;
        if (a == "--continuous") {
            o.continuous = true;
        } else if (a == "--loop") {
            o.loop = true;
        } else if (a == "--mode" && v) {
            if (std::strcmp(v, "u") != 0 && std::strcmp(v, "r") != 0)
                return false;
            o.resistance = v[0] == 'r';
            ++i;
        } else if (a == "--range" && v) {
            o.range = int(std::strtol(v, &end, 10));
            if (*end || o.range < 0 || o.range > 2)
                return false;
            ++i;
        } else if (a == "--rate" && v) {
            const long hz = std::strtol(v, &end, 10);
            o.rateIndex = -1;
            for (int k = 0; k < 7; ++k)
                if (kRates[k] == hz)
                    o.rateIndex = k;
            if (*end || o.rateIndex < 0)
                return false;
            ++i;
        } else if (a == "--frames" && v) {
            const long n = std::strtol(v, &end, 10);
            if (*end || n < 1 || n > 100000)
                return false;
            o.frames = unsigned(n);
            ++i;
        } else {
            return false;
        }
    }
    return true;
}

int measure(const char* crate, int slot, const Options& o) {
    KM808_CONTROL m{};
    if (KM808_Open(&m, KM808_LOOPBACK_ADDRESS, KM808_DEFAULT_PORT, crate, uint16_t(slot)) != 0 ||
        KM808_GetConfig(&m) != 0) {
        fprintf(stderr, "qira-probe: cannot open the KM808 in crate %s slot %d\n", crate, slot);
        if (KM808_IsOpened(&m) == 0)
            KM808_Close(&m);
        return 1;
    }
    printf("%s serial %s firmware %d.%d\n", m.ModuleName, m.SerialNumber, m.FirmwareVersion >> 8,
           m.FirmwareVersion & 0xFF);
    const int channels = o.resistance ? 8 : 16;
    int k = 0;
    for (int c = 0; c < channels; ++c) {
        if (o.resistance) {
            m.LogicalChannelTable[k++] = {KM808_MODE_RESISTANCE_A, uint8_t(c), uint8_t(o.range)};
            m.LogicalChannelTable[k++] = {KM808_MODE_RESISTANCE_B, uint8_t(c), uint8_t(o.range)};
        } else {
            m.LogicalChannelTable[k++] = {KM808_MODE_VOLTAGE, uint8_t(c), uint8_t(o.range)};
        }
    }
    m.LogicalChannelCount = k;
    m.CalibrationSlotCount = o.continuous ? 1 : 0;
    m.OptionByte1 = 0;
    m.OptionByte2 = 1;
    m.FrequencyDivider = kDividers[o.rateIndex];
    int status = 1;
    if (KM808_SetADC(&m) != 0 || KM808_Calibrate(&m) != 0) {
        fprintf(stderr, "qira-probe: the module refuses the set-up\n");
        KM808_Close(&m);
        return 1;
    }
    const uint32_t total = uint32_t(m.FrameLength) * o.frames;
    const double frameRate = kRates[o.rateIndex] / double(m.FrameLength);
    const uint32_t chunk =
        std::max<uint32_t>(1, std::min<uint32_t>(total, uint32_t(frameRate * 0.1 * m.FrameLength + 0.4)));
    std::vector<uint32_t> words(total);
    std::vector<double> values(size_t(k) * o.frames);
    do {
        status = 1;
        if (m.AcquisitionRunning && KM808_Stop(&m) != 0)
            break;
        if (KM808_Start(&m) != 0) {
            fprintf(stderr, "qira-probe: KM808_Start failed\n");
            break;
        }
        uint32_t got = 0;
        while (got < total) {
            const uint32_t want = std::min(chunk, total - got);
            const int32_t n = KM808_Recv(&m, words.data() + got, nullptr, want, 5000);
            if (n != int32_t(want)) {
                fprintf(stderr, "qira-probe: KM808_Recv returned %d of %u words\n", n, want);
                break;
            }
            got += want;
        }
        KM808_Stop(&m);
        uint32_t count = total;
        if (got < total ||
            KM808_ProcessData(&m, words.data(), values.data(), &count, o.continuous ? 2 : 1, 3) != 0) {
            fprintf(stderr, "qira-probe: the block cannot be converted\n");
            break;
        }
        printf("%u frames at %.3f Hz:\n", o.frames, frameRate);
        for (int c = 0; c < channels; ++c) {
            double sum = 0;
            for (unsigned f = 0; f < o.frames; ++f)
                sum += values[size_t(f) * channels + c];
            const double mean = sum / o.frames;
            if (o.resistance)
                printf("  channel %2d: %12.3f Ohm\n", c + 1, mean);
            else
                printf("  channel %2d: %12.4f mV\n", c + 1, mean * 1000);
        }
        fflush(stdout);
        status = 0;
    } while (o.loop);
    KM808_Close(&m);
    return status;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 1)
        return listAll();
    if (argc < 3 || argv[1][0] == '-')
        return usage(argc == 2 && std::strcmp(argv[1], "--help") == 0 ? nullptr : "bad arguments");
    char* end = nullptr;
    const long slot = std::strtol(argv[2], &end, 10);
    if (*end || slot < 1 || slot > 16)
        return usage("SLOT must be 1 to 16");
    Options o;
    if (!parseOptions(argc, argv, o))
        return usage("bad option");
    return measure(argv[1], int(slot), o);
}
