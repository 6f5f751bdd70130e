#include "emulator_config.h"

#include "channel_schedule.h"
#include "channel_table.h"
#include "json_value.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <iconv.h>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

namespace qira {
namespace {

constexpr uint16_t kKm808Type = 0x7272;

[[noreturn]] void refuse(int line, const std::string& what) {
    throw JsonError(line, what);
}

bool toWindows1251(const std::string& utf8, std::string& out) {
    out.clear();
    if (utf8.empty())
        return true;
    const iconv_t cd = iconv_open("WINDOWS-1251", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    std::string in = utf8;
    std::string buffer(utf8.size(), '\0'); // never longer than its UTF-8
    char* inPtr = in.data();
    size_t inLeft = in.size();
    char* outPtr = buffer.data();
    size_t outLeft = buffer.size();
    const bool whole = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != size_t(-1) && inLeft == 0;
    iconv_close(cd);
    if (whole)
        out.assign(buffer.data(), buffer.size() - outLeft);
    return whole;
}

// Checks that an object has only known keys and hands out typed members.
class Fields {
public:
    Fields(const JsonValue& v, const char* what, std::set<std::string> known) : v_(v) {
        if (!v.isObject())
            refuse(v.line, std::string(what) + " must be an object");
        for (size_t i = 0; i < v.keys.size(); ++i)
            if (!known.count(v.keys[i]))
                refuse(v.items[i].line, std::string("unknown key \"") + v.keys[i] + "\" in " + what);
    }

    const JsonValue* get(const char* key) const { return v_.find(key); }

    double number(const char* key, double fallback, double lo, double hi) const {
        const JsonValue* x = get(key);
        if (!x)
            return fallback;
        if (x->kind != JsonValue::Kind::Number)
            refuse(x->line, std::string("\"") + key + "\" must be a number");
        if (x->number < lo || x->number > hi) {
            std::ostringstream s;
            s << "\"" << key << "\" must lie between " << lo << " and " << hi;
            refuse(x->line, s.str());
        }
        return x->number;
    }

    int64_t integer(const char* key, int64_t fallback, int64_t lo, int64_t hi) const {
        const double d = number(key, double(fallback), double(lo), double(hi));
        if (get(key) && d != std::floor(d))
            refuse(get(key)->line, std::string("\"") + key + "\" must be a whole number");
        return int64_t(d);
    }

    bool boolean(const char* key) const {
        const JsonValue* x = get(key);
        if (!x)
            return false;
        if (x->kind != JsonValue::Kind::Bool)
            refuse(x->line, std::string("\"") + key + "\" must be true or false");
        return x->boolean;
    }

    std::string text(const char* key, const std::string& fallback, size_t maxLength) const {
        const JsonValue* x = get(key);
        if (!x)
            return fallback;
        if (x->kind != JsonValue::Kind::String)
            refuse(x->line, std::string("\"") + key + "\" must be a string");
        if (x->text.size() > maxLength)
            refuse(x->line, std::string("\"") + key + "\" is longer than " + std::to_string(maxLength) +
                                " characters");
        return x->text;
    }

    // A text the module or crate itself holds: the device speaks
    // Windows-1251, so the file's UTF-8 is converted, and a character that
    // encoding cannot carry is refused rather than sent garbled.
    std::string deviceText(const char* key, const std::string& fallback, size_t maxLength) const {
        const JsonValue* x = get(key);
        const std::string utf8 = text(key, fallback, 4 * maxLength);
        std::string encoded;
        if (!toWindows1251(utf8, encoded))
            refuse(x->line, std::string("\"") + key + "\" holds a character Windows-1251 cannot carry");
        if (encoded.size() > maxLength)
            refuse(x->line, std::string("\"") + key + "\" is longer than " + std::to_string(maxLength) +
                                " characters");
        return encoded;
    }

    const JsonValue& array(const char* key, int line) const {
        const JsonValue* x = get(key);
        if (!x)
            refuse(line, std::string("missing \"") + key + "\"");
        if (!x->isArray())
            refuse(x->line, std::string("\"") + key + "\" must be an array");
        return *x;
    }

private:
    const JsonValue& v_;
};

const char* const kCallNames[] = {"Open",      "Close",  "GetCrates", "GetCrateModules",
                                  "GetConfig", "SetADC", "Calibrate", "Start",
                                  "Recv",      "Stop"};

ReplyFaults replyFaults(const Fields& f) {
    ReplyFaults r;
    r.trickleBytesPerS = f.integer("trickle_bytes_per_s", 0, 0, int64_t(1) << 40);
    if (const JsonValue* calls = f.get("trickle_calls")) {
        if (!calls->isArray())
            refuse(calls->line, "\"trickle_calls\" must be an array of call names");
        for (const JsonValue& c : calls->items) {
            if (c.kind != JsonValue::Kind::String ||
                std::find(std::begin(kCallNames), std::end(kCallNames), c.text) == std::end(kCallNames))
                refuse(c.line, "\"trickle_calls\" must be an array of call names");
            r.trickleCalls.insert(c.text);
        }
    }
    if (const JsonValue* calls = f.get("stall_calls")) {
        Fields c(*calls, "stall_calls", std::set<std::string>(std::begin(kCallNames), std::end(kCallNames)));
        for (const char* name : kCallNames)
            if (c.get(name))
                r.stallMs[name] = c.integer(name, 0, 0, 3600000);
    }
    return r;
}

ModuleFaults moduleFaults(const JsonValue& v) {
    Fields f(v, "faults",
             {"open", "getconfig", "setadc", "calibrate", "start", "stop", "stall_after_words", "stall_ms",
              "drop_after_words", "corrupt_after_words", "flat_calibration", "zero_calibration_words",
              "trickle_bytes_per_s", "trickle_calls", "stall_calls"});
    ModuleFaults m;
    m.open = f.boolean("open");
    m.getconfig = f.boolean("getconfig");
    m.setadc = f.boolean("setadc");
    m.calibrate = f.boolean("calibrate");
    m.start = f.boolean("start");
    m.stop = f.boolean("stop");
    constexpr int64_t kMaxWords = int64_t(1) << 50;
    m.stallAfterWords = f.integer("stall_after_words", -1, 0, kMaxWords);
    m.stallMs = f.integer("stall_ms", 0, 0, 3600000);
    m.dropAfterWords = f.integer("drop_after_words", -1, 0, kMaxWords);
    m.corruptAfterWords = f.integer("corrupt_after_words", -1, 0, kMaxWords);
    m.flatCalibration = f.boolean("flat_calibration");
    m.zeroCalibrationWords = f.boolean("zero_calibration_words");
    m.replies = replyFaults(f);
    return m;
}

ChannelChange change(const JsonValue& v) {
    Fields f(v, "a change", {"at_s", "step_to", "ramp_to", "over_s", "spike_to", "noise_v"});
    if (!f.get("at_s"))
        refuse(v.line, "a change needs \"at_s\" (seconds since the module was opened)");
    ChannelChange c;
    c.atS = f.number("at_s", 0, 0, 1e9);
    int kinds = 0;
    const std::pair<const char*, ChannelChange::Kind> named[] = {{"step_to", ChannelChange::Kind::Step},
                                                                 {"ramp_to", ChannelChange::Kind::Ramp},
                                                                 {"spike_to", ChannelChange::Kind::Spike},
                                                                 {"noise_v", ChannelChange::Kind::Noise}};
    for (const auto& [key, kind] : named) {
        if (!f.get(key))
            continue;
        ++kinds;
        c.kind = kind;
        c.value =
            kind == ChannelChange::Kind::Noise ? f.number(key, 0, 0, 100) : f.number(key, 0, -1000, 1000);
    }
    if (kinds != 1)
        refuse(v.line, "a change needs one of \"step_to\", \"ramp_to\", \"spike_to\", \"noise_v\"");
    if ((c.kind == ChannelChange::Kind::Ramp) != (f.get("over_s") != nullptr))
        refuse(v.line, "\"over_s\" goes with \"ramp_to\" and only with it");
    if (c.kind == ChannelChange::Kind::Ramp) {
        c.overS = f.number("over_s", 0, 0, 1e9);
        if (!(c.overS > 0))
            refuse(f.get("over_s")->line, "\"over_s\" must be above 0");
    }
    return c;
}

void channel(const JsonValue& v, SlotConfig& slot, std::set<int>& seen) {
    Fields f(v, "a channel", {"channel", "volts", "noise_v", "sine_v", "sine_hz", "ohms", "changes"});
    if (!f.get("channel"))
        refuse(v.line, "a channel needs \"channel\" (1 to 16)");
    const int n = int(f.integer("channel", 0, 1, 16));
    if (!seen.insert(n).second)
        refuse(v.line, "channel " + std::to_string(n) + " is listed twice");
    ChannelConfig& c = slot.channels[n - 1];
    c.volts = f.number("volts", 0, -1000, 1000);
    c.noiseV = f.number("noise_v", 0, 0, 100);
    c.sineV = f.number("sine_v", 0, -1000, 1000);
    c.sineHz = f.number("sine_hz", 0, 0, 1e6);
    c.hasOhms = f.get("ohms") != nullptr;
    c.ohms = f.number("ohms", 0, 0, 1e9);
    if (f.get("changes")) {
        for (const JsonValue& x : f.array("changes", v.line).items)
            c.changes.push_back(change(x));
        prepareSchedule(c);
    }
}

SlotConfig slot(const JsonValue& v, const std::string& crate, std::set<int>& seen) {
    Fields f(v, "a slot",
             {"slot", "type", "name", "serial", "firmware", "coefs", "gain_error", "offset_error_v",
              "drift_per_s", "channels", "faults"});
    SlotConfig s;
    if (!f.get("slot"))
        refuse(v.line, "a slot needs \"slot\" (1 to 16)");
    s.slot = int(f.integer("slot", 0, 1, 16));
    if (!seen.insert(s.slot).second)
        refuse(v.line, "slot " + std::to_string(s.slot) + " of crate " + crate + " is listed twice");
    const JsonValue* type = f.get("type");
    if (!type)
        refuse(v.line, "a slot needs \"type\" (\"KM808\" or a type code)");
    if (type->kind == JsonValue::Kind::String) {
        if (type->text != "KM808")
            refuse(type->line, "\"type\" must be \"KM808\" or an integer type code");
        s.type = kKm808Type;
    } else {
        s.type = uint16_t(f.integer("type", 0, 1, 0xFFFF));
    }
    char serial[16];
    snprintf(serial, sizeof serial, "KM%05d%02d", int(s.slot), 1);
    s.name = f.deviceText("name", s.type == kKm808Type ? "KM808" : "", 7);
    s.serial = f.deviceText("serial", s.type == kKm808Type ? serial : "", 15);
    s.firmware = uint16_t(f.integer("firmware", 0x0105, 0, 0xFFFF));
    std::memcpy(s.coefs, kDefaultCoefs, sizeof s.coefs);
    if (const JsonValue* coefs = f.get("coefs")) {
        if (!coefs->isArray() || coefs->items.size() != 9)
            refuse(coefs->line, "\"coefs\" must be an array of 9 numbers");
        for (size_t i = 0; i < 9; ++i) {
            if (coefs->items[i].kind != JsonValue::Kind::Number)
                refuse(coefs->items[i].line, "\"coefs\" must be an array of 9 numbers");
            s.coefs[i] = float(coefs->items[i].number);
        }
        if (!coefsValid(s.coefs))
            refuse(coefs->line,
                   "\"coefs\": references must lie inside their full scale (10, 2, 0.4 V; 0.5, 1.5, "
                   "1.25 V) and currents must be positive");
    }
    s.gainError = f.number("gain_error", 0, -0.1, 0.1);
    s.offsetErrorV = f.number("offset_error_v", 0, -1, 1);
    s.driftPerS = f.number("drift_per_s", 0, -1, 1);
    if (f.get("channels")) {
        std::set<int> channels;
        for (const JsonValue& c : f.array("channels", v.line).items)
            channel(c, s, channels);
    }
    if (const JsonValue* faults = f.get("faults"))
        s.faults = moduleFaults(*faults);
    return s;
}

EmulatorConfig build(const JsonValue& root) {
    Fields f(root, "the configuration",
             {"pace", "seed", "idle_timeout_ms", "max_clients", "faults", "crates"});
    EmulatorConfig c;
    const std::string pace = f.text("pace", "realtime", 16);
    if (pace != "realtime" && pace != "fast")
        refuse(f.get("pace")->line, "\"pace\" must be \"realtime\" or \"fast\"");
    c.fast = pace == "fast";
    c.seed = uint64_t(f.integer("seed", 1, 0, int64_t(1) << 53));
    c.idleTimeoutMs = f.integer("idle_timeout_ms", 10000, 1, 86400000);
    c.maxClients = int(f.integer("max_clients", 256, 1, 4096));
    if (const JsonValue* faults = f.get("faults"))
        c.replies =
            replyFaults(Fields(*faults, "faults", {"trickle_bytes_per_s", "trickle_calls", "stall_calls"}));
    std::set<std::string> serials;
    for (const JsonValue& cv : f.array("crates", root.line).items) {
        Fields cf(cv, "a crate", {"serial", "faults", "slots"});
        CrateConfig crate;
        crate.serial = cf.deviceText("serial", "", 15);
        if (crate.serial.empty())
            refuse(cv.line, "a crate needs a non-empty \"serial\" of at most 15 characters");
        if (!serials.insert(crate.serial).second)
            refuse(cv.line, "crate " + crate.serial + " is listed twice");
        if (const JsonValue* faults = cf.get("faults")) {
            Fields ff(*faults, "crate faults",
                      {"modules", "trickle_bytes_per_s", "trickle_calls", "stall_calls"});
            crate.failModules = ff.boolean("modules");
            crate.replies = replyFaults(ff);
        }
        if (cf.get("slots")) {
            std::set<int> seen;
            for (const JsonValue& sv : cf.array("slots", cv.line).items)
                crate.slots.push_back(slot(sv, crate.serial, seen));
        }
        c.crates.push_back(std::move(crate));
    }
    return c;
}

} // namespace

EmulatorConfig parseConfig(const std::string& text, const std::string& name) {
    try {
        return build(JsonValue::parse(text));
    } catch (const JsonError& e) {
        throw ConfigError(name + ":" + std::to_string(e.line()) + ": " + e.what());
    }
}

EmulatorConfig loadConfigFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw ConfigError(path + ":0: cannot open the file");
    std::ostringstream s;
    s << in.rdbuf();
    if (in.bad())
        throw ConfigError(path + ":0: cannot read the file");
    return parseConfig(s.str(), path);
}

EmulatorConfig defaultConfig() {
    return parseConfig(defaultConfigText(), "built-in configuration");
}

} // namespace qira
