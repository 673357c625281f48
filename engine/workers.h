#pragma once
// Threads that wait for work for as long as the program runs, so that handing a piece of a count
// to the other core costs a wake-up rather than a new thread: a new thread costs about 80 µs on
// a virtual machine, a tenth of what a small photograph's count costs beyond its decode.
//
// A task handed over must not wait for another task handed over (it could wait for ever when
// every thread waits so); the counts hand over only work that waits for nothing.

#include <functional>
#include <future>
#include <memory>
#include <type_traits>

namespace lathmark {

namespace detail {
// Queues `work`, which throws nothing, for the next free thread of the workers.
void runAside(std::function<void()> work);
}  // namespace detail

// `work` on another thread; its result, or what it threw, comes through the future. Unlike
// std::async's, the future does not wait for the work when it is dropped: whatever the work
// reads must live until it is done, so it should own it.
template <typename Work>
auto aside(Work work) -> std::future<std::invoke_result_t<Work>> {
    auto task = std::make_shared<std::packaged_task<std::invoke_result_t<Work>()>>(std::move(work));
    auto result = task->get_future();
    detail::runAside([task] { (*task)(); });
    return result;
}

}  // namespace lathmark
