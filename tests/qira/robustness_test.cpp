// A crate server that trickles, stalls or lies, a flood of idle clients and a
// log nobody reads: every library call ends within its time-out, lying
// calibrations are refused, and the emulator keeps serving.
#include "EmulatorSpawn.h"
#include "module_helpers.h"
#include "qiraapi.h"
#include "shared_emulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

int64_t msSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

class Robust : public SharedEmulatorTest<Robust> {
public:
    static std::string Config() { return "robust.json"; }
};

const auto kOneChannel = voltageTable({0}, 0);

struct SlowCase {
    const char* name;
    std::function<void(Module&)> prepare;
    std::function<int32_t(Module&)> call;
    int32_t expected;
    int64_t boundMs; // the call's time-out and a generous margin
};
void PrintTo(const SlowCase& c, std::ostream* os) {
    *os << c.name;
}

class SlowServer : public Robust, public ::testing::WithParamInterface<SlowCase> {};

TEST_P(SlowServer, CallEndsWithinItsTimeOut) {
    const SlowCase& c = GetParam();
    Module mod;
    if (c.prepare)
        c.prepare(mod);
    const auto t = Clock::now();
    EXPECT_EQ(c.call(mod), c.expected);
    EXPECT_LT(msSince(t), c.boundMs);
}

void openStarted(Module& mod, uint16_t slot) {
    ASSERT_EQ(mod.open("QT000001", slot), 0);
    ASSERT_EQ(mod.setAdc(kOneChannel, 0), 0);
    ASSERT_EQ(KM808_Start(&mod.m), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Robust, SlowServer,
    ::testing::Values(SlowCase{"TrickledCrateOpen", nullptr,
                               [](Module&) {
                                   CrateControl c{};
                                   QIRA_Init(&c);
                                   std::strcpy(c.CrateSerial, "QT000002");
                                   const int32_t r = QIRA_Open(&c);
                                   QIRA_Close(&c);
                                   return r;
                               },
                               -8, 7000},
                      SlowCase{"TrickledModuleOpen", nullptr,
                               [](Module& mod) { return mod.open("QT000001", 1); }, KM808_ERR_TIMEOUT, 7000},
                      SlowCase{"UnansweredModuleOpen", nullptr,
                               [](Module& mod) { return mod.open("QT000001", 5); }, KM808_ERR_TIMEOUT, 7000},
                      SlowCase{"TrickledRecv", [](Module& mod) { openStarted(mod, 2); },
                               [](Module& mod) {
                                   std::vector<uint32_t> words(1000);
                                   return KM808_Recv(&mod.m, words.data(), nullptr, 1000, 1000);
                               },
                               KM808_ERR_TIMEOUT, 4000},
                      SlowCase{"TrickledStop", [](Module& mod) { openStarted(mod, 3); },
                               [](Module& mod) { return KM808_Stop(&mod.m); }, KM808_ERR_TIMEOUT, 7000},
                      SlowCase{"TrickledClose", [](Module& mod) { ASSERT_EQ(mod.open("QT000001", 4), 0); },
                               [](Module& mod) {
                                   const int32_t r = KM808_Close(&mod.m);
                                   return r != 0 ? r : KM808_IsOpened(&mod.m) == 0 ? -1000 : 0;
                               },
                               0, 7000}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Robust, CalibrationWithoutSpanIsRefused) {
    Module mod;
    ASSERT_EQ(mod.open("QT000001", 6), 0);
    ASSERT_EQ(mod.setAdc(kOneChannel, 0), 0);
    EXPECT_EQ(KM808_Calibrate(&mod.m), KM808_ERR_CALIBRATION);
}

TEST_F(Robust, ZeroedCalibrationWordsAreNotApplied) {
    Module mod;
    ASSERT_EQ(mod.open("QT000001", 7), 0);
    ASSERT_EQ(KM808_GetConfig(&mod.m), 0);
    // The module's zero is 50 mV off: a zero word of code 0 keeps a
    // plausible span yet would shift every reading by the offset.
    const std::vector<Entry> table = {{KM808_MODE_VOLTAGE, 0, 0}, {KM808_MODE_VOLTAGE, 1, 2}};
    const double expected[] = {1.25, 0.125};
    ASSERT_EQ(mod.setAdc(table, 1), 0);
    ASSERT_EQ(KM808_Calibrate(&mod.m), 0);
    for (int block = 0; block < 2; ++block) {
        const auto values = mod.convert(mod.acquire(40), 2);
        ASSERT_EQ(values.size(), 80u);
        for (size_t i = 0; i < values.size(); ++i)
            ASSERT_NEAR(values[i], expected[i % 2], 1e-4) << "block " << block << " value " << i;
    }
}

TEST_F(Robust, CyrillicTextsTravelInWindows1251) {
    CrateControl crate{};
    ASSERT_EQ(QIRA_Init(&crate), 0);
    ASSERT_EQ(QIRA_Open(&crate), 0);
    char list[16][16];
    ASSERT_EQ(QIRA_GetCrates(&crate, list), 0);
    QIRA_Close(&crate);
    EXPECT_STREQ(list[2], "\xCA\xD0 01"); // "КР 01"

    Module mod;
    ASSERT_EQ(mod.open(list[2], 2), 0);
    ASSERT_EQ(KM808_GetConfig(&mod.m), 0);
    EXPECT_STREQ(mod.m.ModuleName, "\xC0\xD6\xCF"); // "АЦП"
    EXPECT_STREQ(mod.m.SerialNumber, "\xCC\xCE\xC4\xD3\xCB\xDC-\xA8"
                                     "1"); // "МОДУЛЬ-Ё1"
}

TEST_F(Robust, NoDescriptorLeftIsToldApartFromAServerThatIsNotThere) {
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &before), 0);
    rlimit low = before;
    low.rlim_cur = std::min<rlim_t>(before.rlim_cur, 256);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> used;
    for (int fd; (fd = open("/dev/null", O_RDONLY)) >= 0;)
        used.push_back(fd);
    CrateControl crate{};
    QIRA_Init(&crate);
    const int32_t crateResult = QIRA_Open(&crate);
    Module mod;
    const int32_t moduleResult = mod.open("QT000001", 8);
    for (int fd : used)
        close(fd);
    setrlimit(RLIMIT_NOFILE, &before);

    EXPECT_EQ(crateResult, KM808_ERR_NO_DESCRIPTOR);
    EXPECT_EQ(moduleResult, KM808_ERR_NO_DESCRIPTOR);
    EXPECT_EQ(mod.open("QT000001", 8), 0);
}

TEST_F(Robust, ClosingACopiedRecordLeavesTheOriginalsConnection) {
    CrateControl original{};
    ASSERT_EQ(QIRA_Init(&original), 0);
    ASSERT_EQ(QIRA_Open(&original), 0);
    CrateControl copy = original;
    EXPECT_NE(QIRA_Close(&copy), 0);
    char list[16][16];
    EXPECT_EQ(QIRA_GetCrates(&original, list), 0);
    EXPECT_STREQ(list[0], "QT000001");

    // Once the original is closed its descriptor number is reused; the
    // stale copy must not close it under its new owner.
    CrateControl stale = original;
    EXPECT_EQ(QIRA_Close(&original), 0);
    Module mod;
    ASSERT_EQ(mod.open("QT000001", 8), 0);
    EXPECT_NE(QIRA_Close(&stale), 0);
    EXPECT_EQ(KM808_GetConfig(&mod.m), 0);

    KM808_CONTROL moduleCopy = mod.m;
    EXPECT_NE(KM808_IsOpened(&moduleCopy), 0);
    EXPECT_NE(KM808_Close(&moduleCopy), 0);
    EXPECT_EQ(KM808_GetConfig(&mod.m), 0);
}

int connectRaw(unsigned port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(uint16_t(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// True when the server closed the connection within the time given.
bool closedByServer(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    char c;
    return poll(&p, 1, ms) == 1 && recv(fd, &c, 1, 0) == 0;
}

TEST(EmulatorLimits, IdleClientsAreClosedAndOneTooManyIsRefused) {
    EmulatorProcess emulator("limits.json");
    ASSERT_TRUE(emulator.started()) << emulator.error();

    // A module's connection is never idle: the program keeps it open.
    Module mod;
    ASSERT_EQ(mod.open("QL000001", 1), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(900));
    EXPECT_EQ(KM808_GetConfig(&mod.m), 0);

    const int idle = connectRaw(emulator.port());
    ASSERT_GE(idle, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    CrateControl c{};
    ASSERT_EQ(QIRA_Init(&c), 0);
    auto t = Clock::now();
    EXPECT_EQ(QIRA_Open(&c), -109); // status 9: server full
    EXPECT_LT(msSince(t), 2000);

    EXPECT_TRUE(closedByServer(idle, 3000));
    close(idle);
    EXPECT_EQ(QIRA_Open(&c), 0);
    EXPECT_EQ(QIRA_Close(&c), 0);
    // The emulator logs a dropped client after closing it.
    const std::string log = emulator.logContaining("dropped: idle for 500 ms");
    EXPECT_NE(log.find("refused: server full (2 connections)"), std::string::npos) << log;
    EXPECT_NE(log.find("dropped: idle for 500 ms"), std::string::npos) << log;
}

TEST(EmulatorLimits, AnUnreadLogDoesNotStopTheServing) {
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    SpawnedEmulator spawned = SpawnEmulator({EmulatorProcess::binary("qira-emulator"), "--verbose",
                                             "--config", EmulatorProcess::fixture("robust.json")},
                                            pipeFds[1]);
    close(pipeFds[1]);
    ASSERT_NE(spawned.Port, 0u) << spawned.Printed;
    setenv("QIRA_SERVER", ("127.0.0.1:" + std::to_string(spawned.Port)).c_str(), 1);
    // Each round logs three lines; a pipe holds 64 KiB.
    int done = 0;
    const auto t = Clock::now();
    for (; done < 3000; ++done) {
        CrateControl c{};
        char list[16][16];
        if (QIRA_Init(&c) != 0 || QIRA_Open(&c) != 0 || QIRA_GetCrates(&c, list) != 0 || QIRA_Close(&c) != 0)
            break;
    }
    EXPECT_EQ(done, 3000) << "after " << msSince(t) << " ms";
    EndProcess(spawned.Pid, SIGKILL);
    close(pipeFds[0]);
}

} // namespace
