// Runs independent device calls side by side, so that several that do not
// answer cost one time-out together rather than one each.
#pragma once

#include <cstddef>
#include <functional>

// Calls job(0) .. job(count - 1), at most 16 at a time, and returns when all
// have returned. Each job must touch only its own records and results.
void RunConcurrently(size_t count, const std::function<void(size_t)>& job);
