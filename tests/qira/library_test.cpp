// The crate and module libraries against a real emulator on the set-up of
// fixtures/library.json (fast pace, no noise unless said).
#include "km808api.h"
#include "module_helpers.h"
#include "qiraapi.h"
#include "shared_emulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

namespace {

const double kVolts[16] = {7.0, -6.0, 1.5, -1.7, 0.3, -0.35, 20.0, 0, 0.1, 0, 0, 0, 0, 0, 0, 0};
const double kFullScale[3] = {10, 2, 0.4};

class Library : public SharedEmulatorTest<Library> {
public:
    static std::string Config() { return "library.json"; }
};

TEST_F(Library, ListsCratesInOrder) {
    char list[16][16];
    std::memset(list, 0x55, sizeof list);
    CrateControl c;
    ASSERT_EQ(QIRA_Init(&c), 0);
    c.ChannelSelector = 0;
    ASSERT_EQ(QIRA_Open(&c), 0);
    ASSERT_EQ(QIRA_GetCrates(&c, list), 0);
    EXPECT_EQ(QIRA_Close(&c), 0);
    EXPECT_STREQ(list[0], "QT000001");
    EXPECT_STREQ(list[1], "QT000002");
    EXPECT_STREQ(list[2], "QT000003");
    EXPECT_EQ(list[3][0], 0);
}

TEST_F(Library, ReadsSlotTypesAndRefusesUnknownOrFailingCrates) {
    CrateControl c;
    QIRA_Init(&c);
    uint16_t types[16] = {};
    strcpy(c.CrateSerial, "QT000001");
    ASSERT_EQ(QIRA_Open(&c), 0);
    ASSERT_EQ(QIRA_GetCrateModules(&c, types), 0);
    QIRA_Close(&c);
    const uint16_t expected[16] = {0, 4660, 0x7272, 0, 0x7272, 0, 0, 0, 0x7272, 0, 0, 0, 0, 0, 0, 0};
    for (int k = 0; k < 16; ++k)
        EXPECT_EQ(types[k], expected[k]) << "slot " << k + 1;

    strcpy(c.CrateSerial, "QT000002"); // its module query fails
    ASSERT_EQ(QIRA_Open(&c), 0);
    EXPECT_NE(QIRA_GetCrateModules(&c, types), 0);
    QIRA_Close(&c);

    strcpy(c.CrateSerial, "NOSUCH");
    EXPECT_NE(QIRA_Open(&c), 0);
    EXPECT_NE(QIRA_Close(&c), 0); // nothing left open
}

TEST_F(Library, CrateCallsStayInsideTheir36Bytes) {
    uint8_t buffer[64];
    std::memset(buffer, 0xA5, sizeof buffer);
    auto* c = reinterpret_cast<CrateControl*>(buffer);
    char list[16][16];
    uint16_t types[16];
    ASSERT_EQ(QIRA_Init(c), 0);
    ASSERT_EQ(QIRA_Open(c), 0);
    ASSERT_EQ(QIRA_GetCrates(c, list), 0);
    strcpy(c->CrateSerial, "QT000003");
    ASSERT_EQ(QIRA_GetCrateModules(c, types), 0);
    EXPECT_EQ(types[15], 1);
    ASSERT_EQ(QIRA_Close(c), 0);
    for (size_t i = sizeof(CrateControl); i < sizeof buffer; ++i)
        ASSERT_EQ(buffer[i], 0xA5) << "byte " << i;
}

TEST_F(Library, ZeroRecordIsClosedAndOpens) {
    KM808_CONTROL m{};
    EXPECT_NE(KM808_IsOpened(&m), 0);
    EXPECT_NE(KM808_Close(&m), 0);
    EXPECT_NE(KM808_GetConfig(&m), 0);
    ASSERT_EQ(KM808_Open(&m, KM808_LOOPBACK_ADDRESS, KM808_DEFAULT_PORT, "QT000001", 3), 0);
    EXPECT_EQ(KM808_IsOpened(&m), 0);
    EXPECT_EQ(KM808_Close(&m), 0);
    EXPECT_NE(KM808_IsOpened(&m), 0);
    ASSERT_EQ(KM808_Init(&m), 0);
    EXPECT_NE(KM808_IsOpened(&m), 0);
}

TEST_F(Library, ReadsModuleIdentity) {
    Module mod;
    ASSERT_EQ(mod.open("QT000001", 3), 0);
    ASSERT_EQ(KM808_GetConfig(&mod.m), 0);
    EXPECT_STREQ(mod.m.ModuleName, "KM808");
    EXPECT_STREQ(mod.m.SerialNumber, "KMT000301");
    EXPECT_EQ(mod.m.FirmwareVersion, 0x0203);
    EXPECT_FLOAT_EQ(mod.m.ModuleCoefs[0], 8.0f);
    EXPECT_FLOAT_EQ(mod.m.ModuleCoefs[5], 2.5e-4f);
}

TEST_F(Library, OpensOnlyKm808SlotsOnceAtATime) {
    Module first, second, other;
    EXPECT_NE(other.open("QT000001", 2), 0); // another module type
    EXPECT_NE(other.open("QT000001", 4), 0); // empty slot
    EXPECT_NE(other.open("NOSUCH", 3), 0);
    ASSERT_EQ(first.open("QT000001", 9), 0);
    EXPECT_NE(second.open("QT000001", 9), 0);
    EXPECT_NE(first.open("QT000001", 9), 0); // the record is already open
    ASSERT_EQ(KM808_Close(&first.m), 0);
    EXPECT_EQ(second.open("QT000001", 9), 0);
}

TEST_F(Library, DisconnectedClientLeavesItsModuleFree) {
    Module first;
    ASSERT_EQ(first.open("QT000001", 9), 0);
    ASSERT_EQ(first.setAdc(voltageTable({0}, 0), 0), 0);
    ASSERT_EQ(KM808_Start(&first.m), 0);
    // Init drops the connection without a Close request.
    ASSERT_EQ(KM808_Init(&first.m), 0);
    Module second;
    int32_t r = -1;
    for (int attempt = 0; attempt < 100 && r != 0; ++attempt) {
        r = second.open("QT000001", 9);
        if (r != 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_EQ(r, 0);
    uint32_t word;
    EXPECT_LT(KM808_Recv(&second.m, &word, nullptr, 1, 100), 0); // not started
}

struct FrameLengthCase {
    const char* name;
    std::vector<Entry> table;
    uint16_t calibrationSlots;
    int32_t frameLength;
    uint32_t valuesPerFrame;
};

class FrameLength : public Library, public ::testing::WithParamInterface<FrameLengthCase> {};

TEST_P(FrameLength, FollowsTheTableAndTheCountRule) {
    const FrameLengthCase& c = GetParam();
    Module mod;
    ASSERT_EQ(mod.open("QT000001", 3), 0);
    ASSERT_EQ(mod.setAdc(c.table, c.calibrationSlots), 0);
    EXPECT_EQ(mod.m.FrameLength, c.frameLength);
    ASSERT_EQ(KM808_Calibrate(&mod.m), 0);
    const uint32_t frames = 10;
    const auto words = mod.acquire(frames);
    ASSERT_EQ(words.size(), size_t(c.frameLength) * frames);
    for (int32_t calibration : {1, 2}) {
        const auto values = mod.convert(words, calibration);
        ASSERT_EQ(values.size(), size_t(c.valuesPerFrame) * frames);
        // values out x FrameLength = words in x measured channels
        EXPECT_EQ(values.size() * size_t(c.frameLength), words.size() * c.valuesPerFrame);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Tables, FrameLength,
    ::testing::Values(
        FrameLengthCase{"voltage16", voltageTable({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, 0),
                        0, 16, 16},
        FrameLengthCase{"voltage16cal",
                        voltageTable({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, 1), 1, 17, 16},
        FrameLengthCase{"voltage1", voltageTable({4}, 2), 0, 1, 1},
        FrameLengthCase{"resistance2", resistanceTable({0, 1}, 0), 0, 4, 2},
        FrameLengthCase{"resistance2cal", resistanceTable({0, 1}, 2), 1, 5, 2},
        FrameLengthCase{"resistance8cal", resistanceTable({0, 1, 2, 3, 4, 5, 6, 7}, 1), 1, 17, 8}),
    [](const auto& info) { return std::string(info.param.name); });

struct BadTableCase {
    const char* name;
    std::vector<Entry> table;
    uint16_t calibrationSlots;
    int32_t divider;
};

class BadTable : public Library, public ::testing::WithParamInterface<BadTableCase> {};

TEST_P(BadTable, IsRefusedAndTheModuleStaysUsable) {
    const BadTableCase& c = GetParam();
    Module mod;
    ASSERT_EQ(mod.open("QT000001", 3), 0);
    mod.m.FrameLength = 1234;
    EXPECT_NE(mod.setAdc(c.table, c.calibrationSlots, c.divider), 0);
    EXPECT_NE(KM808_Start(&mod.m), 0);
    ASSERT_EQ(mod.setAdc(voltageTable({0}, 0), 0), 0);
    EXPECT_EQ(mod.m.FrameLength, 1);
}

std::vector<Entry> tableOf(size_t n) {
    return std::vector<Entry>(n, Entry{KM808_MODE_VOLTAGE, 0, 0});
}

INSTANTIATE_TEST_SUITE_P(
    Tables, BadTable,
    ::testing::Values(
        BadTableCase{"empty", {}, 0, 2}, BadTableCase{"tooLong", tableOf(129), 0, 2},
        BadTableCase{"unknownMode", {{0x10, 0, 0}}, 0, 2}, BadTableCase{"loneOn", {{0x20, 0, 0}}, 0, 2},
        BadTableCase{"loneOff", {{0x28, 0, 0}, {0x00, 0, 0}}, 0, 2},
        BadTableCase{"reversedPair", {{0x28, 0, 0}, {0x20, 0, 0}}, 0, 2},
        BadTableCase{"pairAcrossChannels", {{0x20, 0, 0}, {0x28, 1, 0}}, 0, 2},
        BadTableCase{"pairAcrossRanges", {{0x20, 0, 0}, {0x28, 0, 1}}, 0, 2},
        BadTableCase{"resistanceOnChannel9", resistanceTable({8}, 0), 0, 2},
        BadTableCase{"channel16", {{0x00, 16, 0}}, 0, 2}, BadTableCase{"range3", {{0x00, 0, 3}}, 0, 2},
        BadTableCase{"twoCalibrationSlots", tableOf(1), 2, 2},
        BadTableCase{"dividerNotInTable", tableOf(1), 0, 3}, BadTableCase{"dividerZero", tableOf(1), 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Library, NegativeChannelCountIsRefused) {
    Module mod;
    ASSERT_EQ(mod.open("QT000001", 3), 0);
    mod.m.LogicalChannelCount = -1;
    mod.m.FrequencyDivider = 2;
    EXPECT_NE(KM808_SetADC(&mod.m), 0);
    mod.m.LogicalChannelCount = 100000;
    EXPECT_NE(KM808_SetADC(&mod.m), 0);
}

class VoltageRange : public Library, public ::testing::WithParamInterface<int> {};

// After calibration every channel inside the range reads its injected value
// to within a few codes; without it the gain and offset error shows.
TEST_P(VoltageRange, CalibrationMakesDcValuesExact) {
    const uint8_t range = uint8_t(GetParam());
    const double code = codeVolts(range);
    Module mod;
    ASSERT_EQ(mod.open("QT000001", 3), 0);
    ASSERT_EQ(KM808_GetConfig(&mod.m), 0);
    ASSERT_EQ(mod.setAdc(voltageTable({0, 1, 2, 3, 4, 5, 6, 7}, range), 0), 0);
    const uint32_t frames = 20;
    const auto raw = mod.convert(mod.acquire(frames), 1);
    ASSERT_EQ(raw.size(), 8u * frames);
    ASSERT_EQ(KM808_Calibrate(&mod.m), 0);
    const auto calibrated = mod.convert(mod.acquire(frames), 1);
    ASSERT_EQ(calibrated.size(), 8u * frames);
    int inside = 0;
    for (int c = 0; c < 8; ++c) {
        const double v = kVolts[c];
        const double last = calibrated[(frames - 1) * 8 + c];
        if (std::fabs(v) >= kFullScale[range]) {
            // Saturated: pinned near full scale, with the sign of the input.
            EXPECT_GT(last * (v > 0 ? 1 : -1), 0.98 * kFullScale[range]) << "channel " << c + 1;
            EXPECT_LT(std::fabs(last), 1.01 * kFullScale[range]) << "channel " << c + 1;
            continue;
        }
        ++inside;
        EXPECT_NEAR(last, v, 4 * code) << "channel " << c + 1;
        EXPECT_GT(std::fabs(raw[(frames - 1) * 8 + c] - v), 100 * code) << "channel " << c + 1;
    }
    EXPECT_GE(inside, 2);
}

INSTANTIATE_TEST_SUITE_P(Ranges, VoltageRange, ::testing::Values(0, 1, 2));

struct ResistanceCase {
    uint8_t range;
    std::vector<uint8_t> channels;
    std::vector<double> ohms; // < 0: beyond the range, reads its top
};

class ResistanceRange : public Library, public ::testing::WithParamInterface<ResistanceCase> {};

TEST_P(ResistanceRange, ReadsResistancesWithinTolerance) {
    const ResistanceCase& c = GetParam();
    Module mod;
    ASSERT_EQ(mod.open("QT000001", 3), 0);
    ASSERT_EQ(KM808_GetConfig(&mod.m), 0);
    ASSERT_EQ(mod.setAdc(resistanceTable(c.channels, c.range), 1), 0);
    ASSERT_EQ(KM808_Calibrate(&mod.m), 0);
    const auto values = mod.convert(mod.acquire(8), 2);
    ASSERT_EQ(values.size(), 8 * c.channels.size());
    const double amps = mod.m.ModuleCoefs[3 + c.range];
    const double top = (c.range == 0 ? 0.5 : c.range == 1 ? 1.5 : 1.25) / amps;
    for (size_t k = 0; k < c.channels.size(); ++k) {
        const double r = values[7 * c.channels.size() + k];
        if (c.ohms[k] < 0)
            EXPECT_NEAR(r, top, 0.01 * top) << "channel " << int(c.channels[k]) + 1;
        else
            EXPECT_NEAR(r, c.ohms[k], 4 * codeVolts(3 + c.range) / amps)
                << "channel " << int(c.channels[k]) + 1;
    }
}

INSTANTIATE_TEST_SUITE_P(Ranges, ResistanceRange,
                         ::testing::Values(ResistanceCase{0, {0, 3, 1, 7}, {300, 50, -1, -1}},
                                           ResistanceCase{1, {1, 4, 5, 2}, {1100, 900, 1200, -1}},
                                           ResistanceCase{2, {2, 0, 1}, {3500, 300, 1100}}));

// Drift moves the offset by 0.1 mV per simulated second: the calibration made
// at the start goes stale while continuous correction follows.
TEST_F(Library, ContinuousCorrectionFollowsDrift) {
    Module mod;
    ASSERT_EQ(mod.open("QT000001", 5), 0);
    ASSERT_EQ(KM808_GetConfig(&mod.m), 0);
    ASSERT_EQ(mod.setAdc(voltageTable({0}, 2), 1, 2), 0); // 4000 Hz, 2000 frames/s
    ASSERT_EQ(KM808_Calibrate(&mod.m), 0);
    const uint32_t frames = 40000; // 20 s
    const auto words = mod.acquire(frames);
    ASSERT_EQ(words.size(), 2u * frames);
    const auto stale = mod.convert(words, 1);
    const auto tracked = mod.convert(words, 2);
    ASSERT_EQ(stale.size(), frames);
    ASSERT_EQ(tracked.size(), frames);
    const double code = codeVolts(2);
    EXPECT_NEAR(stale.front(), 0.2, 4 * code);
    EXPECT_GT(std::fabs(stale.back() - 0.2), 1e-3); // about 2 mV off after 20 s
    EXPECT_NEAR(tracked.back(), 0.2, 4 * code);
    // Tracking leaves the initial calibration as it was.
    EXPECT_EQ(mod.convert(words, 1), stale);
    // The tracked correction carries over to the next block.
    const auto next = mod.convert(mod.acquire(10), 2);
    ASSERT_EQ(next.size(), 10u);
    EXPECT_NEAR(next.front(), 0.2, 4 * code);
}

TEST_F(Library, NoiseIsSeededAndReproducible) {
    std::vector<double> runs[2];
    for (auto& values : runs) {
        Module mod;
        ASSERT_EQ(mod.open("QT000001", 9), 0);
        ASSERT_EQ(mod.setAdc(voltageTable({0}, 0), 0), 0);
        values = mod.convert(mod.acquire(1000), 1);
        ASSERT_EQ(values.size(), 1000u);
    }
    EXPECT_EQ(runs[0], runs[1]);
    double mean = 0, square = 0;
    for (double v : runs[0]) {
        mean += v / 1000;
        square += v * v / 1000;
    }
    const double sigma = std::sqrt(square - mean * mean);
    EXPECT_NEAR(sigma, 0.01, 0.002);
}

TEST_F(Library, ProcessDataRefusesBrokenBlocks) {
    Module mod;
    ASSERT_EQ(mod.open("QT000001", 3), 0);
    ASSERT_EQ(mod.setAdc(voltageTable({0, 1, 2}, 0), 1), 0);
    ASSERT_EQ(KM808_Calibrate(&mod.m), 0);
    const auto words = mod.acquire(50);
    ASSERT_EQ(words.size(), 200u);
    EXPECT_EQ(mod.convert(words, 1).size(), 150u);

    auto flipped = words;
    flipped[101] ^= 0x01000000; // a tag bit
    EXPECT_TRUE(mod.convert(flipped, 1).empty());
    auto foreign = words;
    foreign[7] = 0xFFFFFFFF;
    EXPECT_TRUE(mod.convert(foreign, 2).empty());
    // Misaligned by one word, and by one frame minus one.
    EXPECT_TRUE(mod.convert(std::vector<uint32_t>(words.begin() + 1, words.end() - 3), 1).empty());
    EXPECT_TRUE(mod.convert(std::vector<uint32_t>(words.begin() + 3, words.end() - 1), 1).empty());
    // Not a whole number of frames.
    EXPECT_TRUE(mod.convert(std::vector<uint32_t>(words.begin(), words.end() - 1), 1).empty());
    // Bad arguments.
    EXPECT_TRUE(mod.convert(words, 0).empty());
    EXPECT_TRUE(mod.convert(words, 3).empty());
    EXPECT_TRUE(mod.convert(words, 1, 8).empty());
    // The table changed since SetADC.
    mod.m.LogicalChannelTable[1].RangeCode = 2;
    EXPECT_TRUE(mod.convert(words, 1).empty());
}

TEST_F(Library, RecvNeverWritesPastCount) {
    Module mod;
    ASSERT_EQ(mod.open("QT000001", 3), 0);
    ASSERT_EQ(mod.setAdc(voltageTable({0, 1}, 0), 0), 0);
    uint32_t word = 0;
    EXPECT_LT(KM808_Recv(&mod.m, &word, nullptr, 1, 10), 0); // not started
    ASSERT_EQ(KM808_Start(&mod.m), 0);
    EXPECT_EQ(mod.m.AcquisitionRunning, 1);
    std::vector<uint32_t> buffer(1000);
    for (uint32_t count : {1u, 7u, 500u, 0u}) {
        std::fill(buffer.begin(), buffer.end(), 0xDEADBEEF);
        const int32_t n = KM808_Recv(&mod.m, buffer.data(), nullptr, count, 1000);
        EXPECT_EQ(n, int32_t(count));
        for (size_t i = count; i < buffer.size(); ++i)
            ASSERT_EQ(buffer[i], 0xDEADBEEF) << "count " << count << " word " << i;
    }
    EXPECT_LT(KM808_Recv(&mod.m, nullptr, nullptr, 5, 10), 0);
    ASSERT_EQ(KM808_Stop(&mod.m), 0);
    EXPECT_EQ(mod.m.AcquisitionRunning, 0);
    // Stopped: unread words are gone and Recv fails until the next Start.
    EXPECT_LT(KM808_Recv(&mod.m, buffer.data(), nullptr, 5, 10), 0);
}

// Start begins a fresh stream: the first words of every block are the
// first frame, whatever was left unread before.
TEST_F(Library, StartBeginsAFreshStream) {
    Module mod;
    ASSERT_EQ(mod.open("QT000001", 3), 0);
    ASSERT_EQ(mod.setAdc(voltageTable({0, 1, 2}, 0), 0), 0);
    ASSERT_EQ(KM808_Start(&mod.m), 0);
    uint32_t w[2];
    ASSERT_EQ(KM808_Recv(&mod.m, w, nullptr, 2, 1000), 2);
    ASSERT_EQ(KM808_Stop(&mod.m), 0);
    EXPECT_EQ(mod.convert(mod.acquire(5), 1).size(), 15u);
}

TEST_F(Library, RealtimeRecvHonoursTheTimeOut) {
    EmulatorProcess realtime("realtime.json");
    ASSERT_TRUE(realtime.started()) << realtime.error();
    Module mod;
    ASSERT_EQ(mod.open("QR000009", 1), 0);
    ASSERT_EQ(mod.setAdc(voltageTable({0}, 0), 0, 1600), 0); // 5 words per second
    ASSERT_EQ(KM808_Start(&mod.m), 0);
    std::vector<uint32_t> buffer(100, 0xDEADBEEF);
    const int32_t n = KM808_Recv(&mod.m, buffer.data(), nullptr, 50, 300);
    EXPECT_GE(n, 0);
    EXPECT_LT(n, 50);
    for (size_t i = size_t(std::max(n, 0)); i < buffer.size(); ++i)
        ASSERT_EQ(buffer[i], 0xDEADBEEF);
    // Words already delivered still convert as whole frames.
    ASSERT_EQ(KM808_Stop(&mod.m), 0);
    emulator_->select();
}

} // namespace

namespace {

// Several threads, each on its own module and crate records, at once: the
// libraries share only their connection table, so each thread's readings
// are its own module's. ThreadSanitizer (scripts/test.sh tsan) checks the rest.
TEST_F(Library, ThreadsOnSeparateRecordsDoNotMeetEachOther) {
    struct Work {
        uint16_t slot;
        double volts; // channel 1 of that module
        bool ok = false;
        double mean = 0;
    };
    std::vector<Work> work = {{3, 7.0}, {5, 0.2}, {9, 1.0}};
    std::atomic<int> crateFailures{0};
    std::vector<std::thread> threads;
    for (Work& w : work)
        threads.emplace_back([&w] {
            for (int round = 0; round < 3; ++round) {
                Module mod;
                if (mod.open("QT000001", w.slot) != 0 || KM808_GetConfig(&mod.m) != 0 ||
                    mod.setAdc(voltageTable({0}, 0), 0) != 0 || KM808_Calibrate(&mod.m) != 0)
                    return;
                const auto values = mod.convert(mod.acquire(40), 1);
                if (values.size() != 40)
                    return;
                double sum = 0;
                for (double v : values)
                    sum += v;
                w.mean = sum / 40;
            }
            w.ok = true;
        });
    threads.emplace_back([&] {
        for (int round = 0; round < 10; ++round) {
            CrateControl crate{};
            char list[16][16];
            uint16_t types[16];
            QIRA_Init(&crate);
            if (QIRA_Open(&crate) != 0 || QIRA_GetCrates(&crate, list) != 0 ||
                std::string(list[0]) != "QT000001")
                ++crateFailures;
            QIRA_Close(&crate);
            std::memcpy(crate.CrateSerial, "QT000001", 9);
            if (QIRA_Open(&crate) != 0 || QIRA_GetCrateModules(&crate, types) != 0 ||
                types[2] != KM808_TYPE_CODE)
                ++crateFailures;
            QIRA_Close(&crate);
        }
    });
    for (std::thread& t : threads)
        t.join();

    EXPECT_EQ(crateFailures, 0);
    for (const Work& w : work) {
        EXPECT_TRUE(w.ok) << "slot " << w.slot;
        EXPECT_NEAR(w.mean, w.volts, 0.01) << "slot " << w.slot;
    }
}

} // namespace
