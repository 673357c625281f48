#pragma once
// A progress line for long batches on standard error: photographs done of all, photographs a
// second and the time left, redrawn in place. It is drawn only where standard error is a
// terminal, and only once the batch has run for more than a second, so short batches and
// everything that reads the output stay as they were; it is erased at the end.

#include <chrono>
#include <cstddef>
#include <string>

namespace lathmark {

class ProgressLine {
  public:
    // `total` photographs; `wanted` false (as for --quiet) draws nothing ever.
    ProgressLine(std::size_t total, bool wanted);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // Takes the line off the terminal before anything else is written to it: before a message
    // on standard error (`onStandardError`), or any output where standard output is a terminal.
    void hide(bool onStandardError);
    // One more photograph is done: draws the line where it is due.
    void advance();
    // Erases the line for good.
    void finish();

    // "37 of 1000 photographs, 12.3 a second, 1 min 18 s left".
    static std::string text(std::size_t done, std::size_t total, double seconds);

  private:
    using Clock = std::chrono::steady_clock;
    void draw();

    std::size_t total_;
    std::size_t done_ = 0;
    bool enabled_;
    bool outputIsTerminal_;
    bool shown_ = false;
    Clock::time_point start_;
    Clock::time_point drawn_;
};

}  // namespace lathmark
