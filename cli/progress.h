#pragma once
// A progress line for long batches on standard error: photographs (or other steps) done of all,
// done a second and the time left, redrawn in place. It is drawn only where standard error is a
// terminal, and only once the batch has run for more than a second, so short batches and
// everything that reads the output stay as they were; it is erased at the end.

#include <chrono>
#include <cstddef>
#include <string>

namespace lathmark {

class ProgressLine {
  public:
    // `total` photographs; `wanted` false (as for --quiet) draws nothing ever. `unit` names what
    // is counted, as in "37 of 1000 photographs".
    ProgressLine(std::size_t total, bool wanted, std::string unit = "photographs");
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
    // A new stage of the work: `total` of `unit` from none done, timed from now.
    void restart(std::size_t total, std::string unit);
    // The stage turns out longer (or shorter) than was thought: `total` of it in all.
    void resize(std::size_t total) { total_ = total; }

    // "37 of 1000 photographs, 12.3 a second, 1 min 18 s left".
    static std::string text(std::size_t done, std::size_t total, double seconds,
                            const std::string& unit = "photographs");

  private:
    using Clock = std::chrono::steady_clock;
    void draw();

    std::size_t total_;
    std::string unit_;
    std::size_t done_ = 0;
    bool enabled_;
    bool outputIsTerminal_;
    bool shown_ = false;
    Clock::time_point began_;  // of the whole work, for the delay before the line appears
    Clock::time_point start_;  // of the stage, for the rate and the time left
    Clock::time_point drawn_;
};

}  // namespace lathmark
