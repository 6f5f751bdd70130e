// The built-in set-up: three crates, one without a KM808. Module QR000001/3
// shows every range: DC values on channels 1 to 16 (channel 8 beyond 10 V to
// show saturation, channel 7 with a 50 Hz component) and resistances across
// the three resistance ranges on channels 1 to 8. Small gain and offset
// errors make calibration visible.
#include "emulator_config.h"

namespace qira {

const char* defaultConfigText() {
    return R"json({
  "pace": "realtime",
  "seed": 808,
  "crates": [
    {
      "serial": "QR000001",
      "slots": [
        {"slot": 1, "type": 4660, "name": "PS16", "serial": "PS0000101"},
        {
          "slot": 3, "type": "KM808", "name": "KM808", "serial": "KM0000301", "firmware": 261,
          "gain_error": 0.002, "offset_error_v": 0.0015, "drift_per_s": 1e-6,
          "channels": [
            {"channel": 1, "volts": 0.125, "noise_v": 2e-5, "ohms": 100},
            {"channel": 2, "volts": -0.25, "noise_v": 2e-5, "ohms": 330},
            {"channel": 3, "volts": 1.5, "noise_v": 5e-5, "ohms": 560},
            {"channel": 4, "volts": -1.2, "noise_v": 5e-5, "ohms": 1000},
            {"channel": 5, "volts": 7.5, "noise_v": 2e-4, "ohms": 1500},
            {"channel": 6, "volts": -4.0, "noise_v": 2e-4, "ohms": 2200},
            {"channel": 7, "volts": 0.0, "sine_v": 1.0, "sine_hz": 50, "noise_v": 1e-4, "ohms": 3300},
            {"channel": 8, "volts": 12.5, "noise_v": 1e-4, "ohms": 3900},
            {"channel": 9, "volts": 0.3, "noise_v": 2e-5},
            {"channel": 10, "volts": -0.05, "noise_v": 2e-5},
            {"channel": 11, "volts": 1.8, "noise_v": 1e-3},
            {"channel": 12, "volts": -1.9, "noise_v": 5e-5},
            {"channel": 13, "volts": 5.0, "noise_v": 2e-4},
            {"channel": 14, "volts": -9.0, "noise_v": 2e-4},
            {"channel": 15, "volts": 0.1, "sine_v": 0.05, "sine_hz": 50, "noise_v": 2e-5},
            {"channel": 16, "volts": 2.5, "noise_v": 1e-4}
          ]
        },
        {"slot": 5, "type": 20817, "name": "DO32", "serial": "DO0000501"},
        {
          "slot": 9, "type": "KM808", "name": "KM808", "serial": "KM0000901", "firmware": 262,
          "gain_error": -0.0015, "offset_error_v": -0.001, "drift_per_s": 2e-6,
          "channels": [
            {"channel": 1, "volts": 0.05, "noise_v": 1e-5, "ohms": 47},
            {"channel": 2, "volts": 0.75, "noise_v": 5e-5, "ohms": 820},
            {"channel": 3, "volts": -3.3, "noise_v": 1e-4, "ohms": 2700},
            {"channel": 4, "volts": 9.5, "noise_v": 2e-4, "ohms": 120},
            {"channel": 5, "volts": 0.0, "sine_v": 0.3, "sine_hz": 50, "noise_v": 5e-5},
            {"channel": 6, "volts": -0.35, "noise_v": 1e-5}
          ]
        }
      ]
    },
    {
      "serial": "QR000002",
      "slots": [
        {"slot": 2, "type": 20817, "name": "DO32", "serial": "DO0000201"},
        {"slot": 4, "type": 4660, "name": "PS16", "serial": "PS0000401"}
      ]
    },
    {
      "serial": "QR000003",
      "slots": [
        {
          "slot": 1, "type": "KM808", "name": "KM808", "serial": "KM0000103", "firmware": 261,
          "gain_error": 0.001, "offset_error_v": 0.0005,
          "channels": [
            {"channel": 1, "volts": 1.0, "noise_v": 5e-5, "ohms": 200},
            {"channel": 2, "volts": -1.0, "noise_v": 5e-5, "ohms": 1100},
            {"channel": 3, "volts": 0.2, "noise_v": 1e-5, "ohms": 3700}
          ]
        },
        {"slot": 7, "type": 4660, "name": "PS16", "serial": "PS0000703"}
      ]
    }
  ]
}
)json";
}

} // namespace qira
