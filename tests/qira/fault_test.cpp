// Every configured module fault gives its failure status, and the calls after
// it still work (fixtures/faults.json, fast pace; the word counts of the
// stream faults count from the module's opening).
#include "module_helpers.h"
#include "shared_emulator.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

class Faults : public SharedEmulatorTest<Faults> {
public:
    static std::string Config() { return "faults.json"; }
    static std::vector<std::string> Arguments() { return {"--verbose"}; }
};

const auto kOneChannel = voltageTable({0}, 0);

struct FaultCase {
    const char* name;
    uint16_t slot;
    std::function<void(Module&)> check;
};

class ModuleFault : public Faults, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(ModuleFault, FailsItsCallOnly) {
    Module mod;
    if (GetParam().slot != 1) {
        ASSERT_EQ(mod.open("QF000001", GetParam().slot), 0);
    }
    GetParam().check(mod);
}

void fullCycleWorks(Module& mod) {
    ASSERT_EQ(mod.setAdc(kOneChannel, 0), 0);
    ASSERT_EQ(KM808_Calibrate(&mod.m), 0);
    EXPECT_EQ(mod.convert(mod.acquire(10), 1).size(), 10u);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ModuleFault,
    ::testing::Values(FaultCase{"open", 1,
                                [](Module& mod) {
                                    EXPECT_NE(mod.open("QF000001", 1), 0);
                                    EXPECT_NE(KM808_IsOpened(&mod.m), 0);
                                    ASSERT_EQ(mod.open("QF000001", 2), 0);
                                    EXPECT_EQ(mod.setAdc(kOneChannel, 0), 0);
                                }},
                      FaultCase{"getconfig", 2,
                                [](Module& mod) {
                                    EXPECT_NE(KM808_GetConfig(&mod.m), 0);
                                    fullCycleWorks(mod);
                                }},
                      FaultCase{"setadc", 3,
                                [](Module& mod) {
                                    EXPECT_EQ(KM808_GetConfig(&mod.m), 0);
                                    EXPECT_NE(mod.setAdc(kOneChannel, 0), 0);
                                    EXPECT_NE(KM808_Start(&mod.m), 0); // nothing applied
                                    EXPECT_EQ(KM808_Calibrate(&mod.m), 0);
                                }},
                      FaultCase{"calibrate", 4,
                                [](Module& mod) {
                                    ASSERT_EQ(mod.setAdc(kOneChannel, 0), 0);
                                    EXPECT_NE(KM808_Calibrate(&mod.m), 0);
                                    EXPECT_EQ(mod.convert(mod.acquire(10), 1).size(), 10u);
                                }},
                      FaultCase{"start", 5,
                                [](Module& mod) {
                                    ASSERT_EQ(mod.setAdc(kOneChannel, 0), 0);
                                    EXPECT_NE(KM808_Start(&mod.m), 0);
                                    EXPECT_EQ(mod.m.AcquisitionRunning, 0);
                                    EXPECT_EQ(KM808_Calibrate(&mod.m), 0);
                                    EXPECT_EQ(KM808_GetConfig(&mod.m), 0);
                                }},
                      FaultCase{"stop", 6,
                                [](Module& mod) {
                                    ASSERT_EQ(mod.setAdc(kOneChannel, 0), 0);
                                    ASSERT_EQ(KM808_Start(&mod.m), 0);
                                    uint32_t w[4];
                                    EXPECT_EQ(KM808_Recv(&mod.m, w, nullptr, 4, 1000), 4);
                                    EXPECT_NE(KM808_Stop(&mod.m), 0);
                                    EXPECT_NE(mod.m.AcquisitionRunning, 0);
                                    EXPECT_EQ(KM808_Recv(&mod.m, w, nullptr, 4, 1000), 4);
                                    EXPECT_EQ(KM808_Close(&mod.m), 0);
                                    ASSERT_EQ(mod.open("QF000001", 6), 0); // the close freed it
                                }},
                      FaultCase{"stall", 7,
                                [](Module& mod) {
                                    ASSERT_EQ(mod.setAdc(kOneChannel, 0), 0);
                                    ASSERT_EQ(KM808_Start(&mod.m), 0);
                                    std::vector<uint32_t> w(300);
                                    // The stream stops after 100 words for 1.5 s.
                                    EXPECT_EQ(KM808_Recv(&mod.m, w.data(), nullptr, 300, 300), 100);
                                    EXPECT_EQ(KM808_Recv(&mod.m, w.data() + 100, nullptr, 200, 5000), 200);
                                    ASSERT_EQ(KM808_Stop(&mod.m), 0);
                                    EXPECT_EQ(mod.convert(w, 1).size(), 300u);
                                }},
                      FaultCase{"drop", 8,
                                [](Module& mod) {
                                    ASSERT_EQ(mod.setAdc(kOneChannel, 0), 0);
                                    ASSERT_EQ(KM808_Start(&mod.m), 0);
                                    std::vector<uint32_t> w(300);
                                    EXPECT_EQ(KM808_Recv(&mod.m, w.data(), nullptr, 60, 1000), 60);
                                    EXPECT_LT(KM808_Recv(&mod.m, w.data(), nullptr, 60, 1000), 0);
                                    EXPECT_LT(KM808_Recv(&mod.m, w.data(), nullptr, 60, 1000), 0);
                                    EXPECT_EQ(KM808_Stop(&mod.m), 0);
                                    EXPECT_EQ(mod.convert(mod.acquire(300), 1).size(), 300u);
                                }},
                      FaultCase{"corrupt", 9,
                                [](Module& mod) {
                                    ASSERT_EQ(mod.setAdc(voltageTable({0, 1, 2}, 0), 1), 0);
                                    ASSERT_EQ(KM808_Calibrate(&mod.m), 0);
                                    const auto block = mod.acquire(50); // words 0 to 199
                                    ASSERT_EQ(block.size(), 200u);
                                    EXPECT_TRUE(mod.convert(block, 2).empty());
                                    EXPECT_EQ(mod.convert(mod.acquire(50), 2).size(), 150u);
                                }}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
