#include "cli/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <utility>

namespace lathmark {
namespace {

// The line appears after this long, and is redrawn at most this often.
constexpr std::chrono::milliseconds kDelay{1000};
constexpr std::chrono::milliseconds kRedraw{100};

// Back to the start of the line and erase it.
constexpr const char* kErase = "\r\x1b[K";

std::string duration(double seconds) {
    const long long s = std::llround(seconds);
    char text[48];
    if (s < 60)
        std::snprintf(text, sizeof text, "%lld s", s);
    else if (s < 3600)
        std::snprintf(text, sizeof text, "%lld min %02lld s", s / 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%lld h %02lld min", s / 3600, s / 60 % 60);
    return text;
}

// Columns of the terminal on standard error, or 0 if it does not say.
int terminalColumns() {
    struct winsize size {};
    return ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

void put(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

}  // namespace

ProgressLine::ProgressLine(std::size_t total, bool wanted, std::string unit)
    : total_(total),
      unit_(std::move(unit)),
      enabled_(wanted && ::isatty(STDERR_FILENO) == 1),
      outputIsTerminal_(::isatty(STDOUT_FILENO) == 1),
      began_(Clock::now()),
      start_(began_) {}

ProgressLine::~ProgressLine() {
    finish();
}

std::string ProgressLine::text(std::size_t done, std::size_t total, double seconds,
                               const std::string& unit) {
    std::string line = std::to_string(done) + " of " + std::to_string(total) + " " + unit;
    if (done == 0 || seconds <= 0) return line;
    const double rate = static_cast<double>(done) / seconds;
    char rateText[32];
    std::snprintf(rateText, sizeof rateText, rate < 100 ? "%.1f" : "%.0f", rate);
    line += std::string(", ") + rateText + " a second";
    if (done < total) line += ", " + duration(static_cast<double>(total - done) / rate) + " left";
    return line;
}

void ProgressLine::hide(bool onStandardError) {
    if (!shown_ || !(onStandardError || outputIsTerminal_)) return;
    put(kErase);
    shown_ = false;
}

void ProgressLine::advance() {
    ++done_;
    if (!enabled_ || done_ >= total_) return;
    const Clock::time_point now = Clock::now();
    if (now - began_ <= kDelay) return;
    if (shown_ && now - drawn_ < kRedraw) return;
    drawn_ = now;
    draw();
}

void ProgressLine::restart(std::size_t total, std::string unit) {
    total_ = total;
    unit_ = std::move(unit);
    done_ = 0;
    start_ = Clock::now();
}

void ProgressLine::finish() {
    hide(true);
    enabled_ = false;
}

void ProgressLine::draw() {
    const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    std::string line = "lathmark-count: " + text(done_, total_, seconds, unit_);
    // A line wider than the terminal would wrap, and the next redraw could not reach its start.
    const int columns = terminalColumns();
    if (columns > 1 && line.size() >= static_cast<std::size_t>(columns))
        line.resize(static_cast<std::size_t>(columns - 1));
    put(std::string(kErase) + line);
    shown_ = true;
}

}  // namespace lathmark
