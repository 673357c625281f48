#pragma once
// The settings landscape of a photograph: its boards and pass lines at every pair of settings,
// THRESHOLD 0 to 245 and BDLINE 0 to the photograph's width, at each STRETCH; and its stability
// ranges, how far either setting can move before the boards change. Both start from one sweep over
// the decoded photograph that gives every row's dark pixels at every threshold, and both run the
// passes' own code on those counts, so they agree with a count at any setting.
//
// Every function here is free of shared state: several photographs can be searched at once on
// different threads.

#include <FreeImage.h>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/passes.h"
#include "engine/preparation.h"

namespace lathmark {

constexpr int kThresholds = kMaxThreshold + 1;

// The most rows a photograph may have for a search: its table takes 2 KB a row.
constexpr int kMaxSearchRows = 16384;

// Dark pixels of every row of a photograph at every threshold 0 to 255, in columns 4 and up
// and in columns 8 and up: all that a count sees of the photograph, at any THRESHOLD.
class ThresholdTable {
  public:
    // Fills `table` from `photograph`; says why not for a photograph too tall to search or a
    // pixel format that cannot be turned into black and white.
    static StepFailure build(FIBITMAP* photograph, ThresholdTable& table);

    int width() const { return width_; }
    int height() const { return height_; }
    // Each row's dark pixels at `threshold` (0 to 255), row 0 being the bottom row.
    const int* fromColumn4(int threshold) const { return at(0, threshold); }
    const int* fromColumn8(int threshold) const { return at(kLevels, threshold); }

  private:
    static constexpr int kLevels = 256;
    const int* at(int first, int threshold) const {
        return counts_.data() +
               static_cast<std::size_t>(first + threshold) * static_cast<std::size_t>(height_);
    }
    int* at(int first, int threshold) {
        return counts_.data() +
               static_cast<std::size_t>(first + threshold) * static_cast<std::size_t>(height_);
    }
    void buildFromGrey(FIBITMAP* photograph);
    StepFailure buildByLibrary(FIBITMAP* photograph);

    int width_ = 0;
    int height_ = 0;
    std::vector<int> counts_;  // [column 4 or 8][threshold][row]
};

// The band at one THRESHOLD and STRETCH and what the passes see of it, or why there is none.
// With STRETCH above 1 it holds the stretched rows' counts itself, so it is moved, not copied.
struct BandAtThreshold {
    BandEdges edges;
    BandCounts counts;
    StepFailure failure;

    BandAtThreshold() = default;
    BandAtThreshold(BandAtThreshold&&) = default;
    BandAtThreshold& operator=(BandAtThreshold&&) = default;

  private:
    friend BandAtThreshold bandAt(const ThresholdTable&, int, int);
    std::array<std::vector<int>, 4> stretched_;
};
BandAtThreshold bandAt(const ThresholdTable& table, int threshold, int stretch = 1);

// The pass lines at one set of settings (THRESHOLD 0 to 245, STRETCH 1 to 4), or nothing where
// the band cannot be counted.
std::optional<PassLines> countAt(const ThresholdTable& table, int threshold, int bdLine,
                                 PassWork& work, int stretch = 1);

inline int boardsOf(const PassLines& lines) {
    return lines[0] + lines[1] + lines[2] + lines[3] + 1;
}

// Runs the passes at `threshold` for every BDLINE from `lowest` to `highest` in turn, and hands
// each BDLINE and its pass lines to `visit`, which returns false to stop the sweep. Nothing is
// visited where the band cannot be counted.
void sweepBdLines(const BandAtThreshold& band, int lowest, int highest,
                  const std::function<bool(int bdLine, const PassLines& lines)>& visit);

// Boards and pass lines at every THRESHOLD 0 to 245 and every BDLINE 0 to bdLineMax.
class Landscape {
  public:
    int bdLineMax() const { return bdLineMax_; }
    // Why nothing can be counted at this THRESHOLD (there is no band), or nothing.
    const StepFailure& failure(int threshold) const {
        return failures_[static_cast<std::size_t>(threshold)];
    }
    bool counted(int threshold) const { return !failure(threshold).has_value(); }
    PassLines passLines(int threshold, int bdLine) const;
    // 0 where nothing is counted.
    int boards(int threshold, int bdLine) const;

  private:
    friend Landscape settingsLandscape(const ThresholdTable& table, int bdLineMax, int stretch);
    std::size_t index(int threshold, int bdLine) const {
        return static_cast<std::size_t>(threshold) * static_cast<std::size_t>(bdLineMax_ + 1) +
               static_cast<std::size_t>(bdLine);
    }
    int bdLineMax_ = 0;
    std::vector<StepFailure> failures_;
    std::vector<std::array<std::uint16_t, kPassCount>> lines_;
};

// The landscape of the photograph in `table`, BDLINE from 0 to bdLineMax, at one STRETCH.
Landscape settingsLandscape(const ThresholdTable& table, int bdLineMax, int stretch = 1);

// The settings around a pair of settings over which the boards stay the same: THRESHOLD with
// BDLINE fixed, and BDLINE with THRESHOLD fixed. Each is searched over THRESHOLD 0 to 245 and
// BDLINE 0 to the photograph's width, widened to take in the settings themselves.
struct StabilityRanges {
    std::array<int, 2> threshold{};
    std::array<int, 2> bdLine{};
    // Whether a range reaches less than 3 grey levels, or less than 10 % of BDLINE (at least
    // 1), to either side; a range that ends where the search does is not short there.
    bool uncertain = false;
};
StabilityRanges stabilityRanges(const ThresholdTable& table, int threshold, int bdLine,
                                int stretch = 1);

}  // namespace lathmark
