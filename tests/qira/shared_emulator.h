// A test suite whose tests share one emulator process: starting one costs more
// than most of the tests it serves.
#pragma once

#include "emulator_process.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Suite names its set-up with `static std::string Config()` and may add
// `static std::vector<std::string> Arguments()`.
template <class Suite> class SharedEmulatorTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { emulator_ = new EmulatorProcess(Suite::Config(), Suite::Arguments()); }
    static void TearDownTestSuite() {
        delete emulator_;
        emulator_ = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(emulator_->started()) << emulator_->error();
        emulator_->select();
    }
    static std::vector<std::string> Arguments() { return {}; }
    static inline EmulatorProcess* emulator_ = nullptr;
};
