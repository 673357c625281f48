#pragma once
// Timing helpers shared by the benchmarks that time two things alternately and compare their
// medians.

#include <time.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace lathmark::bench {

using Clock = std::chrono::steady_clock;

inline double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Processor time of the calling thread, in milliseconds. On a machine that other work keeps
// busy, a step's processor time changes less from run to run than its elapsed time.
inline double threadCpuMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

inline double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Elapsed and processor time of repeated runs of one thing.
struct Samples {
    std::vector<double> elapsedMs;
    std::vector<double> cpuMs;

    // Runs `work` once, keeps its times and gives back what it returned.
    template <typename Work>
    auto time(Work&& work) {
        const auto start = Clock::now();
        const double startCpu = threadCpuMilliseconds();
        auto result = work();
        cpuMs.push_back(threadCpuMilliseconds() - startCpu);
        elapsedMs.push_back(millisecondsSince(start));
        return result;
    }

    double medianMs() const { return median(elapsedMs); }
    double medianCpuMs() const { return median(cpuMs); }
};

// a / b, or 0 when b is 0.
inline double ratio(double a, double b) {
    return b > 0 ? a / b : 0;
}

}  // namespace lathmark::bench
