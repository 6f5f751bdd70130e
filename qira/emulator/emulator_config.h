// The emulator's set-up: pace, seed, and the crates with what sits in their
// slots. Read from a JSON file or taken from the built-in default.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace qira {

// A change of a channel's input at a time of the module's clock (seconds since
// it was opened): the level steps or ramps to a value, one block reads a spike,
// or the noise changes.
struct ChannelChange {
    enum class Kind { Step, Ramp, Spike, Noise };
    Kind kind = Kind::Step;
    double atS = 0;
    double value = 0; // volts; for Noise the standard deviation
    double overS = 0; // Ramp only
    double fromV = 0; // Ramp only: the level when it begins
};

struct ChannelConfig {
    double volts = 0;
    double noiseV = 0;
    double sineV = 0;
    double sineHz = 0;
    bool hasOhms = false; // without ohms the input is open
    double ohms = 0;
    std::vector<ChannelChange> changes; // in time order
};

// Faults of the replies themselves, whatever the call answers.
struct ReplyFaults {
    int64_t trickleBytesPerS = 0;           // 0: at full speed
    std::set<std::string> trickleCalls;     // by call name; empty: every call
    std::map<std::string, int64_t> stallMs; // by call name (messageName)
};

struct ModuleFaults {
    bool open = false;
    bool getconfig = false;
    bool setadc = false;
    bool calibrate = false;
    bool start = false;
    bool stop = false;
    // Positions in the words streamed since open; -1 = never.
    int64_t stallAfterWords = -1;
    int64_t stallMs = 0;
    int64_t dropAfterWords = -1;
    int64_t corruptAfterWords = -1;
    bool flatCalibration = false;      // Calibrate: reference code = zero code
    bool zeroCalibrationWords = false; // calibration words of the stream carry 0
    ReplyFaults replies;
};

struct SlotConfig {
    int slot = 0;
    uint16_t type = 0;
    std::string name;
    std::string serial;
    uint16_t firmware = 0;
    float coefs[9] = {};
    double gainError = 0;
    double offsetErrorV = 0;
    double driftPerS = 0;
    ChannelConfig channels[16];
    ModuleFaults faults;
};

struct CrateConfig {
    std::string serial;
    bool failModules = false;
    ReplyFaults replies;
    std::vector<SlotConfig> slots;
};

struct EmulatorConfig {
    bool fast = false;
    uint64_t seed = 1;
    // A connection without a module that sends nothing this long is closed.
    int64_t idleTimeoutMs = 10000;
    int maxClients = 256;
    ReplyFaults replies;
    std::vector<CrateConfig> crates;
};

class ConfigError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Both throw ConfigError with "NAME:LINE: what is wrong".
EmulatorConfig loadConfigFile(const std::string& path);
EmulatorConfig parseConfig(const std::string& text, const std::string& name);
EmulatorConfig defaultConfig();
const char* defaultConfigText();

} // namespace qira
