// One emulated KM808: a 24-bit converter with gain and offset error, noise
// and drift, its channel table, calibration, and a stream of tagged words
// that arrives in real time (or as fast as it is read).
#pragma once

#include "emulator_config.h"
#include "wire_format.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

namespace qira {

class EmulatedModule {
public:
    using Clock = std::chrono::steady_clock;

    EmulatedModule(const SlotConfig& config, uint64_t seed, bool fast);

    const SlotConfig& config() const { return config_; }

    // The calls of one owning client. Each returns a server status.
    int32_t open();
    void release(); // the client went away: stop and forget the settings
    int32_t identity(ModuleIdentity& id) const;
    int32_t setAdc(const AdcSettings& settings, int32_t& frameLength);
    int32_t calibrate(CalibrationCodes& codes);
    int32_t start();
    int32_t stop();

    // Sleeps until the given time; false when the client went away meanwhile.
    using Waiter = std::function<bool(Clock::time_point)>;

    // Waits until count words are available or the time-out passes, and
    // returns the status and how many words to send (at most count).
    int32_t prepareRecv(uint32_t count, uint32_t timeoutMs, uint32_t& words, const Waiter& wait);
    // The next n words of the stream, as prepareRecv allowed.
    void produce(uint32_t* out, uint32_t n);

    // The code the converter reads for v volts on a scale at module time t.
    int32_t convert(double volts, int scale, double t) const;

private:
    struct EntryModel {
        int scale = 0;
        double base = 0; // volts at the converter input before noise
        double noiseV = 0;
        double sineV = 0;
        double sineW = 0; // angular frequency
        int channel = 0;
        bool voltage = false;
        bool scheduled = false; // the channel has changes over time
        bool spiking = false;   // this block reads the spike
        double spikeV = 0;
    };

    double moduleSeconds(Clock::time_point now) const;
    uint64_t availableAt(Clock::time_point now) const;
    Clock::time_point whenAvailable(uint64_t position) const;
    int64_t blockPositionOf(int64_t streamed) const;
    uint32_t word(uint64_t position) const;
    double gauss(uint64_t index) const;

    SlotConfig config_;
    uint64_t salt_;
    bool fast_;

    bool configured_ = false;
    bool running_ = false;
    bool linkLost_ = false;
    bool dropped_ = false; // the drop fault happens once per opening
    std::vector<TableEntry> table_;
    std::vector<EntryModel> entries_;
    std::vector<int> calibrationScales_;
    uint32_t frameLength_ = 0;
    double rate_ = 0;

    Clock::time_point openedAt_;
    double simulatedSeconds_ = 0; // the fast pace's clock
    int64_t streamed_ = 0;        // words streamed since open

    // The current block, since Start.
    Clock::time_point startedAt_;
    double blockStartSeconds_ = 0;
    double previousBlockStart_ = 0; // module time of the Start before, for spikes
    int64_t streamedAtStart_ = 0;
    uint64_t position_ = 0;
    mutable Clock::time_point stallEnds_{}; // fast pace: set when the stall begins
    mutable bool stallBegun_ = false;
};

} // namespace qira
