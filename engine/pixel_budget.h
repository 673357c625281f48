#pragma once
// The pixels that the photographs counted at once may take together. Each photograph's pixels
// are known from its frame header before it is decoded; a photograph whose pixels would take the
// budget past its limit waits, before its picture is made, until the photographs ahead of it
// have given theirs back, so that counting several photographs at once (--jobs) takes about as
// much memory for pixels as the largest photograph alone. A photograph is never refused here:
// alone, it may take more than the limit (the decoder refuses those over kMaxPhotographPixels).

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace lathmark {

class PixelBudget {
  public:
    explicit PixelBudget(std::uint64_t pixels);
    PixelBudget(const PixelBudget&) = delete;
    PixelBudget& operator=(const PixelBudget&) = delete;

    // One photograph's part of a budget, given back when it goes. Photographs are let in in the
    // order they asked.
    class Share {
      public:
        // A share of `budget`; with none, take() never waits.
        explicit Share(PixelBudget* budget) : budget_(budget) {}
        ~Share() { giveBack(); }
        Share(const Share&) = delete;
        Share& operator=(const Share&) = delete;

        // Takes a picture of `width` x `height` pixels: waits until the budget has room for it,
        // or nothing else is taken. A share that holds pixels already takes more at once.
        void take(int width, int height);
        void giveBack();

      private:
        PixelBudget* budget_;
        std::uint64_t held_ = 0;
    };

  private:
    const std::uint64_t limit_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t taken_ = 0;
    std::uint64_t nextTicket_ = 0;  // the turn of the next share to ask
    std::uint64_t serving_ = 0;     // the turn of the share let in next
};

}  // namespace lathmark
