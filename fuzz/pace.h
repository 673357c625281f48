#pragma once
// The pace of a fuzzing run, minute by minute. libFuzzer's own status lines give the average
// over the whole run so far, and only when something happens; a run that slows down late shows
// it there only faintly. With LATHMARK_FUZZ_PACE=SECONDS set, a target prints every SECONDS
//
//   pace: 600 s, 1234567 executions, 2101 per second in the last 60 s
//
// on standard error. Every target calls countExecution() once per input.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace lathmark::fuzz {

inline void countExecution() {
    using Clock = std::chrono::steady_clock;
    static const long interval = [] {
        const char* text = std::getenv("LATHMARK_FUZZ_PACE");
        return text ? std::atol(text) : 0L;
    }();
    if (interval <= 0) return;
    static const Clock::time_point start = Clock::now();
    static Clock::time_point last = start;
    static std::uint64_t executions = 0;
    static std::uint64_t executionsAtLast = 0;
    ++executions;
    const Clock::time_point now = Clock::now();
    const auto since = std::chrono::duration<double>(now - last).count();
    if (since < static_cast<double>(interval)) return;
    const auto total = std::chrono::duration<double>(now - start).count();
    std::fprintf(stderr, "pace: %.0f s, %llu executions, %.0f per second in the last %.0f s\n",
                 total, static_cast<unsigned long long>(executions),
                 static_cast<double>(executions - executionsAtLast) / since, since);
    last = now;
    executionsAtLast = executions;
}

}  // namespace lathmark::fuzz
