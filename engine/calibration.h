#pragma once
// Choosing the settings from photographs of known count. Each photograph's landscape says which
// settings count it right; the choice is the setting that counts the most photographs right,
// among those the one farthest from any setting that counts fewer right, among those the one
// with the smaller STRETCH, and among those the one nearest the current settings.
//
// Distances between settings are measured in the units of the stability warning: 3 grey levels
// of THRESHOLD weigh as much as 10 % of BDLINE (at least 1 BDLINE) at the setting measured
// from, and a setting's distance is the larger of the two. A margin of m thus means that every
// setting within 3 × m grey levels and 10 % × m of BDLINE counts as many photographs right.
// Of settings as near the current ones, the nearer by the sum of both distances wins, then the
// lower THRESHOLD, then the lower BDLINE.

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "engine/landscape.h"

namespace lathmark {

// How many photographs each setting counts right: THRESHOLD 0 to 245, BDLINE 0 to bdLineMax.
class RightCounts {
  public:
    explicit RightCounts(int bdLineMax);

    int bdLineMax() const { return bdLineMax_; }
    int at(int threshold, int bdLine) const { return counts_[index(threshold, bdLine)]; }
    void set(int threshold, int bdLine, int right) {
        counts_[index(threshold, bdLine)] = static_cast<std::uint32_t>(right);
    }
    // Adds one photograph: `right(threshold, bdLine)` says whether a setting counts it right.
    template <typename Right>
    void add(Right right) {
        for (int threshold = 0; threshold < kThresholds; ++threshold)
            for (int bdLine = 0; bdLine <= bdLineMax_; ++bdLine)
                if (right(threshold, bdLine)) ++counts_[index(threshold, bdLine)];
    }

  private:
    std::size_t index(int threshold, int bdLine) const {
        return static_cast<std::size_t>(threshold) * static_cast<std::size_t>(bdLineMax_ + 1) +
               static_cast<std::size_t>(bdLine);
    }
    int bdLineMax_;
    std::vector<std::uint32_t> counts_;
};

struct SettingsChoice {
    int threshold = 0;
    int bdLine = 0;
    int stretch = 1;
    int right = 0;  // photographs it counts right
    // Around it, with the other setting fixed, the settings that count as many right.
    std::array<int, 2> thresholdRange{};
    std::array<int, 2> bdLineRange{};
    // Its distance to the nearest setting that counts fewer right; none if no setting does.
    std::optional<double> margin;
};

// The choice on `counts`; `current` settings break the last ties (and may lie outside the grid).
SettingsChoice chooseSettings(const RightCounts& counts, int currentThreshold, int currentBdLine);

// The choice over one grid per STRETCH, from STRETCH 1 up: the most right at any STRETCH; then
// the widest margin within its STRETCH's grid; then the smaller STRETCH; then the nearest the
// current settings.
SettingsChoice chooseSettings(const std::vector<RightCounts>& byStretch, int currentThreshold,
                              int currentBdLine);

}  // namespace lathmark
