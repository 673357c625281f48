#pragma once
// Template part of batch.h: a small pool of workers that take photographs in order, while the
// caller reports outcomes in that same order.

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace lathmark {

template <typename Report>
void countAll(const std::vector<std::string>& files, const BatchOptions& options, Report report) {
    std::vector<std::optional<PhotographOutcome>> outcomes(files.size());
    std::mutex mutex;
    std::condition_variable done;
    std::atomic<std::size_t> next{0};

    auto work = [&] {
        for (std::size_t i = next++; i < files.size(); i = next++) {
            PhotographOutcome outcome = countOne(files[i], options);
            std::lock_guard lock(mutex);
            outcomes[i] = std::move(outcome);
            done.notify_all();
        }
    };
    const auto workers = static_cast<std::size_t>(std::max(1, options.jobs));
    std::vector<std::jthread> pool;
    for (std::size_t w = 0; w < std::min(workers, files.size()); ++w) pool.emplace_back(work);

    for (std::size_t i = 0; i < files.size(); ++i) {
        std::unique_lock lock(mutex);
        done.wait(lock, [&] { return outcomes[i].has_value(); });
        PhotographOutcome outcome = std::move(*outcomes[i]);
        outcomes[i].reset();
        lock.unlock();
        report(outcome);
    }
}

}  // namespace lathmark
