#pragma once
// The texts and the time the window shows after a count. Free of Qt, so that they can be tested
// on their own.

#include <cstdint>
#include <optional>
#include <string>

#include "engine/counting.h"

namespace lathmark {

// "Detected N obvious lines." for N boards (lines found + 1).
std::string detectionMessage(long long boards);

// The line under the list that says how sure a count is, and whether it says so in the
// warning colour: for a sure count, the stability ranges and the thickness count ("Same count
// from THRESHOLD 107 to 114 and BDLINE 61 to 71; by thickness 20.0 boards"); for an uncertain
// one, "Uncertain: " and why. A photograph whose image the book already holds gets "Already
// counted in this book as NAME" on a line of its own first, NAME the file it was counted as.
// `separator` is the user's decimal separator.
struct CertaintyLine {
    std::string text;
    bool warning = false;
};
CertaintyLine certaintyLine(const CountResult& result,
                            const std::optional<std::string>& alreadyCountedAs,
                            const std::string& separator = ".");

// "Already counted in this book as NAME".
std::string alreadyCountedLine(const std::string& countedAs);

// The standing line while the settings file `file` has a mistake, from the doubt every count
// carries ("the settings file has a mistake: /opt/lathmark/Lathmark.ini:2: ..."), short enough
// for the line: "Every count is uncertain until the settings file is mended: Lathmark.ini:2: ...".
std::string settingsStanding(const std::string& doubt, const std::string& file);

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
