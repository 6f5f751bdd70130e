#include "emulated_module.h"

#include "channel_schedule.h"
#include "channel_table.h"
#include "data_word.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace qira {
namespace {

uint64_t splitmix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// An open input drives the converter far beyond any full scale.
constexpr double kOpenInputVolts = 1e3;

} // namespace

EmulatedModule::EmulatedModule(const SlotConfig& config, uint64_t seed, bool fast)
    : config_(config),
      salt_(splitmix(seed ^ splitmix(uint64_t(config.slot) << 32 ^ std::hash<std::string>{}(config.serial)))),
      fast_(fast) {}

int32_t EmulatedModule::open() {
    if (config_.faults.open)
        return StatusFault;
    configured_ = running_ = linkLost_ = dropped_ = false;
    openedAt_ = Clock::now();
    simulatedSeconds_ = 0;
    streamed_ = 0;
    blockStartSeconds_ = -std::numeric_limits<double>::infinity();
    return StatusOk;
}

void EmulatedModule::release() {
    running_ = false;
    configured_ = false;
}

int32_t EmulatedModule::identity(ModuleIdentity& id) const {
    if (config_.faults.getconfig)
        return StatusFault;
    id = ModuleIdentity{};
    std::strncpy(id.name, config_.name.c_str(), sizeof id.name - 1);
    std::strncpy(id.serial, config_.serial.c_str(), sizeof id.serial - 1);
    id.firmware = config_.firmware;
    std::memcpy(id.coefs, config_.coefs, sizeof id.coefs);
    return StatusOk;
}

int32_t EmulatedModule::setAdc(const AdcSettings& settings, int32_t& frameLength) {
    if (running_)
        return StatusWrongState;
    if (config_.faults.setadc)
        return StatusFault;
    frameLength = validateSettings(settings);
    if (frameLength == 0)
        return StatusBadSettings;
    table_ = settings.table;
    frameLength_ = uint32_t(frameLength);
    rate_ = conversionRate(settings.divider);
    calibrationScales_ = settings.calibrationSlots ? scalesUsed(table_) : std::vector<int>{};
    entries_.clear();
    for (const TableEntry& e : table_) {
        const ChannelConfig& c = config_.channels[e.channel];
        EntryModel m;
        m.scale = scaleOf(e);
        m.noiseV = c.noiseV;
        m.channel = e.channel;
        m.scheduled = !c.changes.empty();
        m.voltage = e.mode == kModeVoltage;
        if (e.mode == kModeVoltage) {
            m.base = c.volts;
            m.sineV = c.sineV;
            m.sineW = 2 * M_PI * c.sineHz;
        } else if (e.mode == kModeResistanceOn) {
            m.base = c.hasOhms ? c.ohms * excitationAmps(config_.coefs, e.range) : kOpenInputVolts;
        }
        entries_.push_back(m);
    }
    configured_ = true;
    return StatusOk;
}

int32_t EmulatedModule::convert(double volts, int scale, double t) const {
    const double offset = config_.offsetErrorV + config_.driftPerS * t;
    const double x =
        ((1.0 + config_.gainError) * volts + offset) / kFullScaleVolts[scale] * kCodesPerFullScale;
    if (!(x < kCodeMax))
        return kCodeMax;
    if (x < kCodeMin)
        return kCodeMin;
    return int32_t(std::lround(x));
}

double EmulatedModule::moduleSeconds(Clock::time_point now) const {
    if (fast_)
        return simulatedSeconds_;
    return std::chrono::duration<double>(now - openedAt_).count();
}

int32_t EmulatedModule::calibrate(CalibrationCodes& codes) {
    if (running_)
        return StatusWrongState;
    if (config_.faults.calibrate)
        return StatusFault;
    // The module converts its own zero and reference on every scale.
    const double t = moduleSeconds(Clock::now());
    for (int s = 0; s < kScaleCount; ++s) {
        codes.zero[s] = convert(0.0, s, t);
        codes.reference[s] =
            config_.faults.flatCalibration ? codes.zero[s] : convert(referenceVolts(config_.coefs, s), s, t);
    }
    return StatusOk;
}

int32_t EmulatedModule::start() {
    if (!configured_)
        return StatusWrongState;
    if (config_.faults.start)
        return StatusFault;
    const auto now = Clock::now();
    running_ = true;
    linkLost_ = false;
    startedAt_ = now;
    previousBlockStart_ = blockStartSeconds_;
    blockStartSeconds_ = moduleSeconds(now);
    for (EntryModel& e : entries_) {
        const ChannelChange* spike =
            e.scheduled && e.voltage
                ? spikeOf(config_.channels[e.channel], previousBlockStart_, blockStartSeconds_)
                : nullptr;
        e.spiking = spike != nullptr;
        e.spikeV = spike ? spike->value : 0;
    }
    streamedAtStart_ = streamed_;
    position_ = 0;
    stallBegun_ = false;
    return StatusOk;
}

int32_t EmulatedModule::stop() {
    if (config_.faults.stop)
        return StatusFault;
    running_ = false; // unread words are gone
    return StatusOk;
}

int64_t EmulatedModule::blockPositionOf(int64_t streamed) const {
    return streamed < 0 ? -1 : streamed - streamedAtStart_;
}

uint64_t EmulatedModule::availableAt(Clock::time_point now) const {
    const int64_t stall = config_.faults.stallMs > 0 ? blockPositionOf(config_.faults.stallAfterWords) : -1;
    if (fast_) {
        if (stall < 0 || uint64_t(stall) < position_ || (stallBegun_ && now >= stallEnds_))
            return UINT64_MAX;
        return uint64_t(stall);
    }
    const double elapsed = std::chrono::duration<double>(now - startedAt_).count();
    const uint64_t plain = uint64_t(std::max(0.0, elapsed * rate_));
    if (stall < 0 || plain <= uint64_t(stall))
        return plain;
    // Everything behind the stall arrives that much later.
    const double late = elapsed - double(config_.faults.stallMs) / 1000.0;
    return std::max(uint64_t(stall), uint64_t(std::max(0.0, late * rate_)));
}

EmulatedModule::Clock::time_point EmulatedModule::whenAvailable(uint64_t target) const {
    const int64_t stall = config_.faults.stallMs > 0 ? blockPositionOf(config_.faults.stallAfterWords) : -1;
    const bool behindStall = stall >= 0 && target > uint64_t(stall);
    if (fast_) {
        if (!behindStall || uint64_t(stall) < position_)
            return Clock::now();
        return stallBegun_ ? stallEnds_ : Clock::time_point::max();
    }
    auto t = startedAt_ +
             std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(target / rate_));
    if (behindStall)
        t += std::chrono::milliseconds(config_.faults.stallMs);
    return t + std::chrono::microseconds(50);
}

int32_t EmulatedModule::prepareRecv(uint32_t count, uint32_t timeoutMs, uint32_t& words, const Waiter& wait) {
    words = 0;
    if (!running_)
        return StatusWrongState;
    if (linkLost_)
        return StatusLinkLost;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const uint64_t target = position_ + count;
    const int64_t drop = blockPositionOf(config_.faults.dropAfterWords);
    const bool dropping = !dropped_ && drop >= int64_t(position_) && uint64_t(drop) < target;
    const uint64_t wanted = dropping ? uint64_t(drop) : target;
    if (fast_) {
        const int64_t stall = blockPositionOf(config_.faults.stallAfterWords);
        if (!stallBegun_ && stall >= int64_t(position_) && uint64_t(stall) < wanted &&
            config_.faults.stallMs > 0) {
            stallBegun_ = true;
            stallEnds_ = Clock::now() + std::chrono::milliseconds(config_.faults.stallMs);
        }
    }
    for (;;) {
        const auto now = Clock::now();
        if (availableAt(now) >= wanted || now >= deadline)
            break;
        if (!wait(std::min(whenAvailable(wanted), deadline)))
            return StatusLinkLost; // nobody to send to
    }
    if (dropping) {
        // The data link breaks at the drop position; what was on its way is lost.
        streamed_ = streamedAtStart_ + drop;
        if (fast_)
            simulatedSeconds_ = blockStartSeconds_ + double(drop) / rate_;
        position_ = uint64_t(drop);
        linkLost_ = true;
        dropped_ = true;
        return StatusLinkLost;
    }
    words = uint32_t(std::min<uint64_t>(availableAt(Clock::now()), target) - std::min(position_, target));
    return StatusOk;
}

double EmulatedModule::gauss(uint64_t index) const {
    const uint64_t a = splitmix(salt_ ^ index);
    const uint64_t b = splitmix(a);
    const double u1 = (double(a >> 11) + 1.0) / 9007199254740993.0;
    const double u2 = double(b >> 11) / 9007199254740992.0;
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2 * M_PI * u2);
}

uint32_t EmulatedModule::word(uint64_t p) const {
    const uint64_t frame = p / frameLength_;
    const uint32_t k = uint32_t(p % frameLength_);
    const double t = blockStartSeconds_ + double(p) / rate_;
    const uint64_t streamIndex = uint64_t(streamedAtStart_) + p;
    uint32_t w;
    if (k < entries_.size()) {
        const EntryModel& e = entries_[k];
        double v = e.base;
        double noise = e.noiseV;
        if (e.scheduled) {
            const ChannelConfig& c = config_.channels[e.channel];
            if (e.voltage)
                v = e.spiking ? e.spikeV : levelAt(c, t);
            noise = noiseAt(c, t);
        }
        if (e.sineV != 0)
            v += e.sineV * std::sin(e.sineW * t);
        if (noise != 0)
            v += noise * gauss(streamIndex);
        w = makeWord(k, convert(v, e.scale, t));
    } else {
        // The calibration slot walks through zero and reference of each
        // scale the table uses.
        const uint64_t step = frame % (2 * calibrationScales_.size());
        const int scale = calibrationScales_[step / 2];
        const bool reference = step % 2 == 1;
        const int32_t code = config_.faults.zeroCalibrationWords
                                 ? 0
                                 : convert(reference ? referenceVolts(config_.coefs, scale) : 0.0, scale, t);
        w = makeWord(calibrationTag(scale, reference), code);
    }
    if (int64_t(streamIndex) == config_.faults.corruptAfterWords)
        w = ~w;
    return w;
}

void EmulatedModule::produce(uint32_t* out, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i)
        out[i] = word(position_ + i);
    position_ += n;
    streamed_ += n;
    if (fast_)
        simulatedSeconds_ = blockStartSeconds_ + double(position_) / rate_;
}

} // namespace qira
