#pragma once
// The settings a count runs with, and what each may be. Every engine function takes them in this
// one form, and the faces, the settings file and the calibration take their limits from here.

#include <optional>
#include <string>
#include <string_view>

namespace lathmark {

// A rectangle of a photograph, as imaging tools give it: its size and its left column and top
// row, in pixels from the photograph's top-left corner.
struct Region {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;

    bool operator==(const Region&) const = default;
    // Whether it lies inside a photograph of this size.
    bool fits(int photographWidth, int photographHeight) const {
        return left + width <= photographWidth && top + height <= photographHeight;
    }
};

// A value as a message quotes it: between double quotes, safe to print (backslash and quote
// escaped, control bytes and bytes above 0x7E as \xNN), and cut at 40 bytes with "..." so that
// a runaway line does not make a runaway message.
std::string quoted(std::string_view text);

// "WxH+X+Y".
std::string regionText(const Region& region);

struct Settings;
// The settings a count is made with, as the journal records them: "THRESHOLD=117 BDLINE=14
// STRETCH=2 REGION=128x768+416+0 THICKNESS=27.63" (REGION=full without a region, THICKNESS=0
// without a second opinion), and " ANGLE=1.5" after it where the joints are not level.
std::string countingSettingsText(const Settings& settings);

// Hundredths as a decimal with at most two decimals and no trailing zeros: 5010 is "50.1".
std::string hundredthsText(long long hundredths);

// A THICKNESS from "50.1" (a dot as separator; digits past the second decimal rounded away,
// halves up), or why the text is none: not a number, negative, above 65535, or a thickness that
// rounds to 0 (which would turn the second opinion off unsaid).
struct ThicknessParsed {
    std::optional<int> hundredths;
    std::string problem;
};
ThicknessParsed parseThickness(std::string_view text);

// A region from "WxH+X+Y" (an x or X between the sizes), or why the text is none: not that
// shape, a size of 0, a negative offset, or a number above 65535.
struct RegionParsed {
    std::optional<Region> region{};
    std::string problem;
};
RegionParsed parseRegion(std::string_view text);

// The REGION that is found in each photograph.
inline constexpr std::string_view kFoundRegionText = "auto";

// ANGLE: the slope of the joints across the photograph, rising to the right when positive, in
// hundredths of a degree; or found in each photograph (`automatic`). Level (0, not automatic)
// counts the rows as they are.
struct Angle {
    int hundredths = 0;
    bool automatic = false;

    bool level() const { return !automatic && hundredths == 0; }
    bool operator==(const Angle&) const = default;
};

// "1.25", "-0.5", "auto".
std::string angleText(const Angle& angle);

// An ANGLE from "1.25" or "-2" (a dot as separator, digits past the second decimal rounded away,
// halves away from 0) or "auto", or why the text is none: not such a number, or steeper than
// the most a count follows.
struct AngleParsed {
    std::optional<Angle> angle;
    std::string problem;
};
AngleParsed parseAngle(std::string_view text);

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
    // REGION: sizes and offsets above this are no pixels of a photograph.
    static constexpr int kMaxRegionNumber = 65535;
    // THICKNESS: the boards' thickness in photograph rows, in hundredths (two decimals kept).
    static constexpr int kMaxThicknessHundredths = 65535 * 100;
    // ANGLE: the steepest slope a count follows, in hundredths of a degree either way.
    static constexpr int kMaxAngleHundredths = 10 * 100;

    int threshold = 0;
    int bdLine = 0;
    int stretch = 1;
    // REGION: the part of each photograph that is counted; none, the whole photograph.
    std::optional<Region> region{};
    // REGION=auto: the part is found in each photograph, where its stack's joints are (no
    // `region` then).
    bool regionFound = false;
    // THICKNESS, in hundredths of a photograph row: 0 means no second opinion.
    int thicknessHundredths = 0;
    // ANGLE: the joints' slope, which the count follows.
    Angle angle{};
    // WATCH: the window keeps its list up to date with the working folder and counts each
    // photograph that arrives in it.
    bool watch = false;

    bool operator==(const Settings&) const = default;
};

// Why a value cannot be used, or nothing if it can. A BDLINE is only limited by what a
// settings file holds.
std::optional<std::string> thresholdProblem(int threshold);
std::optional<std::string> stretchProblem(int stretch);
std::optional<std::string> bdLineProblem(int bdLine);

// Why a count cannot run with these settings (THRESHOLD or STRETCH out of range), or nothing.
std::optional<std::string> countingProblem(const Settings& settings);

// Why `region` cannot be counted in a photograph of this size, or nothing (also nothing for no
// region: the whole photograph).
std::optional<std::string> regionProblem(const std::optional<Region>& region, int photographWidth,
                                         int photographHeight);

}  // namespace lathmark
