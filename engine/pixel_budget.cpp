#include "engine/pixel_budget.h"

#include <algorithm>

namespace lathmark {

PixelBudget::PixelBudget(std::uint64_t pixels) : limit_(pixels) {}

void PixelBudget::Share::take(int width, int height) {
    if (budget_ == nullptr) return;
    const std::uint64_t pixels = static_cast<std::uint64_t>(std::max(width, 0)) *
                                 static_cast<std::uint64_t>(std::max(height, 0));
    PixelBudget& budget = *budget_;
    std::unique_lock lock(budget.mutex_);
    if (held_ > 0) {
        // Never waits while it holds pixels: a share ahead of it may be waiting for them.
        if (pixels > held_) {
            budget.taken_ += pixels - held_;
            held_ = pixels;
        }
        return;
    }
    const std::uint64_t turn = budget.nextTicket_++;
    budget.changed_.wait(lock, [&] {
        return budget.serving_ == turn &&
               (budget.taken_ == 0 || budget.taken_ + pixels <= budget.limit_);
    });
    ++budget.serving_;
    budget.taken_ += pixels;
    held_ = pixels;
    budget.changed_.notify_all();
}

void PixelBudget::Share::giveBack() {
    if (budget_ == nullptr || held_ == 0) return;
    {
        std::lock_guard lock(budget_->mutex_);
        budget_->taken_ -= held_;
        held_ = 0;
    }
    budget_->changed_.notify_all();
}

}  // namespace lathmark
