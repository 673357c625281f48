#pragma once
// The end of a count: the result image drawn from the pass profiles, written as a BMP, and the
// texts and time the operator sees.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "engine/counting_state.h"

namespace lathmark {

// Redraws the band bitmap of the last pass as the result image: every row black across its
// width where any pass found a line row, white everywhere else.
void drawResultImage(CountingState& state);

// Writes a bitmap as an uncompressed BMP. Returns why it failed, if it did. An existing regular
// file of that name with no other name is written over in place; anything else (no file, a
// symbolic link, a file with other names) is replaced by a new file. A pipe, device or folder of
// that name is refused.
std::optional<std::string> writeBmp(FIBITMAP* dib, const std::filesystem::path& file);

// "Detected N obvious lines." for N boards (lines found + 1).
std::string detectionMessage(long long boards);

// Milliseconds between two readings of a 32-bit millisecond counter, right across a wrap.
constexpr std::uint32_t elapsedMilliseconds(std::uint32_t start, std::uint32_t end) {
    return end - start;
}

// Seconds rounded to two decimals (halves up) in their shortest form: 1500 ms gives "1.5",
// 250 "0.25", 2000 "2", 3 "0". `separator` is the user's decimal separator.
std::string secondsText(std::uint32_t milliseconds, const std::string& separator = ".");

// "Process Time: T sec."
std::string processTimeCaption(std::uint32_t milliseconds, const std::string& separator = ".");

// A monotonic millisecond counter, as an unsigned 32-bit value that wraps.
std::uint32_t tickCount();

}  // namespace lathmark
