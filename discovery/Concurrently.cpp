#include "discovery/Concurrently.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

void RunConcurrently(size_t count, const std::function<void(size_t)>& job) {
    if (count == 0)
        return;
    std::atomic<size_t> next{0};
    const auto work = [&] {
        for (size_t i = next++; i < count; i = next++)
            job(i);
    };
    std::vector<std::thread> helpers;
    const size_t threads = std::min<size_t>(count, 16);
    try {
        for (size_t t = 1; t < threads; ++t)
            helpers.emplace_back(work);
    } catch (const std::system_error&) {
        // No thread to be had: the ones there are (this one at least) share the jobs.
    }
    work();
    for (std::thread& t : helpers)
        t.join();
}
