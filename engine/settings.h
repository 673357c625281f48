#pragma once
// The settings a count runs with, and what each may be. Every engine function takes them in this
// one form, and the faces, the settings file and the calibration take their limits from here.

#include <optional>
#include <string>

namespace lathmark {

struct Settings {
    // THRESHOLD: the grey level that separates dark from light. The later passes count at
    // THRESHOLD + 10, which must still be a grey level.
    static constexpr int kMinThreshold = 0;
    static constexpr int kMaxThreshold = 245;
    // BDLINE: the dark pixels a row needs to be part of a line. A count takes any value; a
    // settings file holds 16-bit ones.
    static constexpr int kMinBdLine = -32768;
    static constexpr int kMaxBdLine = 32767;
    // STRETCH: the times each photograph row is repeated before counting.
    static constexpr int kMinStretch = 1;
    static constexpr int kMaxStretch = 4;

    int threshold = 0;
    int bdLine = 0;
    int stretch = 1;

    bool operator==(const Settings&) const = default;
};

// Why a value cannot be used, or nothing if it can. A BDLINE is only limited by what a
// settings file holds.
std::optional<std::string> thresholdProblem(int threshold);
std::optional<std::string> stretchProblem(int stretch);
std::optional<std::string> bdLineProblem(int bdLine);

// Why a count cannot run with these settings (THRESHOLD or STRETCH out of range), or nothing.
std::optional<std::string> countingProblem(const Settings& settings);

}  // namespace lathmark
