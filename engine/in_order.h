#pragma once
// A small pool of workers that take items in order, while the caller reports their outcomes in
// that same order: the batch counter's photographs and the calibration's are both run so.

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace lathmark {

// Runs `work(i)` for every i below `count`, `jobs` at a time, and hands each outcome to `report`
// in the order of i, as soon as it and all before it are done.
template <typename Work, typename Report>
void inOrder(std::size_t count, int jobs, Work work, Report report) {
    using Outcome = decltype(work(std::size_t{0}));
    std::vector<std::optional<Outcome>> outcomes(count);
    std::mutex mutex;
    std::condition_variable done;
    std::atomic<std::size_t> next{0};

    auto worker = [&] {
        for (std::size_t i = next++; i < count; i = next++) {
            Outcome outcome = work(i);
            std::lock_guard lock(mutex);
            outcomes[i] = std::move(outcome);
            done.notify_all();
        }
    };
    const auto workers = static_cast<std::size_t>(std::max(1, jobs));
    std::vector<std::jthread> pool;
    for (std::size_t w = 0; w < std::min(workers, count); ++w) pool.emplace_back(worker);

    for (std::size_t i = 0; i < count; ++i) {
        std::unique_lock lock(mutex);
        done.wait(lock, [&] { return outcomes[i].has_value(); });
        Outcome outcome = std::move(*outcomes[i]);
        outcomes[i].reset();
        lock.unlock();
        report(outcome);
    }
}

}  // namespace lathmark
