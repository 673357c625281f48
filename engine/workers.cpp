#include "engine/workers.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace lathmark {
namespace {

class Workers {
  public:
    Workers() {
        const unsigned threads = std::max(2u, std::thread::hardware_concurrency());
        for (unsigned i = 0; i < threads; ++i) std::thread([this] { serve(); }).detach();
    }
    void add(std::function<void()> work) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            queue_.push_back(std::move(work));
        }
        ready_.notify_one();
    }

  private:
    [[noreturn]] void serve() {
        for (;;) {
            std::function<void()> work;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                ready_.wait(lock, [this] { return !queue_.empty(); });
                work = std::move(queue_.front());
                queue_.pop_front();
            }
            work();
        }
    }

    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> queue_;
};

}  // namespace

namespace detail {

void runAside(std::function<void()> work) {
    // Made on first use and never destroyed: its threads may still be waiting when the program
    // ends, and nothing at exit must wait for them.
    static Workers* const workers = new Workers;
    workers->add(std::move(work));
}

}  // namespace detail

}  // namespace lathmark
