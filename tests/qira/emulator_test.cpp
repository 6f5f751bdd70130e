// The emulator process itself: configuration refusal, the request log,
// connections that misbehave, and the probe tool on top of it.
#include "emulator_process.h"
#include "module_helpers.h"
#include "qiraapi.h"
#include "wire_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cmath>
#include <cstring>
#include <netinet/in.h>
#include <random>
#include <regex>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

struct BadConfig {
    const char* name;
    const char* file;
    const char* where; // what the message must contain
};

class RefusedConfig : public ::testing::TestWithParam<BadConfig> {};

TEST_P(RefusedConfig, NamesFileLineAndProblem) {
    const BadConfig& c = GetParam();
    const std::string path = c.file[0] == '/' ? c.file : EmulatorProcess::fixture(c.file);
    std::string output;
    const int status = EmulatorProcess::run(
        {EmulatorProcess::binary("qira-emulator"), "--listen", "127.0.0.1:0", "--config", path}, output);
    EXPECT_NE(status, 0);
    EXPECT_NE(output.find(path + ":" + c.where), std::string::npos) << output;
}

INSTANTIATE_TEST_SUITE_P(
    Files, RefusedConfig,
    ::testing::Values(BadConfig{"missing", "/nonexistent/qira.json", "0: cannot open"},
                      BadConfig{"syntax", "bad_syntax.json", "5: unexpected character"},
                      BadConfig{"slotRange", "bad_slot.json", "5: \"slot\" must lie between 1 and 16"},
                      BadConfig{"unknownKey", "unknown_key.json", "4: unknown key \"colour\""},
                      BadConfig{"pace", "bad_pace.json", "2: \"pace\" must be"},
                      BadConfig{"serialEncoding", "bad_serial.json", "5: \"serial\" holds a character"},
                      BadConfig{"change", "bad_change.json", "4: a change needs one of"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EmulatorArguments, BadArgumentsAreRefused) {
    std::string output;
    const std::string emulator = EmulatorProcess::binary("qira-emulator");
    EXPECT_NE(EmulatorProcess::run({emulator, "--listen", "nowhere"}, output), 0);
    EXPECT_NE(EmulatorProcess::run({emulator, "--bogus"}, output), 0);
    EXPECT_NE(output.find("usage"), std::string::npos);
}

double meanOf(const std::vector<double>& v, size_t from, size_t to) {
    double sum = 0;
    for (size_t i = from; i < to; ++i)
        sum += v[i];
    return sum / double(to - from);
}

double sigmaOf(const std::vector<double>& v, size_t from, size_t to) {
    const double mean = meanOf(v, from, to);
    double sum = 0;
    for (size_t i = from; i < to; ++i)
        sum += (v[i] - mean) * (v[i] - mean);
    return std::sqrt(sum / double(to - from));
}

// Channel 1 of fixtures/schedule.json on the simulated clock: 1 V, a step to
// 2 V at 1 s, a ramp to 4 V from 3 s to 5 s, a spike of 8 V at 6 s, noise of
// 50 mV from 7 s.
TEST(EmulatorSchedule, StepRampSpikeAndNoiseAtTheirTimes) {
    EmulatorProcess emulator("schedule.json");
    ASSERT_TRUE(emulator.started()) << emulator.error();
    emulator.select();
    Module mod;
    ASSERT_EQ(mod.open("QS000001", 4), 0);
    ASSERT_EQ(mod.setAdc(voltageTable({0}, 0), 0), 0); // 4000 frames/s
    constexpr size_t kRate = 4000;
    const auto run = mod.convert(mod.acquire(10 * kRate), 1);
    ASSERT_EQ(run.size(), 10 * kRate);
    const double code = codeVolts(0);
    struct Point {
        double seconds;
        double volts;
    };
    const Point points[] = {{0.5, 1.0}, {0.999, 1.0}, {1.001, 2.0}, {2.9, 2.0},
                            {4.0, 3.0}, {5.5, 4.0},   {6.5, 4.0}};
    for (const Point& p : points)
        EXPECT_NEAR(run[size_t(p.seconds * kRate)], p.volts, 4 * code) << "at " << p.seconds << " s";
    EXPECT_LT(sigmaOf(run, 5 * kRate + 100, 7 * kRate - 100), 4 * code);
    EXPECT_NEAR(sigmaOf(run, 7 * kRate + 100, 10 * kRate), 0.05, 0.005);

    // The spike's time has passed inside that block: the next block reads it
    // whole, the one after it no more.
    const double means[] = {8.0, 4.0};
    for (double expected : means) {
        const auto block = mod.convert(mod.acquire(1000), 1);
        ASSERT_EQ(block.size(), 1000u);
        EXPECT_NEAR(meanOf(block, 0, block.size()), expected, 0.01);
        EXPECT_NEAR(block.front(), expected, 0.25);
        EXPECT_NEAR(block.back(), expected, 0.25);
    }
}

class Emulator : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(emulator_.started()) << emulator_.error();
        emulator_.select();
    }

    int connectRaw() const {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(uint16_t(emulator_.port()));
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        timeval tv{5, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        return connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 ? fd : -1;
    }

    // True when the server closed the connection (read gives end of file).
    static bool closedByServer(int fd) {
        char buf[64];
        for (;;) {
            const ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n == 0)
                return true;
            if (n < 0)
                return false;
        }
    }

    bool serverStillServes() const {
        char list[16][16];
        CrateControl c;
        QIRA_Init(&c);
        const bool ok =
            QIRA_Open(&c) == 0 && QIRA_GetCrates(&c, list) == 0 && std::string(list[0]) == "QR000001";
        QIRA_Close(&c);
        return ok;
    }

    EmulatorProcess emulator_{"", {"--verbose"}};
};

TEST_F(Emulator, DefaultSetUpHasThreeCratesOneWithoutKm808) {
    char list[16][16];
    CrateControl c;
    QIRA_Init(&c);
    ASSERT_EQ(QIRA_Open(&c), 0);
    ASSERT_EQ(QIRA_GetCrates(&c, list), 0);
    QIRA_Close(&c);
    int crates = 0, withoutKm808 = 0;
    for (; crates < 16 && list[crates][0]; ++crates) {
        uint16_t types[16];
        std::memcpy(c.CrateSerial, list[crates], 16);
        ASSERT_EQ(QIRA_Open(&c), 0);
        ASSERT_EQ(QIRA_GetCrateModules(&c, types), 0);
        QIRA_Close(&c);
        withoutKm808 += std::count(types, types + 16, uint16_t(0x7272)) == 0;
        if (crates == 0) {
            EXPECT_EQ(types[2], 0x7272);
            EXPECT_EQ(types[8], 0x7272);
        }
    }
    EXPECT_GE(crates, 3);
    EXPECT_EQ(withoutKm808, 1);
}

TEST_F(Emulator, LogsOneLinePerRequest) {
    Module mod;
    ASSERT_EQ(mod.open("QR000001", 3), 0);
    ASSERT_EQ(mod.setAdc({{0x00, 0, 0}, {0x20, 1, 2}, {0x28, 1, 2}}, 1, 80), 0);
    ASSERT_EQ(KM808_Start(&mod.m), 0);
    ASSERT_EQ(KM808_Stop(&mod.m), 0);
    ASSERT_EQ(KM808_Close(&mod.m), 0);
    const std::string log = emulator_.logContaining(" Close QR000001 3 0\n");
    EXPECT_TRUE(std::regex_search(log, std::regex(R"((^|\n)\d+\.\d{3} Open QR000001 3 0\n)"))) << log;
    EXPECT_TRUE(std::regex_search(log, std::regex(R"(\n\d+\.\d{3} Start QR000001 3 0\n)"))) << log;
    EXPECT_TRUE(std::regex_search(log, std::regex(R"(\n\d+\.\d{3} SetADC QR000001 3 0 divider 80 cal 1 )"
                                                  R"(00/00/00 20/01/02 28/01/02\n)")))
        << log;
    EXPECT_TRUE(std::regex_search(log, std::regex(R"(\n\d+\.\d{3} Close QR000001 3 0\n)"))) << log;
}

struct BadRequest {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* reason;
};

std::vector<uint8_t> header(uint32_t magic, uint16_t version, uint16_t type, uint32_t length) {
    std::vector<uint8_t> h(12);
    for (int i = 0; i < 4; ++i) {
        h[i] = uint8_t(magic >> (8 * i));
        h[8 + i] = uint8_t(length >> (8 * i));
    }
    h[4] = uint8_t(version);
    h[5] = uint8_t(version >> 8);
    h[6] = uint8_t(type);
    h[7] = uint8_t(type >> 8);
    return h;
}

class MisbehavingClient : public Emulator, public ::testing::WithParamInterface<BadRequest> {};

TEST_P(MisbehavingClient, IsDisconnectedWithALoggedReason) {
    const int fd = connectRaw();
    ASSERT_GE(fd, 0);
    const auto& bytes = GetParam().bytes;
    ASSERT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
    EXPECT_TRUE(closedByServer(fd));
    close(fd);
    EXPECT_TRUE(serverStillServes());
    const std::string log = emulator_.logContaining(GetParam().reason);
    EXPECT_NE(log.find(GetParam().reason), std::string::npos) << log;
}

std::vector<uint8_t> concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

INSTANTIATE_TEST_SUITE_P(
    Requests, MisbehavingClient,
    ::testing::Values(
        BadRequest{"badMagic", header(0x12345678, 1, 3, 0), "bad magic"},
        BadRequest{"badVersion", header(qira::kWireMagic, 9, 3, 0), "version"},
        BadRequest{"unknownType", header(qira::kWireMagic, 1, 77, 0), "unknown request type"},
        BadRequest{"oversized", header(qira::kWireMagic, 1, 6, 1u << 30), "oversized"},
        BadRequest{"shortOpen", concat(header(qira::kWireMagic, 1, 1, 3), {1, 2, 3}), "bad length"},
        BadRequest{"tableCountLies",
                   concat(header(qira::kWireMagic, 1, 6, 12), {200, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0}),
                   "table too long"},
        BadRequest{"recvBeforeOpen", concat(header(qira::kWireMagic, 1, 9, 8), {1, 0, 0, 0, 10, 0, 0, 0}),
                   "out-of-order request Recv"},
        BadRequest{"startBeforeOpen", header(qira::kWireMagic, 1, 8, 0), "out-of-order request Start"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Emulator, SurvivesRandomBytes) {
    std::mt19937 random(12345);
    for (int round = 0; round < 200; ++round) {
        const int fd = connectRaw();
        ASSERT_GE(fd, 0);
        std::vector<uint8_t> bytes(1 + random() % 300);
        for (auto& b : bytes)
            b = uint8_t(random());
        // Half of the rounds start with a valid header so the payload decoders get exercised.
        if (round % 2) {
            const auto h = header(qira::kWireMagic, 1, uint16_t(1 + random() % 10), uint32_t(bytes.size()));
            bytes.insert(bytes.begin(), h.begin(), h.end());
        }
        send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        shutdown(fd, SHUT_WR);
        closedByServer(fd);
        close(fd);
    }
    EXPECT_TRUE(serverStillServes());
    Module mod;
    ASSERT_EQ(mod.open("QR000001", 9), 0);
    EXPECT_EQ(mod.setAdc(voltageTable({0}, 0), 0), 0);
}

TEST_F(Emulator, ProbeListsCratesAndMeasures) {
    std::string output;
    const std::string probe = EmulatorProcess::binary("qira-probe");
    ASSERT_EQ(EmulatorProcess::run({probe}, output), 0) << output;
    EXPECT_NE(output.find("crate QR000002"), std::string::npos) << output;
    EXPECT_NE(output.find("KM808 serial KM0000901 firmware 1.6"), std::string::npos) << output;
    ASSERT_EQ(EmulatorProcess::run(
                  {probe, "QR000001", "3", "--mode", "r", "--range", "2", "--rate", "4000", "--frames", "20"},
                  output),
              0)
        << output;
    EXPECT_NE(output.find("channel  8:"), std::string::npos) << output;
    EXPECT_EQ(output.find("channel  9:"), std::string::npos) << output;
}

class ProbeArguments : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(ProbeArguments, GetUsageAndFailure) {
    std::vector<std::string> args{EmulatorProcess::binary("qira-probe")};
    args.insert(args.end(), GetParam().begin(), GetParam().end());
    std::string output;
    EXPECT_EQ(EmulatorProcess::run(args, output), 2);
    EXPECT_NE(output.find("usage"), std::string::npos) << output;
}

INSTANTIATE_TEST_SUITE_P(Probe, ProbeArguments,
                         ::testing::Values(std::vector<std::string>{"QR000001"},
                                           std::vector<std::string>{"QR000001", "17"},
                                           std::vector<std::string>{"QR000001", "x"},
                                           std::vector<std::string>{"QR000001", "3", "--rate", "7"},
                                           std::vector<std::string>{"QR000001", "3", "--mode", "q"},
                                           std::vector<std::string>{"QR000001", "3", "--range"},
                                           std::vector<std::string>{"--bogus"}));

} // namespace
