// The two ways a worker reaches the user-interface thread, and the pumping the
// user-interface thread does while it waits for a worker.
#pragma once

#include <functional>

namespace UiThread {

bool IsCurrent();

// Runs step on the user-interface thread and returns once it has run there
// (at once when called on that thread). An exception thrown by the step is
// rethrown in the caller's thread.
void Synchronize(const std::function<void()>& step);

// Processes pending events, then sleeps 50 ms.
void PumpOnce();

// Pumps until done() is true.
void PumpUntil(const std::function<bool()>& done);

} // namespace UiThread
