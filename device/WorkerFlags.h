// The whole surface the window shares with its two workers. Running: the
// worker's thread is inside its body. Gate: no start or stop of that worker is
// in progress on the user-interface thread. MeasurementIdle: no block is being
// acquired. Each is written and read with the default (sequentially
// consistent) order; nothing else crosses threads outside the synchronous
// hand-over of the window steps.
#pragma once

#include <atomic>

struct TWorkerFlags {
    std::atomic<bool> DiscoveryRunning{false};
    std::atomic<bool> DiscoveryGate{true};
    std::atomic<bool> WorkerRunning{false};
    std::atomic<bool> WorkerGate{true};
    std::atomic<bool> MeasurementIdle{true};
};
