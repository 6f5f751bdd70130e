// KM808_ProcessData: checks that every word of a block sits where the frame
// layout puts it, then converts codes to volts and ohms with the module's
// calibration codes.
#include "channel_table.h"
#include "data_word.h"
#include "km808api.h"
#include "module_state.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace qira;

namespace {

enum : int32_t {
    ErrArgument = -2,
    ErrNotConfigured = -6,
    ErrStructure = -7,
};

struct ScaleCodes {
    int32_t zero[kScaleCount];
    int32_t reference[kScaleCount];
};

// Converts frames with per-output gain and zero, so the inner loops stay
// simple; continuous correction updates only the outputs of the scale whose
// calibration word changed.
class Converter {
public:
    // continuous: start from the codes that earlier blocks tracked rather
    // than from those of the last Calibrate.
    Converter(const KM808_CONTROL* m, const ModuleState& st, bool corrected, bool continuous) {
        const float* coefs = (st.flags & FlagHaveCoefs) ? st.coefs : kDefaultCoefs;
        for (int s = 0; s < kScaleCount; ++s) {
            reference_[s] = referenceVolts(coefs, s);
            perVolt_[s] = s < 3 ? 1.0 : 1.0 / excitationAmps(coefs, s - 3);
            if (corrected && (st.flags & FlagCalibrated)) {
                codes_.zero[s] = continuous ? st.trackZero[s] : st.calZero[s];
                codes_.reference[s] = continuous ? st.trackReference[s] : st.calReference[s];
            } else {
                // Nominal codes: what a converter without error would read.
                codes_.zero[s] = 0;
                codes_.reference[s] =
                    int32_t(std::lround(reference_[s] / kFullScaleVolts[s] * kCodesPerFullScale));
            }
        }
        tableLength_ = uint32_t(m->LogicalChannelCount);
        for (uint32_t i = 0; i < tableLength_; ++i) {
            const KM808_TABLE_ENTRY& e = m->LogicalChannelTable[i];
            const int scale = e.ModeCode == KM808_MODE_VOLTAGE ? e.RangeCode : 3 + e.RangeCode;
            scalesUsed_ |= 1u << scale;
            byScale_[scale].push_back(uint32_t(first_.size()));
            first_.push_back(i);
            if (e.ModeCode == KM808_MODE_RESISTANCE_A) {
                // The off reading of the pair carries the zero itself.
                pairs_ = true;
                second_.push_back(i + 1);
                ++i;
            } else {
                second_.push_back(kNone);
            }
        }
        zero_.resize(first_.size());
        gain_.resize(first_.size());
        for (int s = 0; s < kScaleCount; ++s)
            refreshScale(s);
    }

    size_t outputCount() const { return first_.size(); }

    // Takes one calibration word into account; false if it cannot belong to
    // this table.
    bool track(uint32_t word) {
        const uint32_t tag = wordTag(word);
        if (tag < kCalibrationTag || tag > kLastCalibrationTag)
            return false;
        const int scale = int(tag - kCalibrationTag) / 2;
        if (!(scalesUsed_ & (1u << scale)))
            return false;
        int32_t& slot = (tag & 1) ? codes_.reference[scale] : codes_.zero[scale];
        const int32_t code = wordCode(word);
        // A word that jumps away from the last good one, or would leave the
        // scale without a plausible span, is not applied: the last good codes
        // go on serving. Drift moves a code by a few codes between words; a
        // zeroed or garbled word moves it by thousands, and a zero code
        // shifted by even 0.01 % of full scale is a false reading.
        const int32_t zero = (tag & 1) ? codes_.zero[scale] : code;
        const int32_t reference = (tag & 1) ? code : codes_.reference[scale];
        if (slot != code && std::abs(int64_t(code) - int64_t(slot)) <= kMaxCalibrationStep &&
            spanPlausible(reference_[scale], scale, zero, reference)) {
            slot = code;
            refreshScale(scale);
        }
        return true;
    }

    // Converts one frame; false when a word is out of place.
    bool frame(const uint32_t* w, double* out) const {
        uint32_t misplaced = 0;
        const double* zero = zero_.data();
        const double* gain = gain_.data();
        if (!pairs_) {
            for (uint32_t i = 0; i < tableLength_; ++i) {
                const uint32_t x = w[i];
                misplaced |= wordTag(x) ^ i;
                out[i] = (double(wordCode(x)) - zero[i]) * gain[i];
            }
            return misplaced == 0;
        }
        for (uint32_t i = 0; i < tableLength_; ++i)
            misplaced |= wordTag(w[i]) ^ i;
        const size_t n = first_.size();
        for (size_t j = 0; j < n; ++j) {
            const int32_t a = wordCode(w[first_[j]]);
            out[j] = second_[j] == kNone ? (double(a) - zero[j]) * gain[j]
                                         : double(a - wordCode(w[second_[j]])) * gain[j];
        }
        return misplaced == 0;
    }

    const ScaleCodes& codes() const { return codes_; }

private:
    static constexpr uint32_t kNone = UINT32_MAX;
    // 1/8192 of full scale: 1.2 mV on the 10 V scale, 49 uV on the 0.4 V one.
    static constexpr int64_t kMaxCalibrationStep = 1024;

    void refreshScale(int s) {
        const int32_t span = codes_.reference[s] - codes_.zero[s];
        const double gain = span != 0 ? reference_[s] * perVolt_[s] / double(span) : 0.0;
        for (uint32_t j : byScale_[s]) {
            zero_[j] = double(codes_.zero[s]);
            gain_[j] = gain;
        }
    }

    ScaleCodes codes_{};
    double reference_[kScaleCount]{};
    double perVolt_[kScaleCount]{};
    uint32_t tableLength_ = 0;
    uint32_t scalesUsed_ = 0;
    bool pairs_ = false;
    std::vector<uint32_t> first_;  // table position of each output's word
    std::vector<uint32_t> second_; // the off word of a resistance pair
    std::vector<uint32_t> byScale_[kScaleCount];
    std::vector<double> zero_;
    std::vector<double> gain_;
};

} // namespace

extern "C" int32_t KM808_ProcessData(KM808_CONTROL* m, const uint32_t* words, double* values, uint32_t* count,
                                     int32_t calibration, int32_t flags) {
    if (!m || !count || (calibration != 1 && calibration != 2) || (flags & ~3))
        return ErrArgument;
    ModuleState st = loadState(m);
    if (!(st.flags & FlagConfigured) || m->LogicalChannelCount < 1 ||
        m->LogicalChannelCount > KM808_MAX_TABLE || st.tableHash != tableHash(m) ||
        st.frameLength != m->FrameLength ||
        st.frameLength != m->LogicalChannelCount + m->CalibrationSlotCount)
        return ErrNotConfigured;
    const uint32_t frameLength = uint32_t(st.frameLength);
    const uint32_t tableLength = uint32_t(m->LogicalChannelCount);
    const bool checked = flags & 1;
    const bool corrected = flags & 2;
    if (*count % frameLength != 0 || (*count > 0 && (!words || !values)))
        return ErrArgument;
    const uint32_t frames = *count / frameLength;
    const bool continuous = corrected && calibration == 2 && frameLength > tableLength;
    Converter conv(m, st, corrected, continuous);
    const size_t perFrame = conv.outputCount();
    for (uint32_t f = 0; f < frames; ++f) {
        const uint32_t* w = words + size_t(f) * frameLength;
        if (frameLength > tableLength && checked) {
            const uint32_t tag = wordTag(w[tableLength]);
            if (tag < kCalibrationTag || tag > kLastCalibrationTag)
                return ErrStructure;
        }
        // The calibration word closes its frame but is the freshest
        // correction, so it applies to the frame it belongs to.
        if (continuous && !conv.track(w[tableLength]) && checked)
            return ErrStructure;
        if (!conv.frame(w, values + size_t(f) * perFrame) && checked)
            return ErrStructure;
    }
    if (continuous) {
        std::memcpy(st.trackZero, conv.codes().zero, sizeof st.trackZero);
        std::memcpy(st.trackReference, conv.codes().reference, sizeof st.trackReference);
        storeState(m, st);
    }
    *count = frames * uint32_t(perFrame);
    return 0;
}
